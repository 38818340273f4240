#include "shell/data_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

void Touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  WriteTestFile(file.string(), {'x'});
}

TEST(DataFolder, BesideTheProgramThenTheInstalledShareFolder) {
  fs::path root = fs::path(ScratchDir()) / "data-folder";
  // A build tree: the help page beside the program wins.
  Touch(root / "build" / "duoramic.html");
  Touch(root / "build" / "share" / "duoramic" / "duoramic.html");
  EXPECT_EQ(DataFolder((root / "build").string()), (root / "build").string());
  // An installed tree: PREFIX/bin finds PREFIX/share/duoramic.
  Touch(root / "usr" / "bin" / "duoramic");
  Touch(root / "usr" / "share" / "duoramic" / "duoramic.html");
  EXPECT_EQ(DataFolder((root / "usr" / "bin").string()),
            (root / "usr" / "share" / "duoramic").string());
  // Neither: the program's folder, where the viewer always looked.
  fs::create_directories(root / "bare");
  EXPECT_EQ(DataFolder((root / "bare").string()), (root / "bare").string());
}

}  // namespace

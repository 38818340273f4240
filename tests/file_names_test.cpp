#include "image/file_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/viewer_state.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kEveryEnding = {
    "jpg", "jpeg", "jps", "gif", "bmp", "png", "pns", "tif", "tiff", "mpo",
    "avi", "qt",   "mov", "mpg", "mpeg", "m1v", "wmv", "mp4", "mts"};

// Which endings each kind accepts, written out independently of the code.
const std::map<int, std::set<std::string>> kKindEndings = {
    {1, {"jpg", "jpeg", "jps", "gif", "bmp", "png", "pns", "tif", "tiff"}},
    {2, {"avi", "qt", "mov", "mpg", "mpeg", "m1v", "wmv", "mp4", "mts"}},
    {3, {"mpo", "avi"}},
    {4, {"mpo"}},
    {5, {"jpg", "jpeg", "jps"}},
    {6, {"jpg", "mp4"}},
    {0, {"jpg", "jpeg", "jps", "gif", "bmp", "png", "pns", "tif", "tiff",
         "avi", "qt", "mov", "mpg", "mpeg", "m1v", "wmv", "mp4", "mts"}},
    {7, {"jpg", "jpeg", "jps", "gif", "bmp", "png", "pns", "tif", "tiff",
         "avi", "qt", "mov", "mpg", "mpeg", "m1v", "wmv", "mp4", "mts"}},
};

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), ::toupper);
  return s;
}

TEST(FileKind, EveryKindAcceptsExactlyItsEndingsInAnyCase) {
  for (const auto& [kind, endings] : kKindEndings)
    for (const std::string& ending : kEveryEnding) {
      int want = endings.count(ending) ? 1 : 0;
      for (const std::string& name :
           {"scene." + ending, "SCENE." + Upper(ending), "/a/b/Scene." + ending,
            "C:\\pics\\x." + Upper(ending)})
        EXPECT_EQ(FileKindMatches(name, kind), want) << name << " kind " << kind;
    }
}

TEST(FileKind, OnlyTheEndOfAVisibleFileNameCounts) {
  EXPECT_EQ(FileKindMatches("photojpg", StillKind), 1);   // no dot needed
  EXPECT_EQ(FileKindMatches("pg", StillKind), 0);         // shorter than JPG
  EXPECT_EQ(FileKindMatches("", AllKinds), 0);
  EXPECT_EQ(FileKindMatches("a.jpg.txt", StillKind), 0);
  EXPECT_EQ(FileKindMatches("a.jpg/notes", StillKind), 0);
  EXPECT_EQ(FileKindMatches("scene.mpo", AllKinds), 0);
  // Hidden files and resource forks never match; a dot-folder hides nothing.
  EXPECT_EQ(FileKindMatches("._scene.jpg", StillKind), 0);
  EXPECT_EQ(FileKindMatches("d:\\photos\\._scene.jpg", StillKind), 0);
  EXPECT_EQ(FileKindMatches("/photos/.scene.jpg", AllKinds), 0);
  EXPECT_EQ(FileKindMatches("/home/u/.cache/scene.jpg", StillKind), 1);
}

TEST(PathParts, BothSeparatorsSplitAtTheLastOne) {
  EXPECT_EQ(FolderOf("/photos/2024/a.jpg"), "/photos/2024/");
  EXPECT_EQ(FileNameOf("/photos/2024/a.jpg"), "a.jpg");
  EXPECT_EQ(FolderOf("C:\\photos\\a.jpg"), "C:\\photos\\");
  EXPECT_EQ(FileNameOf("sub/dir\\a.jpg"), "a.jpg");
  EXPECT_EQ(FolderOf("sub\\dir/a.jpg"), "sub\\dir/");
  EXPECT_EQ(FolderOf("/photos/"), "/photos/");
  EXPECT_EQ(FileNameOf("/photos/"), "");
  // A bare name lies in the current folder.
  EXPECT_EQ(FolderOf("a.jpg"), "");
  EXPECT_EQ(FileNameOf("a.jpg"), "a.jpg");
  // Multi-byte characters pass through whole.
  EXPECT_EQ(FolderOf("/写真/ペア/表.jpg"), "/写真/ペア/");
  EXPECT_EQ(FileNameOf("/写真/ペア/表.jpg"), "表.jpg");
}

TEST(PartnerName, SwapsTheLetterBeforeTheFileNamesLastDot) {
  struct Case {
    const char* name;
    int ok;
    const char* partner;
  } cases[] = {
      {"IMG_0012L.JPG", 1, "IMG_0012R.JPG"},
      {"pairR.jpg", 1, "pairL.jpg"},
      {"photo_l.jps", 1, "photo_r.jps"},
      {"/pics/photo_r.jps", 1, "/pics/photo_l.jps"},
      {"a.b.L.jpg", 1, "a.b.R.jpg"},
      {"IMG_0012.JPG", 0, "IMG_0012.JPG"},
      {"left.JPG", 0, "left.JPG"},
      {".L", 0, ".L"},
      {"/pics/.L", 0, "/pics/.L"},
      {"sceneL.", 0, "sceneL."},
      {"sceneL", 0, "sceneL"},
      // The dot of a folder is no extension.
      {"/pair.R/img", 0, "/pair.R/img"},
      {"/shots/L/img", 0, "/shots/L/img"},
      {"写真L.jpg", 1, "写真R.jpg"},
  };
  for (const Case& c : cases) {
    std::string partner = "stale";
    EXPECT_EQ(PartnerName(c.name, partner), c.ok) << c.name;
    EXPECT_EQ(partner, c.partner) << c.name;
  }
}

// A fresh folder under the test's scratch folder.
std::string MakeFolder(const std::string& name) {
  fs::path dir = fs::path(ScratchDir()) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string() + "/";
}

void Touch(const std::string& path, size_t bytes = 1) {
  std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

TEST(FolderList, KeepsNonEmptyFilesOfTheKindSortedWithoutCase) {
  std::string dir = MakeFolder("list");
  std::string longName = std::string(200, 'x') + ".jpg";
  for (const char* name : {"b.jpg", "A.JPG", "c.png", "Ä.jpg", "a_1.jpg",
                           "notes.txt", ".hidden.jpg", "clip.mp4"})
    Touch(dir + name);
  Touch(dir + longName);
  Touch(dir + "empty.jpg", 0);
  fs::create_directory(dir + "folder.jpg");
  fs::create_symlink(dir + "b.jpg", dir + "link.jpg");
  fs::create_symlink(dir + "gone.jpg", dir + "dangling.jpg");

  FolderListing listing = ListFolderFiles(dir + "b.jpg", StillKind);
  // Case is ignored, "." sorts before "_", non-ASCII after ASCII.
  std::vector<std::string> want = {"A.JPG", "a_1.jpg", "b.jpg", "c.png",
                                   "link.jpg", longName, "Ä.jpg"};
  EXPECT_EQ(listing.names, want);
  EXPECT_EQ(listing.index, 2);
  EXPECT_EQ(CountFolderFiles(dir + "anything", StillKind), 7);
  EXPECT_EQ(CountFolderFiles(dir + "anything", MovieKind), 1);

  EXPECT_EQ(ListFolderFiles(dir + "missing.jpg", StillKind).index, 0);
  EXPECT_EQ(ListFolderFiles(dir + "C.PNG", StillKind).index, 3);
  EXPECT_EQ(ListFolderFiles(dir + "a.jpg", StillKind).index, 0);
  EXPECT_TRUE(ListFolderFiles(dir + "nowhere/x.jpg", StillKind).names.empty());

  // Names equal but for case keep a fixed order; the exact one is found.
  Touch(dir + "a.jpg");
  listing = ListFolderFiles(dir + "a.jpg", StillKind);
  EXPECT_EQ(listing.names[0], "A.JPG");
  EXPECT_EQ(listing.names[1], "a.jpg");
  EXPECT_EQ(listing.index, 1);
}

TEST(FolderList, AFullFolderKeepsTheFirstFiveThousandInListOrder) {
  std::string dir = MakeFolder("full");
  const int files = kFolderListLimit + 3;
  std::vector<std::string> all;
  for (int i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%05d.jpg", i % 2 ? "P" : "p", i);
    all.push_back(name);
    Touch(dir + name);
  }
  std::sort(all.begin(), all.end(), FolderNameLess);
  FolderListing listing = ListFolderFiles(dir + all[10], StillKind);
  ASSERT_EQ(listing.names.size(), size_t(kFolderListLimit));
  EXPECT_TRUE(std::equal(listing.names.begin(), listing.names.end(), all.begin()));
  EXPECT_EQ(listing.index, 10);
  EXPECT_EQ(ListFolderFiles(dir + all.back(), StillKind).index, 0);
  EXPECT_EQ(CountFolderFiles(dir, StillKind), kFolderListLimit);
}

TEST(FolderList, ListFolderFillsTheChosenSideOfTheViewer) {
  std::string dir = MakeFolder("sides");
  for (const char* name : {"x_L.jpg", "x_R.jpg", "y_L.jpg"}) Touch(dir + name);
  EXPECT_EQ(ListFolder(dir + "x_R.jpg", StillKind, LeftList), 1);
  EXPECT_EQ(Viewer.ItemCount, 3);
  EXPECT_EQ(Viewer.ItemIndex, 1);
  EXPECT_EQ(Viewer.LeftFolder, dir);
  EXPECT_EQ(ListFolder(dir + "y_L.jpg", StillKind, RightList), 1);
  EXPECT_EQ(Viewer.RightCount, 3);
  EXPECT_EQ(Viewer.RightIndex, 2);
  EXPECT_EQ(Viewer.RightFolderList, Viewer.LeftFolderList);
  EXPECT_EQ(Viewer.ItemIndex, 1);  // the left list is left alone
}

}  // namespace

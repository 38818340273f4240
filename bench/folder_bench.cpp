// Folder listing as browsing does it on every open: a folder of 5000
// pictures (the most a list holds), names in mixed case so the sort has
// work to do, listed for the still kind.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/file_names.h"

namespace {

namespace fs = std::filesystem;

// The folder is made once per run and removed when the program ends.
class PictureFolder {
 public:
  explicit PictureFolder(int files) {
    dir_ = fs::temp_directory_path() /
           ("duoramic-folder-bench-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    for (int i = 0; i < files; ++i) {
      char name[32];
      // Shuffled numbering: directory order is not name order.
      std::snprintf(name, sizeof name, "%s_%05d.%s", i % 3 ? "img" : "IMG",
                    (i * 7919) % files, i % 2 ? "jpg" : "JPG");
      std::ofstream(dir_ / name, std::ios::binary) << "x";
    }
  }
  ~PictureFolder() { fs::remove_all(dir_); }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

 private:
  fs::path dir_;
};

const PictureFolder& Folder() {
  static const PictureFolder folder(kFolderListLimit);
  return folder;
}

void BM_ListFolder(benchmark::State& state) {
  std::string path = Folder().PathOf("img_02500.jpg");
  for (auto _ : state) {
    FolderListing listing = ListFolderFiles(path, StillKind);
    benchmark::DoNotOptimize(listing.names.data());
  }
  state.SetItemsProcessed(state.iterations() * kFolderListLimit);
}
BENCHMARK(BM_ListFolder)->Unit(benchmark::kMillisecond);

void BM_CountFolderFiles(benchmark::State& state) {
  std::string path = Folder().PathOf("img_02500.jpg");
  for (auto _ : state) benchmark::DoNotOptimize(CountFolderFiles(path, StillKind));
  state.SetItemsProcessed(state.iterations() * kFolderListLimit);
}
BENCHMARK(BM_CountFolderFiles)->Unit(benchmark::kMillisecond);

}  // namespace

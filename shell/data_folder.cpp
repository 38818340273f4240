#include "shell/data_folder.h"

#include <filesystem>

namespace fs = std::filesystem;

std::string DataFolder(const std::string& executableFolder) {
  std::error_code error;
  fs::path installed =
      fs::path(executableFolder) / ".." / "share" / "duoramic";
  for (const fs::path& folder : {fs::path(executableFolder), installed})
    if (fs::is_regular_file(folder / "duoramic.html", error))
      return fs::weakly_canonical(folder, error).string();
  return executableFolder;
}

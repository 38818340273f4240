#include "image/file_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <span>

#include "image/ascii_case.h"
#include "core/viewer_state.h"

namespace {

constexpr std::string_view kStillEndings[] = {"JPG", "JPEG", "JPS", "GIF", "BMP",
                                              "PNG", "PNS", "TIF", "TIFF"};
// Matroska and WebM carry their stereo layout (StereoMode) in the file.
constexpr std::string_view kMovieEndings[] = {"AVI", "QT",  "MOV", "MPG", "MPEG",
                                              "M1V", "WMV", "MP4", "MTS", "MKV",
                                              "WEBM"};
// Files that hold two views the way an MPO does, read by the same paths:
// spatial HEIF photos (HEIF stills of one picture open there too) and VR
// photos, whose ".vr.jpg" keeps them out of the side-by-side JPEGs.
constexpr std::string_view kMpoAviEndings[] = {"MPO",  "HEIC",    "HEIF",
                                               "AVIF", ".VR.JPG", "AVI"};
constexpr std::string_view kMpoEndings[] = {"MPO", "HEIC", "HEIF", "AVIF",
                                            ".VR.JPG"};
constexpr std::string_view kVrPhotoEnding = ".VR.JPG";
constexpr std::string_view kJpegEndings[] = {"JPG", "JPEG", "JPS"};
constexpr std::string_view kJpgMp4Endings[] = {"JPG", "MP4"};
constexpr std::string_view kAllEndings[] = {
    "JPG", "JPEG", "JPS", "GIF", "BMP", "AVI",  "QT",  "MOV", "MPG",
    "MPEG", "M1V", "WMV", "MTS", "MP4", "MKV", "WEBM", "PNG", "PNS", "TIF",
    "TIFF"};

std::span<const std::string_view> EndingsOf(int kind) {
  switch (kind) {
    case StillKind: return kStillEndings;
    case MovieKind: return kMovieEndings;
    case MpoAviKind: return kMpoAviEndings;
    case MpoKind: return kMpoEndings;
    case JpegKind: return kJpegEndings;
    case JpgMp4Kind: return kJpgMp4Endings;
    default: return kAllEndings;
  }
}

// An ending may list alternatives separated by ";"; any of them may match.
bool MatchesEnding(std::string_view name, std::string_view ending) {
  while (true) {
    size_t semicolon = ending.find(';');
    std::string_view one = ending.substr(0, semicolon);
    if (!one.empty() && EndsWithIgnoringCase(name, one)) return true;
    if (semicolon == std::string_view::npos) return false;
    ending.remove_prefix(semicolon + 1);
  }
}

size_t LastSeparator(std::string_view path) {
  return path.find_last_of("/\\");
}

struct DirClose {
  void operator()(DIR* dir) const { closedir(dir); }
};

// Calls `take` with each name in the folder that is a regular file (links
// followed) of non-zero size and matches the kind, until `take` returns
// false.  Names are tested before the file is looked at: most entries of a
// photo folder are thrown out without a stat.
template <typename Take>
void ScanFolder(const std::string& folder, int kind, Take take) {
  std::unique_ptr<DIR, DirClose> dir(opendir(folder.empty() ? "." : folder.c_str()));
  if (!dir) return;
  int fd = dirfd(dir.get());
  while (const dirent* entry = readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (!FileKindMatches(name, kind)) continue;
    struct stat info;
    if (fstatat(fd, entry->d_name, &info, 0) != 0) continue;
    if (!S_ISREG(info.st_mode) || info.st_size == 0) continue;
    if (!take(name)) return;
  }
}

}  // namespace

int FileKindMatches(std::string_view name, int kind) {
  size_t separator = LastSeparator(name);
  if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
  if (!name.empty() && name.front() == '.') return 0;
  if (kind == StillKind && EndsWithIgnoringCase(name, kVrPhotoEnding))
    return 0;
  for (std::string_view ending : EndingsOf(kind))
    if (MatchesEnding(name, ending)) return 1;
  return 0;
}

std::string FolderOf(std::string_view path) {
  size_t separator = LastSeparator(path);
  if (separator == std::string_view::npos) return {};
  return std::string(path.substr(0, separator + 1));
}

std::string FileNameOf(std::string_view path) {
  size_t separator = LastSeparator(path);
  if (separator == std::string_view::npos) return std::string(path);
  return std::string(path.substr(separator + 1));
}

int PartnerName(std::string_view name, std::string& partner) {
  partner.assign(name);
  // Only the file name's dot: a dot in a folder name is no extension, and
  // the letter before it belongs to the folder.
  size_t separator = LastSeparator(name);
  size_t start = separator == std::string_view::npos ? 0 : separator + 1;
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot <= start || dot + 1 == name.size())
    return 0;
  char& letter = partner[dot - 1];
  switch (letter) {
    case 'L': letter = 'R'; return 1;
    case 'R': letter = 'L'; return 1;
    case 'l': letter = 'r'; return 1;
    case 'r': letter = 'l'; return 1;
    default: partner.assign(name); return 0;
  }
}

bool FolderNameLess(std::string_view a, std::string_view b) {
  int order = CompareIgnoringCase(a, b);
  return order != 0 ? order < 0 : a < b;
}

FolderListing ListFolderFiles(const std::string& path, int kind) {
  FolderListing listing;
  ScanFolder(FolderOf(path), kind, [&](std::string_view name) {
    listing.names.emplace_back(name);
    return true;
  });
  // Directory order is arbitrary here, so which names a full folder keeps is
  // decided by the list's own order: the first kFolderListLimit names.
  std::vector<std::string>& names = listing.names;
  if (names.size() > size_t{kFolderListLimit}) {
    std::partial_sort(names.begin(), names.begin() + kFolderListLimit,
                      names.end(), FolderNameLess);
    names.resize(kFolderListLimit);
  } else {
    std::sort(names.begin(), names.end(), FolderNameLess);
  }
  // The file itself when the folder holds it; otherwise the first name that
  // differs only in case, as a path typed or listed on Windows would.
  std::string file = FileNameOf(path);
  auto exact = std::find(names.begin(), names.end(), file);
  if (exact != names.end()) {
    listing.index = static_cast<int>(exact - names.begin());
  } else {
    auto similar = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
      return EqualIgnoringCase(n, file);
    });
    if (similar != names.end())
      listing.index = static_cast<int>(similar - names.begin());
  }
  return listing;
}

int ListFolder(const std::string& path, int kind, int which) {
  FolderListing listing = ListFolderFiles(path, kind);
  int count = static_cast<int>(listing.names.size());
  if (which == RightList) {
    Viewer.RightFolderList = std::move(listing.names);
    Viewer.RightCount = count;
    Viewer.RightIndex = listing.index;
    Viewer.RightFolder = FolderOf(path);
  } else {
    Viewer.LeftFolderList = std::move(listing.names);
    Viewer.ItemCount = count;
    Viewer.ItemIndex = listing.index;
    Viewer.LeftFolder = FolderOf(path);
  }
  return 1;
}

int CountFolderFiles(const std::string& path, int kind) {
  int count = 0;
  ScanFolder(FolderOf(path), kind, [&](std::string_view) {
    return ++count < kFolderListLimit;
  });
  return count;
}

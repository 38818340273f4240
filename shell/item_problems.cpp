#include "shell/item_problems.h"

#include <filesystem>
#include <string_view>
#include <utility>

#include "image/ascii_case.h"
#include "image/file_names.h"
#include "image/still_reader.h"
#include "stereo/pair_loader.h"

namespace {

// The reader that speaks for a file, by its name's ending.
const char* ReaderOf(const std::string& path) {
  struct Ending {
    const char* ending;
    const char* reader;
  };
  static constexpr Ending kEndings[] = {
      {"jpg", "JPEG"}, {"jpeg", "JPEG"}, {"jps", "JPEG"},
      {"mpo", "JPEG"}, {"png", "PNG"},   {"pns", "PNG"},
      {"tif", "TIFF"}, {"tiff", "TIFF"}, {"gif", "GIF"},
      {"bmp", "BMP"},
  };
  std::string name = FileNameOf(path);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return nullptr;
  std::string_view ending = std::string_view(name).substr(dot + 1);
  for (const Ending& e : kEndings)
    if (EqualIgnoringCase(ending, e.ending)) return e.reader;
  return nullptr;
}

// Common reasons in plain words; the readers' own text follows them.
const char* PlainWords(std::string_view reason) {
  static constexpr struct {
    const char* clue;
    const char* words;
  } kWords[] = {
      {"Empty input file", "ファイルが空です"},
      {"cannot open", "ファイルを開けません"},
      {"Not a JPEG file", "画像ファイルではありません"},
      {"not a PNG file", "画像ファイルではありません"},
      {"not a TIFF file", "画像ファイルではありません"},
      {"not a GIF file", "画像ファイルではありません"},
      {"not a BMP file", "画像ファイルではありません"},
      {"Premature end", "ファイルが途中で切れています"},
      {"no second MPF mark", "ステレオMPOではありません"},
      {"file too large", "ファイルが大きすぎます"},
  };
  for (const auto& w : kWords)
    if (reason.find(w.clue) != std::string_view::npos) return w.words;
  return nullptr;
}

}  // namespace

std::string UnreadableReason(const std::string& path,
                             const std::string& failure) {
  // Every reader's refusal is listed ("JPEG: ...; PNG: not a PNG file; ...");
  // the one of the file's own format is the one that explains.
  std::string reason = failure;
  if (const char* reader = ReaderOf(path)) {
    std::string lead = std::string(reader) + ": ";
    size_t at = failure.find(lead);
    if (at == 0 || (at != std::string::npos && failure[at - 1] == ' ')) {
      size_t end = failure.find("; ", at);
      reason = failure.substr(at, end == std::string::npos ? end : end - at);
    }
  }
  if (reason.empty()) reason = "refused";
  if (const char* words = PlainWords(reason))
    return std::string(words) + "（" + reason + "）";
  return reason;
}

std::vector<std::string> UnreadableMessage(const std::string& path,
                                           const std::string& reason) {
  return {FileNameOf(path), "このファイルは表示できません", reason};
}

void UnreadablePair(const std::string& left, const std::string& leftFailure,
                    const std::string& right, const std::string& rightFailure,
                    std::vector<std::string>& message, std::string& note) {
  std::string reasons;
  message.clear();
  for (const auto& [path, failure] :
       {std::pair{left, leftFailure}, std::pair{right, rightFailure}}) {
    if (failure.empty()) continue;
    std::string reason = UnreadableReason(path, failure);
    std::vector<std::string> lines = UnreadableMessage(path, reason);
    // "cannot be shown" is said once, under the first name.
    if (!message.empty()) lines.erase(lines.begin() + 1);
    message.insert(message.end(), lines.begin(), lines.end());
    reasons += (reasons.empty() ? "" : " / ") + FileNameOf(path) + ": " + reason;
  }
  note = UnreadableNote(reasons);
}

std::string UnreadableNote(const std::string& reason) {
  return "表示できません: " + reason;
}

std::string FlatNote(const std::string& reason) {
  return "2D表示: " + reason;
}

std::string PartialNote(const std::string& reason) {
  return "一部のみ表示: " + reason;
}

bool ReadFlatPicture(const std::string& path, Picture& left, Picture& right,
                     std::string& why) {
  StillDecode decoded = DecodeStill(path);
  if (!decoded.picture) {
    why = decoded.failure;
    return false;
  }
  right = CropPicture(decoded.picture, 0, 0);
  if (!right) {
    why = "out of memory";
    return false;
  }
  left = std::move(decoded.picture);
  return true;
}

bool BlackStandIns(Picture& left, Picture& right) {
  left = CreatePicture(kUnreadableSide, kUnreadableSide, 24);
  right = CreatePicture(kUnreadableSide, kUnreadableSide, 24);
  if (left && right) return true;
  left.reset();
  right.reset();
  return false;
}

std::string FirstItemOfFolder(const std::string& folder) {
  std::string inside = folder;
  if (inside.empty() || inside.back() != '/') inside += '/';
  // Stills and movies first, as browsing from one of them lists them;
  // a folder of MPO files only opens its first MPO.
  for (int kind : {AllKinds, MpoKind}) {
    FolderListing listing = ListFolderFiles(inside, kind);
    if (!listing.names.empty()) return inside + listing.names.front();
  }
  return {};
}

std::vector<std::string> EmptyFolderMessage(const std::string& folder) {
  std::string name = folder;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  return {FileNameOf(name) + "/",
          "このフォルダーには表示できるファイルがありません"};
}

std::string EmptyFolderNote() { return "表示できるファイルがありません"; }

bool IsFolderPath(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_directory(path, error);
}

#include "slideshow/list_reader.h"


#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "image/ascii_case.h"
#include "image/comment.h"
#include "resources/string_table.h"
#include "core/viewer_state.h"
#include "slideshow/list_messages.h"

namespace {

// Lines are read through a 512-byte buffer: a longer line arrives as several
// pieces, each read like a line of its own.
constexpr size_t kLinePieceBytes = 511;
// An entry line needs this many ";" in all before it yields an entry.
constexpr int kEntrySemicolons = 5;
constexpr int kFirstEntryKind = 1;
constexpr int kLastEntryKind = 39;

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  });
}

// The list file's bytes as text mode reads them (CR before LF dropped).
// Whether the text is UTF-8 or CP932 is decided once for the whole file,
// and only when a line with non-ASCII bytes needs it.
class ListFile {
 public:
  bool Load(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string raw;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
      raw.append(buffer, got);
    bool failed = std::ferror(f) != 0;  // a folder opens but cannot be read
    std::fclose(f);
    if (failed) return false;
    Take(raw);
    return true;
  }

  void Take(std::string_view raw) {
    if (raw.starts_with("\xEF\xBB\xBF")) raw.remove_prefix(3);
    text_.reserve(raw.size());
    // Each entry read takes the list anew: whole runs are copied, and only
    // the CR of a CR LF pair is left out.
    size_t start = 0;
    for (size_t cr = raw.find("\r\n"); cr != std::string_view::npos;
         cr = raw.find("\r\n", start)) {
      text_.append(raw.substr(start, cr - start));
      start = cr + 1;
    }
    text_.append(raw.substr(start));
  }

  bool IsUtf8() {
    if (utf8_ < 0) utf8_ = IsValidUtf8(text_) ? 1 : 0;
    return utf8_ == 1;
  }

  std::string Decode(std::string_view bytes) {
    if (IsAscii(bytes) || IsUtf8()) return std::string(bytes);
    return Cp932ToUtf8(bytes);
  }

  // The next line or piece of a long line, with its line feed when it has
  // one.  A NUL byte ends the piece's text, as it would in the 8-bit buffer.
  bool NextLine(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::string_view rest = std::string_view(text_).substr(pos_);
    size_t length = std::min(rest.find('\n'), rest.size() - 1) + 1;
    if (length > kLinePieceBytes) length = PieceLength(rest);
    line = rest.substr(0, length);
    pos_ += length;
    line = line.substr(0, line.find('\0'));
    return true;
  }

 private:
  // At most kLinePieceBytes, never ending inside a character: half of one
  // would decode to a replacement mark at the end of one piece and the start
  // of the next.
  size_t PieceLength(std::string_view rest) {
    size_t length = kLinePieceBytes;
    if (IsUtf8()) {
      while (length > 1 &&
             (static_cast<unsigned char>(rest[length]) & 0xC0) == 0x80)
        --length;
      return length;
    }
    return Cp932PrefixLength(rest, kLinePieceBytes);
  }

  std::string text_;
  size_t pos_ = 0;
  int utf8_ = -1;
};

bool OpenList(const std::string& path, ListFile& file) {
  if (file.Load(path)) return true;
  CurrentListMessageSink().ListWarning(StringText(kListErrorCaptionString),
                                       StringText(kListCannotOpenString), path);
  return false;
}

// A plain decimal parse: leading white space, a sign, digits; 0 without
// digits.  Values beyond the int range stop at its ends.
int ParseListNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() &&
         (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value =
        std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{INT_MAX} + 1);
  if (negative) value = -value;
  return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

// The text before the first ";", or the whole line (line feed included)
// when it has none.
std::string_view FirstField(std::string_view line) {
  return line.substr(0, line.find(';'));
}

// The fields after the first.  Several ";" in a row count as one separator,
// so an empty field is skipped and the next one takes its place: lists in
// use are written with that reading in mind.
class FieldScanner {
 public:
  explicit FieldScanner(std::string_view line)
      : line_(line), pos_(std::min(line.size(), FirstField(line).size() + 1)) {}

  bool Next(std::string_view& field) {
    while (pos_ < line_.size() && line_[pos_] == ';') ++pos_;
    if (pos_ == line_.size()) return false;
    size_t end = std::min(line_.find(';', pos_), line_.size());
    field = line_.substr(pos_, end - pos_);
    pos_ = std::min(end + 1, line_.size());
    return true;
  }

  // A missing numeric field reads as an empty one, that is 0.
  int NextNumber() {
    std::string_view field;
    return Next(field) ? ParseListNumber(field) : 0;
  }

  // What follows the ";" that ended the last field taken; empty when that
  // field ran to the end of the line or no field was left.
  std::string_view Rest() const { return line_.substr(pos_); }

 private:
  std::string_view line_;
  size_t pos_;
};

std::string_view WithoutLineEnd(std::string_view text) {
  // Twice, so that both characters of a CR LF pair go.
  for (int i = 0; i < 2; ++i)
    if (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.remove_suffix(1);
  return text;
}

int InRangeOr(int value, int low, int high, int fallback) {
  return value < low || value > high ? fallback : value;
}

struct SettingsContext {
  ListFile& file;
  const std::string& listFolder;
};

void ApplyBgMusic(std::string_view value, SettingsContext& context) {
  // One trailing character below "0" goes: the line feed of a value that
  // ends the line, or a space.
  if (!value.empty() && static_cast<unsigned char>(value.back()) < '0')
    value.remove_suffix(1);
  // Always joined to the list folder, even an absolute value.  An empty
  // value names no music rather than the folder itself.
  if (value.empty()) return;
  std::string name = context.file.Decode(value);
  Viewer.BgmPath = context.listFolder;
  for (char c : name) Viewer.BgmPath += c == '\\' ? '/' : c;
}

void ApplyFont(std::string_view value, SettingsContext& context) {
  // A value that ends the line would otherwise carry its line feed into the
  // face name; an empty value keeps the face.
  value = WithoutLineEnd(value);
  if (!value.empty()) Viewer.FontFace = context.file.Decode(value);
}

// A key sets either text (through `text`) or a number (through `number`).
struct SettingsKey {
  const char* key;
  void (*text)(std::string_view value, SettingsContext& context);
  void (*number)(int value);
};

// Tested in this order; "SlideShowList" is looked for before them.
constexpr SettingsKey kSettingsKeys[] = {
    {"BGMusic", ApplyBgMusic, nullptr},
    {"Font", ApplyFont, nullptr},
    {"Comment", nullptr, [](int v) { Viewer.CommentOn = v != 0; }},
    {"CommentSize", nullptr,
     [](int v) { Viewer.CommentSize = InRangeOr(v, 1, 50, 5); }},
    {"Floatingwindow", nullptr,
     [](int v) { Viewer.FloatOffset = InRangeOr(v, 0, 20, 5); }},
    {"SlideShow", nullptr, [](int v) { Viewer.SlideShowOn = v == 1; }},
    {"MovieBGMStop", nullptr, [](int v) { Viewer.MovieBgmStop = v == 1; }},
    {"Repeat", nullptr, [](int v) { Viewer.ListRepeat = v != 0; }},
    {"StereoEffect", nullptr, [](int v) { Viewer.nEFType = v; }},
    {"StereoType", nullptr, [](int v) { Viewer.StereoType = v; }},
    {"ScreenSize", nullptr, [](int v) { Viewer.nScreen = v; }},
    {"DispWidth", nullptr,
     [](int v) {
       Viewer.nDispW = static_cast<int>(
           std::clamp<int64_t>(int64_t{v} * 2, INT_MIN, INT_MAX));
     }},
    {"DispHeight", nullptr, [](int v) { Viewer.nDispH = v; }},
};

void ApplyPanoramaAndWidth(int panorama, int width) {
  if (panorama == 1) {
    Viewer.ActualSizeToggle = 0;
    Viewer.ZoomPercent = 0;
    Viewer.FitToWindow = true;
  } else if (panorama >= 2) {
    Viewer.ActualSizeToggle = panorama - 1;
  }
  if (width == 2)
    Viewer.WidthMode = 5;
  else if (width == 1)
    Viewer.WidthMode = 0;
}

void ParseEntryLine(std::string_view line, int kind, ListFile& file,
                    ListEntry& entry) {
  FieldScanner fields(line);
  entry.EntryKind = kind;
  entry.EntryInterval = fields.NextNumber();
  entry.EntrySwap = fields.NextNumber();
  if (kind > 9) {
    entry.EntryPanorama = fields.NextNumber();
    entry.EntryWidth = fields.NextNumber();
    ApplyPanoramaAndWidth(entry.EntryPanorama, entry.EntryWidth);
    if (kind < 30) entry.EntryKind = kind - 10;
  }
  // A missing name keeps the one of the previous read; kept because stored
  // lists may rely on it.
  std::string_view name;
  if (fields.Next(name))
    entry.EntryLeftName = file.Decode(WithoutLineEnd(name));
  if (kind == 5 || kind == 21) {
    if (fields.Next(name))
      entry.EntryRightName = file.Decode(WithoutLineEnd(name));
  } else {
    entry.EntryRightName = entry.EntryLeftName;
  }
  std::string_view comment = fields.Rest();
  comment = comment.substr(0, comment.find('\n'));
  // Lists end the comment with ";;": trailing ";" go, inner ones stay.
  while (!comment.empty() && comment.back() == ';') comment.remove_suffix(1);
  if (comment.empty()) {
    ClearCurrentComment();
  } else {
    // 255 bytes as the list stores them, then decoded.
    SetStoredComment(comment, !file.IsUtf8());
  }
  if (kind == 5) entry.EntryKind = 11;
}

bool DigitsAndSpaces(std::string_view field) {
  return std::all_of(field.begin(), field.end(),
                     [](char c) { return c == ' ' || (c >= '0' && c <= '9'); });
}

// The settings lines of a loaded list, in file order.
int ApplySettings(ListFile& file, const std::string& folder) {
  SettingsContext context{file, folder};
  int result = 0;
  std::string_view line;
  while (file.NextLine(line)) {
    std::string_view first = FirstField(line);
    // Counted by the number alone: "3D photo" counts as entry 3 here even
    // though no entry is ever read from it, and stored lists number that way.
    int number = ParseListNumber(first);
    if (number >= kFirstEntryKind && number <= kLastEntryKind)
      ++Viewer.ItemCount;
    if (EqualIgnoringCase(first, "SlideShowList")) {
      result = 1;
      continue;
    }
    for (const SettingsKey& key : kSettingsKeys) {
      if (!EqualIgnoringCase(first, key.key)) continue;
      FieldScanner fields(line);
      std::string_view value;
      if (!fields.Next(value)) value = {};
      if (key.text)
        key.text(value, context);
      else
        key.number(ParseListNumber(value));
      break;
    }
  }
  return result;
}

// Parses the entry with the 0-based number `index` of a loaded list.
bool FindEntry(ListFile& file, int index, ListEntry& entry) {
  if (index < 0) return false;
  int number = 0;
  std::string_view line;
  while (file.NextLine(line)) {
    std::string_view first = FirstField(line);
    // A line without ";" has its line feed in the first field and is skipped.
    if (first.empty() || !DigitsAndSpaces(first)) continue;
    int kind = ParseListNumber(first);
    if (kind >= kFirstEntryKind && kind <= kLastEntryKind) {
      ++number;
      // A short line uses up its number without yielding an entry, so the
      // entries after it keep the numbers the list's author counted.
      if (std::count(line.begin(), line.end(), ';') < kEntrySemicolons)
        continue;
    }
    // A digits-only line outside 1..39 leaves the number as it is and is
    // taken in place of a short line just skipped; kept as stored lists
    // have always been read.
    if (number != index + 1) continue;
    ParseEntryLine(line, kind, file, entry);
    return true;
  }
  return false;
}

}  // namespace

int ReadListSettings(const std::string& listPath) {
  Viewer.ItemCount = 0;
  Viewer.BgmPath.clear();
  ListFile file;
  if (!OpenList(listPath, file)) return 0;
  return ApplySettings(file, ListFolderOf(listPath));
}

int ReadListSettingsFromBytes(std::string_view bytes,
                              const std::string& listPath) {
  Viewer.ItemCount = 0;
  Viewer.BgmPath.clear();
  ListFile file;
  file.Take(bytes);
  return ApplySettings(file, ListFolderOf(listPath));
}

bool ReadListEntry(const std::string& listPath, int index, ListEntry& entry) {
  entry.EntryPanorama = 0;
  entry.EntryWidth = 0;
  ListFile file;
  if (!OpenList(listPath, file)) return false;
  return FindEntry(file, index, entry);
}

bool ReadListEntryFromBytes(std::string_view bytes, int index,
                            ListEntry& entry) {
  entry.EntryPanorama = 0;
  entry.EntryWidth = 0;
  ListFile file;
  file.Take(bytes);
  return FindEntry(file, index, entry);
}

bool IsAbsolutePath(std::string_view name) {
  if (name.starts_with('/')) return true;
  if (name.size() <= 3) return false;
  bool drive = name[1] == ':' && (name[2] == '\\' || name[2] == '/');
  bool network = name[0] == '\\' && name[1] == '\\';
  return drive || network;
}

std::string ListFolderOf(std::string_view listPath) {
  size_t slash = listPath.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(listPath.substr(0, slash + 1));
}

std::string ResolveListName(std::string_view listFolder,
                            std::string_view name) {
  std::string path =
      IsAbsolutePath(name) ? std::string() : std::string(listFolder);
  for (char c : name) path += c == '\\' ? '/' : c;
  return path;
}

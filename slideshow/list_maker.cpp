#include "slideshow/list_maker.h"

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "image/ascii_case.h"
#include "image/comment.h"
#include "image/file_names.h"
#include "resources/string_table.h"

const char* const kListHeaderLines[14] = {
    "SlideShowList;;\t//Stereo SlideShow File List",
    "//BGMusic;sample.mid;;",
    "//MovieBGMStop;1;;",
    "Repeat;1;;\t//Repeat:ON",
    "SlideShow;1;;\t//SlideShow:ON",
    "StereoEffect;1;;\t//StereoEffect:Random",
    "StereoType;0;;\t//StereoType:Side-by-side",
    "ScreenSize;1;;\t//CanvasSize:Screen size",
    "//DispWidth;1024;;",
    "//DispHeight;768;;",
    "Font;MS UI Gothic;;\t//Font:MS UI Gothic",
    "Comment;1;;\t//Comment:ON",
    "CommentSize;5;;\t//CommentSize:Canvas height x 5%",
    "Floatingwindow;0;;\t//Floatingwindow:Canvas Width x 0%",
};

namespace {

constexpr int kSingleFileKind = 11;
constexpr int kPairKind = 21;
const char kPairNotFoundText[] = "Not find pair image file!";
const char kNameCutText[] =
    "一度に追加できるのは%d個までです。%d個のうち、最初の%d個を追加します。";
const char kUnlistableText[] =
    "「;」か改行を含むファイル名はリストに書けないため、追加しません。";
const char kNoticeCaption[] = "確認";
// An all-files kind of the file-name rules leaves MPO files out; the maker
// lists stereo files, and MPO is the commonest of them.
constexpr int kAllWithMpo = -1;

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MatchesMakerKind(std::string_view name, int kind) {
  if (kind != kAllWithMpo) return FileKindMatches(name, kind) != 0;
  return FileKindMatches(name, AllKinds) || FileKindMatches(name, MpoKind);
}

std::string Lowered(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

std::string FormatCount(int id, int count) {
  std::string format(StringText(id));
  size_t at = format.find("%d");
  if (at != std::string::npos) format.replace(at, 2, std::to_string(count));
  return format;
}

// A name field cannot hold the list's separator or a line end.
bool Listable(std::string_view name) {
  return name.find_first_of(";\n\r") == std::string_view::npos;
}

// UTF-8 text in CP932.  False when a character has no CP932 form.
bool Utf8ToCp932(const std::string& text, std::string& out) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input = text;
  char* in = input.data();
  size_t inLeft = input.size();
  out.clear();
  bool ok = true;
  char buffer[4096];
  while (inLeft > 0 && ok) {
    char* o = buffer;
    size_t outLeft = sizeof buffer;
    size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    out.append(buffer, o - buffer);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) ok = false;
  }
  iconv_close(cd);
  return ok;
}

// `text` (UTF-8) as it goes into a list whose lines are CP932 (`cp932`) or
// UTF-8.  The reader decides the encoding once for the whole file, so a text
// is only written when it reads back the same: in CP932 it must have a form
// that converts back to it (no character without one, none that comes back
// as another), in UTF-8 it must be valid UTF-8.
bool InListEncoding(const std::string& text, bool cp932, std::string& out) {
  if (!cp932) {
    out = text;
    return IsValidUtf8(text);
  }
  return Utf8ToCp932(text, out) && Cp932ToUtf8(out) == text;
}

// Why `text` cannot go into the list, for a refusal that names it.
std::string NotInEncodingText(const std::string& text, bool cp932) {
  return "「" + text + "」は" +
         (cp932 ? "このリストの文字コード（シフトJIS）で書けない"
                : "UTF-8の文字列ではない") +
         "ため、追加しません。リストは変更していません。";
}

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The list file opened for reading and appending, created when missing
// (`created` then set).
std::unique_ptr<std::FILE, FileClose> OpenList(const std::string& path,
                                               bool& created) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  created = false;
  if (!f) {
    f = std::fopen(path.c_str(), "w+b");
    created = f != nullptr;
  }
  return std::unique_ptr<std::FILE, FileClose>(f);
}

bool ReadAll(std::FILE* f, std::string& text) {
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    text.append(buffer, got);
  return std::ferror(f) == 0;
}

int CountLines(std::string_view text) {
  int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  return lines + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

struct EntryWriter {
  const ListMakerSettings& settings;
  const std::string& folder;
  ListMakerMessages& messages;
  std::string comment;
  int skipped = 0;
  // Every name and comment the lines hold, in order, once each.
  std::vector<std::string> texts{};

  void Wrote(const std::string& text) {
    if (!text.empty() && std::find(texts.begin(), texts.end(), text) == texts.end())
      texts.push_back(text);
  }

  std::string EntryName(const std::string& name) const {
    std::string entry = (settings.fullPath ? folder : std::string()) + name;
    return settings.lowerCase ? Lowered(entry) : entry;
  }

  std::string Head(int kind, const std::string& entry) const {
    return std::to_string(kind) + ";" + std::to_string(settings.interval) +
           ";" + (settings.swap ? "1" : "0") + ";0;0;" + entry + ";";
  }

  // The right file of `name` in the right folder: the same name, else its
  // partner name.  Empty when neither exists.
  std::string RightFolderPartner(const std::string& name) const {
    std::string right = WithTrailingSlash(settings.rightFolder) + name;
    if (IsRegularFile(right)) return right;
    std::string partner;
    if (PartnerName(right, partner) && IsRegularFile(partner)) return partner;
    return {};
  }

  std::string RightPathWritten(const std::string& found) const {
    if (!settings.lowerCase) return found;
    return FolderOf(found) + Lowered(FileNameOf(found));
  }

  // Names that cannot be written are left out, with the files they pair.
  bool Refused(const std::string& name, int files) {
    if (Listable(name)) return false;
    messages.Warning(kUnlistableText, name);
    skipped += files;
    return true;
  }

  std::string Lines(const std::vector<std::string>& names) {
    std::string out;
    bool pairs = settings.inputForm == kPairFilesForm;
    bool sameFolderPairs = pairs && !settings.useRightFolder;
    for (size_t k = 0; k < names.size(); ++k) {
      if (sameFolderPairs && k + 1 < names.size() &&
          (Refused(names[k], 2) || Refused(names[k + 1], 2))) {
        ++k;
        continue;
      }
      if (!sameFolderPairs && Refused(names[k], 1)) continue;
      std::string entry = EntryName(names[k]);
      std::string line = Head(pairs ? kPairKind : kSingleFileKind, entry);
      if (pairs && settings.useRightFolder) {
        std::string right = RightFolderPartner(names[k]);
        if (right.empty() || !Listable(right)) {
          messages.Warning(kPairNotFoundText, entry);
          ++skipped;
          continue;
        }
        Wrote(entry);
        Wrote(RightPathWritten(right));
        line += RightPathWritten(right) + ";";
      } else if (pairs) {
        // Pairs in one folder: the next name in order is the right file.
        if (++k >= names.size()) break;
        Wrote(entry);
        Wrote(EntryName(names[k]));
        line += EntryName(names[k]) + ";";
      } else {
        Wrote(entry);
      }
      Wrote(comment);
      out += line + comment + ";;\n";
    }
    return out;
  }
};

}  // namespace

std::vector<std::string> SplitQuotedNames(std::string_view text) {
  std::vector<std::string> names;
  std::string current;
  bool quoted = false;
  auto close = [&] {
    if (!current.empty()) names.push_back(current);
    current.clear();
  };
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      close();
    } else {
      current += c;
    }
  }
  // The last name counts whether or not a quote closes the text.
  close();
  return names;
}

int MakerKindOfFileType(int fileType) {
  if (fileType == 2) return StillKind;
  if (fileType == 3) return MovieKind;
  return kAllWithMpo;
}

std::vector<std::string> ListMakerFolderFiles(const std::string& folder,
                                              int fileType) {
  std::vector<std::string> names;
  int kind = MakerKindOfFileType(fileType);
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  std::string base = WithTrailingSlash(folder);
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (!MatchesMakerKind(name, kind)) continue;
    struct stat st;
    if (::stat((base + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size == 0)
      continue;
    names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

std::string WithTrailingSlash(std::string_view folder) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out += '/';
  return out;
}

int AddListEntries(const ListMakerSettings& settings, const std::string& folder,
                   std::vector<std::string> names, ListMakerMessages& messages) {
  std::string_view errorCaption = StringText(kMakerErrorCaptionString);
  if (settings.listPath.empty()) {
    messages.Warning(StringText(kMakerNoListString), errorCaption);
    return -1;
  }
  std::sort(names.begin(), names.end(), FolderNameLess);
  if (names.size() > static_cast<size_t>(kMakerNameLimit)) {
    char text[256];
    std::snprintf(text, sizeof text, kNameCutText, kMakerNameLimit,
                  static_cast<int>(names.size()), kMakerNameLimit);
    messages.Notice(text, kNoticeCaption);
    names.resize(kMakerNameLimit);
  }
  bool pairs = settings.inputForm == kPairFilesForm;
  if (pairs && !settings.useRightFolder && names.size() % 2 != 0) {
    messages.Warning(StringText(kMakerOddPairsString), errorCaption);
    return -1;
  }
  bool created = false;
  auto list = OpenList(settings.listPath, created);
  std::string existing;
  if (!list || !ReadAll(list.get(), existing)) {
    messages.Warning(StringText(kMakerCannotCreateString), errorCaption);
    return -1;
  }
  // Left as found when nothing is added.
  auto untouched = [&] {
    std::fclose(list.release());
    if (created) ::unlink(settings.listPath.c_str());
    return -1;
  };
  std::string text;
  if (!existing.empty() && existing.back() != '\n') text += '\n';
  if (CountLines(existing) < 2)
    for (const char* line : kListHeaderLines) text += std::string(line) + "\n";
  // One line per entry: a line end in the comment would start a new line.
  std::string comment = settings.comment;
  std::replace_if(comment.begin(), comment.end(),
                  [](char c) { return c == '\n' || c == '\r'; }, ' ');
  EntryWriter writer{settings, WithTrailingSlash(folder), messages, comment};
  text += writer.Lines(names);
  // One encoding per file, since the reader decides it once for the whole
  // list: a list written on Windows (not valid UTF-8) stays in its code page,
  // any other takes UTF-8.  A name or comment that cannot be written in it
  // refuses the whole add, naming that text.
  bool cp932 = !IsValidUtf8(existing);
  std::string encoded;
  for (const std::string& piece : writer.texts) {
    if (!InListEncoding(piece, cp932, encoded)) {
      messages.Warning(NotInEncodingText(piece, cp932), errorCaption);
      return untouched();
    }
  }
  if (!InListEncoding(text, cp932, encoded)) {
    // Not reached: each piece of the text passed.
    messages.Warning(StringText(kMakerCannotCreateString), errorCaption);
    return untouched();
  }
  text = encoded;
  bool written = std::fseek(list.get(), 0, SEEK_END) == 0 &&
                 std::fwrite(text.data(), 1, text.size(), list.get()) ==
                     text.size() &&
                 std::fflush(list.get()) == 0 && ::fsync(fileno(list.get())) == 0;
  if (std::fclose(list.release()) != 0) written = false;
  if (!written) {
    messages.Warning(StringText(kMakerCannotCreateString), errorCaption);
    return -1;
  }
  int added = static_cast<int>(names.size()) - writer.skipped;
  messages.Notice(FormatCount(kMakerAddedString, added),
                  StringText(kMakerDoneCaptionString));
  return added;
}

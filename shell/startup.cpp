#include "shell/startup.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "image/ascii_case.h"
#include "resources/string_table.h"
#include "core/viewer_state.h"

namespace {

constexpr size_t kTextBufferSize = 512;

// The length of `text` cut to at most `limit` bytes without splitting a
// UTF-8 character.
size_t CutOnCharacter(const char* text, size_t length, size_t limit) {
  if (length <= limit) return length;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return cut;
}

// The text after the file name's last dot, or the whole name without one.
std::string_view ExtensionOf(std::string_view path) {
  size_t slash = path.find_last_of('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  size_t dot = path.find_last_of('.');
  return dot == std::string_view::npos ? path : path.substr(dot + 1);
}

TitleSink* CurrentTitleSink = nullptr;

}  // namespace

int LaunchModeFromName(std::string_view executablePath) {
  size_t slash = executablePath.find_last_of('/');
  if (slash != std::string_view::npos) executablePath.remove_prefix(slash + 1);
  if (EndsWithIgnoringCase(executablePath, ".exe")) {
    executablePath.remove_suffix(4);
  }
  if (EndsWithIgnoringCase(executablePath, "_h")) return 1;
  if (EndsWithIgnoringCase(executablePath, "_n")) return 2;
  if (EndsWithIgnoringCase(executablePath, "_w")) return 3;
  return 0;
}

void ApplyLaunchMode(int mode) {
  static constexpr int kFixedWidth[] = {0, 6, 0, 5};
  Viewer.LaunchMode = mode;
  if (mode >= 1 && mode <= 3) Viewer.WidthMode = kFixedWidth[mode];
}

CommandLineArgs SplitCommandLine(std::string_view tail) {
  CommandLineArgs args;
  std::string* current = &args.first;
  bool quoted = false;
  bool newWord = false;  // the next plain character starts a word afresh
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = tail[i];
    if (c == '"') {
      if (!quoted) {
        current->clear();
        quoted = true;
      } else {
        quoted = false;
        current = &args.second;
        newWord = true;
        ++i;  // the character after a closing quote is a separator
      }
    } else if (c == ' ' && !quoted) {
      // Blanks before the first argument separate nothing.
      if (current == &args.first && args.first.empty()) continue;
      current = &args.second;
      newWord = true;
    } else {
      if (newWord) current->clear();
      newWord = false;
      current->push_back(c);
    }
  }
  return args;
}

CommandLineArgs ArgumentsFromArgv(int argc, const char* const* argv) {
  CommandLineArgs args;
  if (argc > 1) args.first = argv[1];
  if (argc > 2) args.second = argv[argc - 1];
  return args;
}

FirstShow DecideFirstShow(const CommandLineArgs& args,
                          const std::string& executableFolder) {
  FirstShow show;
  if (args.first.empty() ||
      static_cast<unsigned char>(args.first[0]) < 0x20) {
    std::string list = executableFolder + "/duoramic.txt";
    if (IsFileNotFolder(list)) {
      show.openPath = list;
      show.commands = {CMD_FULL_SCREEN_CHOSEN, CMD_START_LIST};
    }
    return show;
  }
  show.openPath = args.first;
  show.commands.push_back(CMD_FULL_SCREEN_CHOSEN);
  if (IsListFile(args.first)) {
    show.commands.push_back(CMD_START_LIST);
  } else if (args.second.empty()) {
    show.commands.push_back(CMD_SHOW_FILE);
  } else {
    OrderPair(args.first, args.second, show.leftPath, show.rightPath);
    show.commands.push_back(CMD_SHOW_PAIR);
  }
  return show;
}

bool IsFileNotFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) &&
         !std::filesystem::is_directory(path, error);
}

bool IsListFile(std::string_view path) {
  return EqualIgnoringCase(ExtensionOf(path), "txt");
}

void OrderPair(const std::string& first, const std::string& second,
               std::string& left, std::string& right) {
  bool firstIsLeft = CompareIgnoringCase(first, second) <= 0;
  left = firstIsLeft ? first : second;
  right = firstIsLeft ? second : first;
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

void ApplyFirstShow(const FirstShow& show) {
  if (!show.openPath.empty()) Viewer.OpenPath = show.openPath;
  if (!show.leftPath.empty()) {
    Viewer.LeftPath = show.leftPath;
    Viewer.RightPath = show.rightPath;
  }
}

const char* LoadText(int id) {
  static char buffers[2][kTextBufferSize];
  static int next = 0;
  char* buffer = buffers[next];
  next ^= 1;
  std::string_view text = StringText(id);
  size_t length = CutOnCharacter(text.data(), text.size(), kTextBufferSize - 1);
  if (length > 0) std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return buffer;
}

void SetTitleSink(TitleSink* sink) { CurrentTitleSink = sink; }

void ReportTitle(const char* format, ...) {
  // Formatted whole first, so the cut below sees the character it splits.
  va_list arguments, again;
  va_start(arguments, format);
  va_copy(again, arguments);
  int needed = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  if (needed < 0) {
    va_end(again);
    return;
  }
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.resize(CutOnCharacter(text.data(), static_cast<size_t>(needed),
                             kTextBufferSize - 1));
  if (CurrentTitleSink) {
    CurrentTitleSink->SetTitle(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

int FreeMemoryFromMeminfo(std::string_view meminfo) {
  std::istringstream lines{std::string(meminfo)};
  std::string key;
  long long kilobytes = 0;
  while (lines >> key) {
    if (key == "MemAvailable:") {
      if (!(lines >> kilobytes) || kilobytes < 0) return 0;
      return static_cast<int>(std::min<long long>(kilobytes / 1024, 10000));
    }
    lines.ignore(1 << 20, '\n');
  }
  return 0;
}

// Allocating blocks until one fails, as a measure of free memory, only works
// where allocation commits memory at once; Linux commits lazily and touching
// that much gets the process killed.  The kernel's estimate answers the same
// question safely.
int MeasureFreeMemory() {
  std::ifstream file("/proc/meminfo");
  std::stringstream text;
  text << file.rdbuf();
  return FreeMemoryFromMeminfo(text.str());
}

std::string MemoryReportText(int megabytes) {
  if (megabytes >= 10000) return "over 10000 MByte";
  return std::to_string(megabytes) + " MByte";
}

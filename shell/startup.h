// Start-up services: the launch mode from the executable's name, the
// command line, what to show first, and three small helpers used all over
// the shell (the string loader, the title reporter, the memory report).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Commands the first show posts (the window's command table acts on them).
constexpr int CMD_SHOW_FILE = 4003;
constexpr int CMD_SHOW_PAIR = 4005;
constexpr int CMD_FULL_SCREEN_CHOSEN = 4010;  // full screen, chosen monitors
constexpr int CMD_START_LIST = 4013;

// 1, 2, 3 when the executable's file name ends in "_h", "_n", "_w" (with or
// without ".exe", any letter case); 0 otherwise.
int LaunchModeFromName(std::string_view executablePath);

// Sets LaunchMode and the width it fixes: 1 half width (6), 2 normal (0),
// 3 double width (5).  Mode 0 leaves WidthMode to the settings.
void ApplyLaunchMode(int mode);

struct CommandLineArgs {
  std::string first;
  std::string second;
};

// Splits a command-line tail into at most two arguments.  Double quotes keep
// blanks inside an argument; a closing quote ends the argument and the
// character after it is skipped.  Everything after the first argument goes
// to the second, each new word replacing the last, so the second argument
// is the last word.
CommandLineArgs SplitCommandLine(std::string_view tail);

// The same rule over arguments the shell has already split: the first and
// the last of the rest.
CommandLineArgs ArgumentsFromArgv(int argc, const char* const* argv);

// What the window shows first, decided from the arguments: the commands to
// post in order and the paths they read.
struct FirstShow {
  std::vector<int> commands;
  std::string openPath;
  std::string leftPath;
  std::string rightPath;
};

// `executableFolder` is where "duoramic.txt" is looked for when there is no
// argument.
FirstShow DecideFirstShow(const CommandLineArgs& args,
                          const std::string& executableFolder);

// A slideshow list: the file name's extension (after its last dot, or the
// whole name without one) is "txt" in any case.
bool IsListFile(std::string_view path);

// Two files shown as a pair: the one whose path sorts first without case is
// the left view; on a tie the first given.
void OrderPair(const std::string& first, const std::string& second,
               std::string& left, std::string& right);

// A path naming something that exists and is not a folder.
bool IsFileNotFolder(const std::string& path);

// printf into a string of whatever length the text needs.
std::string FormatText(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// Applies a decision to Viewer (OpenPath, and LeftPath/RightPath for a pair).
void ApplyFirstShow(const FirstShow& show);

// String-table text `id` in one of two alternating 512-byte buffers: a
// message and its caption can be loaded one after the other and used
// together; a third call overwrites the first.  Missing ids give "".
const char* LoadText(int id);

// Receives what ReportTitle formats; the main window sets its title.
struct TitleSink {
  virtual void SetTitle(std::string_view text) = 0;

 protected:
  ~TitleSink() = default;
};

// The sink ReportTitle writes to; null (before the window exists) prints the
// report on standard error.
void SetTitleSink(TitleSink* sink);

// printf-style report into the title, cut to 511 bytes on a character
// boundary.
void ReportTitle(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// Free memory in MiB, 10000 meaning 10000 or more.
int MeasureFreeMemory();

// The same from the text of /proc/meminfo (MemAvailable); 0 when missing.
int FreeMemoryFromMeminfo(std::string_view meminfo);

// The memory report's message ("over 10000 MByte" or "%d MByte") and caption.
std::string MemoryReportText(int megabytes);
constexpr const char* kMemoryReportCaption = "Available memory";

// The file history: the five most recent opens, most recent first, shown in
// the File menu as items 2151..2155 above "clear history" (2149).
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

constexpr int kHistorySize = 5;
constexpr int CMD_CLEAR_HISTORY = 2149;
constexpr int CMD_HISTORY_FIRST = 2151;  // entry k is item 2151 + k

struct FileHistoryEntry {
  std::string left;   // left or only path; empty means no entry
  std::string right;  // right path; empty for a single file
  int kind = 0;       // carried in "FileTypeHistory"; nothing depends on it
};

using FileHistory = std::array<FileHistoryEntry, kHistorySize>;

// The history of this run (loaded by LoadHistory at start-up).
extern FileHistory RecentFiles;

// A Yes/No question to the user; the main window answers it with a message
// box, tests with a scripted answer.
struct YesNoPrompt {
  enum Icon { kWarning, kQuestion };
  virtual bool AskYesNo(std::string_view text, std::string_view caption,
                        Icon icon) = 0;

 protected:
  ~YesNoPrompt() = default;
};

// Reads "FileHistory0".."FileHistory9" and "FileTypeHistory".
void LoadHistory();

// Records a shown file or pair, unless it was opened from the history (then
// FromHistory is only cleared) or `left` is empty.  An identical entry keeps
// its place; anything else goes to the top and pushes the oldest out.
void RecordOpen(std::string_view left, std::string_view right, int kind = 0);

// Asks whether to forget the history; on Yes empties and saves it.  Returns
// whether it was cleared (the window then deletes items 2151..2155).
bool ClearHistory(YesNoPrompt& prompt);

// What the File menu shows when it opens.  With no history, item 2149 is
// greyed and no entry item exists (clearing removed them); otherwise the
// items replace 2151..2155 in place, above item 2149.
struct HistoryMenuItem {
  int id;
  std::string text;
};
struct HistoryMenuModel {
  bool clearEnabled = false;
  std::vector<HistoryMenuItem> items;
};
HistoryMenuModel RebuildHistoryMenu();

// The item text of one entry: the left path, or "left/right file name".
std::string HistoryItemText(const FileHistoryEntry& entry);

#include "shell/file_history.h"


#include "resources/string_table.h"
#include "shell/settings_store.h"
#include "core/viewer_state.h"

FileHistory RecentFiles;

namespace {

constexpr int kClearQuestionString = 2510;
constexpr int kConfirmCaptionString = 2506;

std::string HistoryValueName(int index) {
  return "FileHistory" + std::to_string(index);
}

void SaveKinds() {
  std::string text;
  for (const FileHistoryEntry& entry : RecentFiles) {
    text += std::to_string(entry.kind) + ",";
  }
  WriteSetting("FileTypeHistory", text);
}

void SavePaths() {
  for (int k = 0; k < kHistorySize; ++k) {
    WriteSetting(HistoryValueName(2 * k), RecentFiles[k].left);
    WriteSetting(HistoryValueName(2 * k + 1), RecentFiles[k].right);
  }
}

}  // namespace

void LoadHistory() {
  for (int k = 0; k < kHistorySize; ++k) {
    RecentFiles[k].left = ReadPathSetting(HistoryValueName(2 * k));
    RecentFiles[k].right = ReadPathSetting(HistoryValueName(2 * k + 1));
    RecentFiles[k].kind = 0;
  }
  std::string kinds = ReadSetting("FileTypeHistory");
  size_t start = 0;
  for (int k = 0; k < kHistorySize && start < kinds.size(); ++k) {
    size_t comma = kinds.find(',', start);
    if (comma == std::string::npos) comma = kinds.size();
    RecentFiles[k].kind =
        ParseDecimal(std::string_view(kinds).substr(start, comma - start));
    start = comma + 1;
  }
}

void RecordOpen(std::string_view left, std::string_view right, int kind) {
  if (Viewer.FromHistory) {
    Viewer.FromHistory = false;
    return;
  }
  if (left.empty()) return;
  for (FileHistoryEntry& entry : RecentFiles) {
    if (entry.left == left && entry.right == right) {
      entry.kind = kind;
      SaveKinds();
      return;
    }
  }
  for (int k = kHistorySize - 1; k > 0; --k) RecentFiles[k] = RecentFiles[k - 1];
  RecentFiles[0] = {std::string(left), std::string(right), kind};
  // Every item shown passes here, the first one before it is painted.
  SettingsWriteBatch batch;
  SaveKinds();
  SavePaths();
}

bool ClearHistory(YesNoPrompt& prompt) {
  if (!prompt.AskYesNo(StringText(kClearQuestionString),
                       StringText(kConfirmCaptionString),
                       YesNoPrompt::kWarning)) {
    return false;
  }
  RecentFiles = FileHistory{};
  SettingsWriteBatch batch;
  SavePaths();
  SaveKinds();
  return true;
}

std::string HistoryItemText(const FileHistoryEntry& entry) {
  if (entry.right.empty()) return entry.left;
  size_t slash = entry.right.find_last_of('/');
  std::string_view name = entry.right;
  if (slash != std::string::npos) name.remove_prefix(slash + 1);
  return entry.left + "/" + std::string(name);
}

HistoryMenuModel RebuildHistoryMenu() {
  HistoryMenuModel model;
  if (RecentFiles[0].left.empty()) return model;
  model.clearEnabled = true;
  for (int k = 0; k < kHistorySize; ++k) {
    if (RecentFiles[k].left.empty()) continue;
    model.items.push_back({CMD_HISTORY_FIRST + k,
                           HistoryItemText(RecentFiles[k])});
  }
  return model;
}

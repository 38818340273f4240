// The open commands: the file dialogs, dropped files and the history items.
// What they open is shown by the navigation commands.
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QStringList>
#include <QTreeView>
#include <cstdio>
#include <string>
#include <vector>

#include "image/ascii_case.h"
#include "image/file_names.h"
#include "shell/command_table.h"
#include "shell/main_window.h"
#include "core/viewer_state.h"

namespace {

constexpr const char* kStereoFilter[] = {
    "Stereo Files",
    "*.jpg;*.jpeg;*.jps;*.gif;*.bmp;*.mpo;*.heic;*.heif;*.avif;*.png;*.pns;*.tif;"
    "*.tiff;*.avi; "
    "*.qt; *.mov; *.mpg; *.mpeg; *.m1v; *.wmv; *.mp4; *.mts; *.mkv; *.webm",
    "Image Files", "*.jpg;*.jpeg;*.jps;*.gif;*.bmp;*.png;*.pns;*.tif;*.tiff",
    "Video Files",
    "*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v; *.wmv; *.mp4; *.mts; *.mkv; "
    "*.webm",
    "All Files (*.*)", "*.*;"};
constexpr const char* kListFilter[] = {"Slideshow List (TXT)", "*.txt"};
constexpr const char* k360Filter[] = {"3D 360Files(jpg,mp4)",
                                     "*.jpg;*.mp4;*.webm;"};

constexpr int kOpenStereoTitle = 50;
constexpr int kOpenLeftTitle = 51;
constexpr int kOpenRightTitle = 52;
constexpr int kOpenListTitle = 53;
constexpr int kOpen360Title = 2674;
constexpr const char* kPairQuestion = "%sをステレオペアとして開きますか？";
constexpr int kConfirmCaption = 2506;

std::string AskFile(MainWindow& w, int title,
                    std::span<const char* const> filters,
                    const std::string& preset, const std::string& folder,
                    const OpenFileExtras& extras = {}) {
  // The filter the user leaves selected carries over to the next dialog and
  // decides which files browsing steps through.
  return w.Dialogs().OpenFile(&w, LoadText(title), filters, preset, folder,
                              Viewer.FilterIndex, extras);
}

void OpenFile(MainWindow& w, int) {
  Viewer.View360 = false;
  std::string path = AskFile(w, kOpenStereoTitle, kStereoFilter,
                             Viewer.OpenPath, Viewer.OpenFolder);
  if (path.empty()) return;
  Viewer.OpenPath = path;
  w.DispatchCommand(CMD_SHOW_FILE);
}

void Open360(MainWindow& w, int) {
  Viewer.View360 = true;  // stays set when the dialog is cancelled
  OpenFileExtras extras;
  extras.multipleSelection = true;
  extras.panel = [&w](QWidget* parent) {
    return w.Panorama().CreateOptionsPanel(parent);
  };
  std::string path = AskFile(w, kOpen360Title, k360Filter, Viewer.OpenPath,
                             Viewer.OpenFolder, extras);
  if (path.empty()) return;
  Viewer.OpenPath = path;
  w.PostCommand(CMD_SHOW_FILE);
}

void OpenList(MainWindow& w, int) {
  std::string path = AskFile(w, kOpenListTitle, kListFilter, Viewer.OpenPath,
                             Viewer.OpenFolder);
  if (path.empty()) return;
  Viewer.OpenPath = path;
  w.DispatchCommand(CMD_START_LIST);
}

bool OfferPartner(MainWindow& w, const std::string& candidate) {
  if (!IsFileNotFolder(candidate)) return false;
  return w.Dialogs().AskYesNo(&w, FormatText(kPairQuestion, candidate.c_str()),
                              LoadText(kConfirmCaption),
                              YesNoPrompt::kQuestion);
}

// OpenPath is the file-name field the open dialogs share: it pre-fills each
// dialog and takes what the user chose, so the pair dialogs leave it naming
// the last file chosen (the folder Eye-Fi watches, the 360 viewer's file).
void OpenPair(MainWindow& w, int) {
  Viewer.View360 = false;
  const std::string& preset =
      Viewer.LeftPath.empty() ? Viewer.OpenPath : Viewer.LeftPath;
  std::string left = AskFile(w, kOpenLeftTitle, kStereoFilter, preset,
                             Viewer.OpenFolder);
  if (left.empty()) return;
  Viewer.OpenPath = left;
  Viewer.LeftPath = left;
  Viewer.LeftFolder = FolderOf(left);
  std::vector<std::string> candidates;
  std::string partner;
  if (PartnerName(left, partner)) candidates.push_back(partner);
  if (!Viewer.RightFolder.empty() &&
      !EqualIgnoringCase(Viewer.RightFolder, Viewer.LeftFolder)) {
    std::string name = FileNameOf(left);
    candidates.push_back(Viewer.RightFolder + name);
    if (PartnerName(name, partner))
      candidates.push_back(Viewer.RightFolder + partner);
  }
  for (const std::string& candidate : candidates) {
    if (OfferPartner(w, candidate)) {
      Viewer.RightPath = candidate;
      w.DispatchCommand(CMD_SHOW_PAIR);
      return;
    }
  }
  // The right dialog offers the left file's name in the left file's folder.
  // The title shows what is chosen so far; TitleText still names the item
  // on display, for when the right dialog is cancelled.
  Viewer.OpenPath = FileNameOf(left);
  w.SetTitle(FormatText("左画像(%s)", Viewer.OpenPath.c_str()));
  std::string right = AskFile(w, kOpenRightTitle, kStereoFilter,
                              Viewer.OpenPath, Viewer.LeftFolder);
  if (right.empty()) return;
  Viewer.OpenPath = right;
  Viewer.RightPath = right;
  w.DispatchCommand(CMD_SHOW_PAIR);
}

void OpenHistoryEntry(MainWindow& w, int id) {
  const FileHistoryEntry& entry = RecentFiles[id - CMD_HISTORY_FIRST];
  if (entry.left.empty()) return;
  w.StopSlideshow();
  Viewer.FromHistory = true;
  if (!entry.right.empty()) {
    Viewer.LeftPath = entry.left;
    Viewer.RightPath = entry.right;
    w.DispatchCommand(CMD_SHOW_PAIR);
  } else {
    Viewer.OpenPath = entry.left;
    w.DispatchCommand(CMD_SHOW_FILE);
  }
}

void ClearHistoryItems(MainWindow& w, int) {
  if (ClearHistory(w.Prompt())) w.RebuildHistoryItems();
}

constexpr CommandHandlerRow kHandlers[] = {
    {CMD_CLEAR_HISTORY, CMD_CLEAR_HISTORY, ClearHistoryItems},
    {CMD_HISTORY_FIRST, CMD_HISTORY_FIRST + kHistorySize - 1,
     OpenHistoryEntry},
    {CMD_OPEN_360, CMD_OPEN_360, Open360},
    {CMD_OPEN_FILE, CMD_OPEN_FILE, OpenFile},
    {CMD_OPEN_PAIR, CMD_OPEN_PAIR, OpenPair},
    {CMD_OPEN_LIST, CMD_OPEN_LIST, OpenList},
};

}  // namespace

std::span<const CommandHandlerRow> OpenCommandHandlers() { return kHandlers; }

void FitFileDialogColumns(QFileDialog& dialog) {
  // The detail columns as wide as their texts ("153.2 KiB", not
  // "153...KiB"); the name takes the rest.
  if (auto* tree = dialog.findChild<QTreeView*>("treeView")) {
    QHeaderView* header = tree->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < header->count(); ++column)
      header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  }
}

std::string UserDialogs::OpenFile(QWidget* owner, std::string_view title,
                                  std::span<const char* const> filters,
                                  const std::string& preset,
                                  const std::string& folder, int& index,
                                  const OpenFileExtras& extras) {
  QStringList names;
  for (size_t i = 0; i + 1 < filters.size(); i += 2)
    names << QString::fromUtf8(filters[i]) + " (" +
                 QString::fromUtf8(filters[i + 1]).replace(';', ' ') + ")";
  QFileDialog dialog(owner, QString::fromUtf8(title.data(), title.size()),
                     QString::fromStdString(folder));
  // Qt's own dialog matches the patterns without case, so camera files
  // named "DSCF0001.MPO" show under "*.mpo"; a desktop's native dialog may
  // match them with case and hide them.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(extras.multipleSelection ? QFileDialog::ExistingFiles
                                             : QFileDialog::ExistingFile);
  // Qt's own dialog lays itself out on a grid: the panel takes a row of
  // its own below the file type row.
  auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
  if (QWidget* panel = extras.panel ? extras.panel(&dialog) : nullptr) {
    if (grid) grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());
    else delete panel;
  }
  dialog.setNameFilters(names);
  dialog.setDefaultSuffix("jpg");
  if (index >= 1 && index <= names.size())
    dialog.selectNameFilter(names[index - 1]);
  if (!preset.empty()) dialog.selectFile(QString::fromStdString(preset));
  FitFileDialogColumns(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return {};
  index = static_cast<int>(names.indexOf(dialog.selectedNameFilter())) + 1;
  return dialog.selectedFiles().front().toStdString();
}

void HandleDroppedFiles(MainWindow& w, const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  Viewer.OpenPath = paths[0];
  if (IsListFile(paths[0])) {
    w.PostCommand(CMD_START_LIST);
  } else if (paths.size() == 1) {
    w.PostCommand(CMD_SHOW_FILE);
  } else {
    OrderPair(paths[0], paths[1], Viewer.LeftPath, Viewer.RightPath);
    w.PostCommand(CMD_SHOW_PAIR);
  }
}

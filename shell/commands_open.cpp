// The open commands: the file dialogs, dropped files, the history items and
// a first showing of a file, a pair or a slideshow list's first entry.
// Stepping between items, transitions and movies build on these later.
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <string>
#include <vector>

#include "image/comment.h"
#include "image/file_names.h"
#include "image/mpo_reader.h"
#include "image/pair_loader.h"
#include "shell/command_table.h"
#include "shell/main_window.h"
#include "shell/viewer_state.h"
#include "slideshow/list_reader.h"

namespace {

constexpr const char* kStereoFilter[] = {
    "Stereo Files",
    "*.jpg;*.jpeg;*.jps;*.gif;*.bmp;*.mpo;*.png;*.pns;*.tif;*.tiff;*.avi; "
    "*.qt; *.mov; *.mpg; *.mpeg; *.m1v; *.wmv; *.mp4; *.mts",
    "Image Files", "*.jpg;*.jpeg;*.jps;*.gif;*.bmp;*.png;*.pns;*.tif;*.tiff",
    "Video Files",
    "*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v; *.wmv; *.mp4; *.mts",
    "All Files (*.*)", "*.*;"};
constexpr const char* kListFilter[] = {"Slideshow List (TXT)", "*.txt"};
constexpr const char* k360Filter[] = {"3D 360Files(jpg,mp4)",
                                     "*.jpg;*.mp4;*.webm;"};

constexpr int kOpenStereoTitle = 50;
constexpr int kOpenLeftTitle = 51;
constexpr int kOpenRightTitle = 52;
constexpr int kOpenListTitle = 53;
constexpr int kOpen360Title = 2674;
constexpr int kPairTitle = 2568;
constexpr int kSingleTitle = 2569;
constexpr const char* kPairQuestion = "%sをステレオペアとして開きますか？";
constexpr int kConfirmCaption = 2506;

// The filter the user left selected carries over to the next dialog and
// decides which files browsing steps through.
int filterIndex = 1;
bool mpoSource = false;

int BrowseKind() {
  if (mpoSource) return MpoAviKind;
  if (filterIndex == 2) return StillKind;
  if (filterIndex == 3) return MovieKind;
  return AllKinds;
}

// ASCII letters without case, other bytes by value; <0, 0, >0.
int CompareNoCase(std::string_view a, std::string_view b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    int d = lower(a[i]) - lower(b[i]);
    if (d) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return CompareNoCase(a, b) == 0;
}

void ReleaseAllPictures() {
  for (Picture* p : {&Viewer.CurrentLeft, &Viewer.CurrentRight,
                     &Viewer.LeftPicture, &Viewer.RightPicture})
    FreePicture(*p);
}

// What every show command does first: the slideshow stops, the parallax and
// comment of the last item go.
void ClearForNewItem(MainWindow& w, bool keepCurrent) {
  if (!keepCurrent && Viewer.SlideShowOn) {
    w.StopSlideshow();
    w.ResetTitles();
  }
  ParallaxShiftX = ParallaxShiftY = 0;
  if (keepCurrent) {
    FreePicture(Viewer.LeftPicture);
    FreePicture(Viewer.RightPicture);
  } else {
    ReleaseAllPictures();
  }
  Viewer.MovieOpen = false;
  Viewer.BackgroundDirty = true;
  CurrentComment[0] = '\0';
}

// Reads one stereo file into LeftPicture/RightPicture.
bool ReadOneFile(MainWindow& w, const std::string& path) {
  if (FileKindMatches(path, StillKind)) {
    LoadSideBySideFile(path, w.Screen());
    return static_cast<bool>(Viewer.LeftPicture);
  }
  if (FileKindMatches(path, MpoKind)) {
    if (!LoadMpoFile(path, Viewer.LeftPicture, Viewer.RightPicture))
      return false;
    mpoSource = true;
    Viewer.ShownLeftPath = path;
    Viewer.ShownRightPath.clear();
    Viewer.ShownKind = 2;
    return FitPairToScreen(w.Screen(), Viewer.LeftPicture,
                           Viewer.RightPicture) != 0;
  }
  w.SetTitle("Movie playback (" + path + "): not built yet");
  return false;
}

bool ReadPair(MainWindow& w, const std::string& left,
              const std::string& right) {
  if (FileKindMatches(left, StillKind) && FileKindMatches(right, StillKind)) {
    if (!LoadPicturePair(left, right, Viewer.LeftPicture, Viewer.RightPicture))
      return false;
    return FitPairToScreen(w.Screen(), Viewer.LeftPicture,
                           Viewer.RightPicture) != 0;
  }
  if (FileKindMatches(left, MovieKind) && FileKindMatches(right, MovieKind))
    w.SetTitle("Movie pair playback: not built yet");
  return false;  // a still and a movie show nothing
}

void InstallNewPair(MainWindow& w) {
  Viewer.CurrentLeft = std::move(Viewer.LeftPicture);
  Viewer.CurrentRight = std::move(Viewer.RightPicture);
  w.ContentShown = true;
  w.Repaint();
}

std::string Format(const char* format, auto... args) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

void SingleTitle(MainWindow& w, const std::string& path) {
  w.SetTitleText(Format(LoadText(kSingleTitle), path.c_str(), Viewer.ItemIndex + 1,
                        Viewer.ItemCount, ""));
}

void PairTitle(MainWindow& w) {
  w.SetTitleText(Format(LoadText(kPairTitle), Viewer.LeftPath.c_str(), Viewer.RightPath.c_str(),
                        Viewer.ItemIndex + 1, Viewer.ItemCount, ""));
}

void ShowFile(MainWindow& w, int) {
  Viewer.ListMode = false;
  mpoSource = false;
  ClearForNewItem(w, false);
  Viewer.OpenFolder = FolderOf(Viewer.OpenPath);
  Viewer.SourceKind = 1;
  if (Viewer.View360) {
    w.SetTitle("360-degree viewer: not built yet");
    return;
  }
  if (!ReadOneFile(w, Viewer.OpenPath)) return;
  InstallNewPair(w);
  ListFolder(Viewer.OpenPath, BrowseKind(), LeftList);
  SingleTitle(w, Viewer.OpenPath);
  RecordOpen(Viewer.OpenPath, "");
}

void ShowPair(MainWindow& w, int) {
  mpoSource = false;
  ClearForNewItem(w, false);
  Viewer.OpenFolder = FolderOf(Viewer.LeftPath);
  Viewer.SourceKind = 2;
  ListFolder(Viewer.LeftPath, BrowseKind(), LeftList);
  ListFolder(Viewer.RightPath, BrowseKind(), RightList);
  // Two neighbours of one folder: the position is the right one's.  The
  // neighbour of the last name is the first (the list wraps).
  if (Viewer.ItemCount > 0) {
    int next = (Viewer.ItemIndex + 1) % Viewer.ItemCount;
    if (SameIgnoringCase(Viewer.OpenFolder + Viewer.LeftFolderList[next],
                         Viewer.RightPath))
      Viewer.ItemIndex = next;
  }
  if (!ReadPair(w, Viewer.LeftPath, Viewer.RightPath)) return;
  InstallNewPair(w);
  PairTitle(w);
  RecordOpen(Viewer.LeftPath, Viewer.RightPath);
}

// Shows list entry ItemIndex; false when nothing could be shown.
bool ShowListEntry(MainWindow& w) {
  ListEntry entry;
  ReadListEntry(Viewer.OpenPath, Viewer.ItemIndex, entry);
  std::string folder = ListFolderOf(Viewer.OpenPath);
  if (entry.EntryKind >= 30 && entry.EntryKind <= 39) {
    w.SetTitle("360-degree list entry: not built yet");
    return false;
  }
  if (entry.EntryKind == 11) {
    Viewer.LeftPath = ResolveListName(folder, entry.EntryLeftName);
    Viewer.RightPath = ResolveListName(folder, entry.EntryRightName);
    if (!ReadPair(w, Viewer.LeftPath, Viewer.RightPath)) return false;
    InstallNewPair(w);
    PairTitle(w);
    return true;
  }
  std::string path = ResolveListName(folder, entry.EntryLeftName);
  if (!ReadOneFile(w, path)) return false;
  InstallNewPair(w);
  SingleTitle(w, path);
  return true;
}

void StartList(MainWindow& w, int) {
  ClearForNewItem(w, false);
  ReadListSettings(Viewer.OpenPath);
  Viewer.OpenFolder = FolderOf(Viewer.OpenPath);
  if (Viewer.ItemCount == 0) return;
  Viewer.ListMode = true;
  Viewer.ItemIndex = 0;
  Viewer.View360 = false;
  ShowListEntry(w);
  if (Viewer.SlideShowOn) w.StartSlideshowTimer();
}

// Reads the item on display again (after a floating-window or comment
// change), keeping the current pair until the new one is ready.
void ReloadItem(MainWindow& w, int) {
  if (!w.ContentShown) {
    w.Repaint();
    return;
  }
  ClearForNewItem(w, true);
  if (Viewer.ListMode) {
    ShowListEntry(w);
    return;
  }
  bool read = Viewer.SourceKind == 2
                  ? ReadPair(w, Viewer.LeftPath, Viewer.RightPath)
                  : ReadOneFile(w, Viewer.OpenPath);
  if (read) InstallNewPair(w);
}

std::string AskFile(MainWindow& w, int title,
                    std::span<const char* const> filters,
                    const std::string& preset, const std::string& folder) {
  return w.Dialogs().OpenFile(&w, LoadText(title), filters, preset, folder,
                              filterIndex);
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
  std::string path = AskFile(w, kOpen360Title, k360Filter, Viewer.OpenPath,
                             Viewer.OpenFolder);
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

bool IsFile(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).isFile();
}

bool OfferPartner(MainWindow& w, const std::string& candidate) {
  if (!IsFile(candidate)) return false;
  return w.Dialogs().AskYesNo(&w, Format(kPairQuestion, candidate.c_str()),
                              LoadText(kConfirmCaption),
                              YesNoPrompt::kQuestion);
}

void OpenPair(MainWindow& w, int) {
  Viewer.View360 = false;
  std::string left = AskFile(w, kOpenLeftTitle, kStereoFilter,
                             Viewer.LeftPath, Viewer.OpenFolder);
  if (left.empty()) return;
  Viewer.LeftPath = left;
  Viewer.LeftFolder = FolderOf(left);
  std::vector<std::string> candidates;
  std::string partner;
  if (PartnerName(left, partner)) candidates.push_back(partner);
  if (!Viewer.RightFolder.empty() &&
      !SameIgnoringCase(Viewer.RightFolder, Viewer.LeftFolder)) {
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
  Viewer.OpenPath = FileNameOf(left);
  w.SetTitleText(Format("左画像(%s)", Viewer.OpenPath.c_str()));
  std::string right =
      AskFile(w, kOpenRightTitle, kStereoFilter, "", Viewer.LeftFolder);
  if (right.empty()) return;
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
    {CMD_SHOW_FILE, CMD_SHOW_FILE, ShowFile},
    {CMD_OPEN_PAIR, CMD_OPEN_PAIR, OpenPair},
    {CMD_SHOW_PAIR, CMD_SHOW_PAIR, ShowPair},
    {CMD_OPEN_LIST, CMD_OPEN_LIST, OpenList},
    {CMD_START_LIST, CMD_START_LIST, StartList},
    {CMD_RELOAD_ITEM, CMD_RELOAD_ITEM, ReloadItem},
};

}  // namespace

std::span<const CommandHandlerRow> OpenCommandHandlers() { return kHandlers; }

bool GoToTypedNumber(MainWindow& w) {
  if (w.DigitLast < 0) return false;
  // Going to the typed 1-based number waits for item stepping.
  w.DigitLast = w.DigitPrev = -1;
  w.SetTitle("Going to an item by number: not built yet");
  return true;
}

std::string UserDialogs::OpenFile(QWidget* owner, std::string_view title,
                                  std::span<const char* const> filters,
                                  const std::string& preset,
                                  const std::string& folder, int& index) {
  QStringList names;
  for (size_t i = 0; i + 1 < filters.size(); i += 2)
    names << QString::fromUtf8(filters[i]) + " (" +
                 QString::fromUtf8(filters[i + 1]).replace(';', ' ') + ")";
  QFileDialog dialog(owner, QString::fromUtf8(title.data(), title.size()),
                     QString::fromStdString(folder));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(names);
  dialog.setDefaultSuffix("jpg");
  if (index >= 1 && index <= names.size())
    dialog.selectNameFilter(names[index - 1]);
  if (!preset.empty()) dialog.selectFile(QString::fromStdString(preset));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return {};
  index = static_cast<int>(names.indexOf(dialog.selectedNameFilter())) + 1;
  return dialog.selectedFiles().front().toStdString();
}

void HandleDroppedFiles(MainWindow& w, const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  Viewer.OpenPath = paths[0];
  if (FileNameOf(paths[0]).size() >= 4 &&
      SameIgnoringCase(paths[0].substr(paths[0].size() - 4), ".txt")) {
    w.PostCommand(CMD_START_LIST);
  } else if (paths.size() == 1) {
    w.PostCommand(CMD_SHOW_FILE);
  } else {
    // The name that sorts first is the left view; on a tie the first file.
    bool swap = CompareNoCase(paths[1], paths[0]) < 0;
    Viewer.LeftPath = swap ? paths[1] : paths[0];
    Viewer.RightPath = swap ? paths[0] : paths[1];
    w.PostCommand(CMD_SHOW_PAIR);
  }
}

// Showing items and stepping between them.  The browse set is the folder of
// the file opened, the two folders of a pair, or a slideshow list; ItemIndex
// is the position in it (for a pair of neighbours, the right one's).
#include "shell/navigation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "image/ascii_case.h"
#include "image/comment.h"
#include "image/file_data.h"
#include "image/file_names.h"
#include "image/mpo_reader.h"
#include "stereo/pair_loader.h"
#include "shell/command_table.h"
#include "shell/full_screen.h"
#include "shell/item_problems.h"
#include "shell/main_window.h"
#include "shell/navigation_steps.h"
#include "core/viewer_state.h"
#include "slideshow/list_reader.h"
#include "stereo/present.h"
#include "stereo/text_overlay.h"
#include "stereo/transition.h"

namespace {

constexpr const char* kErrorSuffix = "Error!";
constexpr int kPairTitle = 2568;
constexpr int kSingleTitle = 2569;
constexpr int kSlideshowNote = 2593;

// Who asks for an item: the show commands (file, pair, list start), the
// steps, or a reload of the item on display.
enum class Step { Show, Next, Previous, Reload };

// What reading an item gave.
enum class ItemRead {
  Pictures,   // a new pair waits in LeftPicture/RightPicture
  Movie,      // a movie was opened (or tried)
  Panorama,   // handed to the 360-degree viewer
  Mismatch,   // a pair that is neither two stills nor two movies
  Unreadable, // black stand-ins wait, with itemMessage saying why
  Failed,     // nothing new to show (memory ran out)
};

// One entry record for the whole show: a list line without names keeps the
// names of the entry read before it.
ListEntry showEntry;

// A movie that failed to open has said why in the title; the item's title
// is still recorded, but that report stays in view.
std::string movieReport;

// What the user is told about the item being read: a note after its title
// (why it is shown flat, or not at all) and, for a file that shows nothing,
// the lines written on the canvas in its place.
std::string itemNote;
std::vector<std::string> itemMessage;

// How many names of the folder the pair source's item on display takes: 2
// for a pair of neighbours, 1 for a stereo file shown on its own.
int pairItemWidth = 2;

// The item's title without the slideshow note, kept so that starting or
// stopping the show can put the note on or take it off.
std::string itemTitle;

// What the automatic alignment did to the item being read: shown after its
// title for a moment, once.
std::string alignmentNote;

void SetItemTitle(MainWindow& w, std::string title) {
  itemTitle = title;
  if (Viewer.SlideShowOn)
    title += FormatText(LoadText(kSlideshowNote), Viewer.nInterval / 10,
                    Viewer.nInterval % 10);
  w.SetTitleText(title);
  if (!movieReport.empty()) w.SetTitle(movieReport);
  else if (!alignmentNote.empty()) w.ShowTitleNote(alignmentNote);
  movieReport.clear();
  alignmentNote.clear();
}

int BrowseKind() {
  if (Viewer.MpoSource) return MpoAviKind;
  if (Viewer.FilterIndex == 2) return StillKind;
  if (Viewer.FilterIndex == 3) return MovieKind;
  return AllKinds;
}

int Wrap(int index, int count) { return WrapIndex(index, count); }

// Which way the user went last: the item beyond in that direction is read
// ahead.
bool lastStepForward = true;

void ReleaseCurrentPair() {
  FreePicture(Viewer.CurrentLeft);
  FreePicture(Viewer.CurrentRight);
}

// Paints the client area black: what a 360-degree item or a broken pair
// leaves behind instead of the last picture.
void FillBlack(MainWindow& w) { BlackOutFramebuffer(w); }

// What every show, step and reload does first.  The show commands also stop
// the slideshow and release the pair on display; the others keep it, as the
// picture a transition starts from.
void ClearForNewItem(MainWindow& w, Step step) {
  bool show = step == Step::Show;
  if (show && Viewer.SlideShowOn) {
    w.StopSlideshow();
    w.ResetTitles();
  }
  // A step drops the transition under way rather than finishing it: its new
  // pair is already old.
  EndTransition(w, step == Step::Show || step == Step::Reload);
  ParallaxShiftX = ParallaxShiftY = 0;
  if (Viewer.MovieOpen) w.Movie().CloseMovie();
  if (step == Step::Next || step == Step::Previous)
    NoteStepStarted(step == Step::Next);
  FreePicture(Viewer.LeftPicture);
  FreePicture(Viewer.RightPicture);
  FreeTransitionPictures();
  if (show) ReleaseCurrentPair();
  Viewer.MovieOpen = false;
  Viewer.BackgroundDirty = true;
  ClearCurrentComment();
  movieReport.clear();
  alignmentNote.clear();
  itemNote.clear();
  itemMessage.clear();
  SetItemMessage({});
}

void OpenItemMovie(MainWindow& w, const std::string& left,
                   const std::string& right, Step step) {
  if (step != Step::Show) {
    ReleaseCurrentPair();
    FitWindowToFullScreen(w);
  }
  PauseMusic(w);
  w.Prefetch().Clear();  // nothing is read ahead while a movie plays
  // At a show the 3D Vision hand-over opens the movie itself.
  if (step == Step::Show && Viewer.StereoType == NvidiaStereo) return;
  if (w.Movie().OpenMovie(left, right) != 0)
    movieReport = w.windowTitle().toStdString();
  else if (std::string flat = w.Movie().FlatReason(); !flat.empty())
    itemNote = FlatNote(flat);
}

// A file that cannot be shown: its black stand-ins wait in LeftPicture and
// RightPicture, and the canvas and the title will say why.
ItemRead Unreadable(const std::string& path, const std::string& failure) {
  std::string reason = UnreadableReason(path, failure);
  itemNote = UnreadableNote(reason);
  itemMessage = UnreadableMessage(path, reason);
  return ItemRead::Unreadable;
}

// A multi-picture file without a second view: its first picture in both
// eyes when it is a picture at all, the reason in the title.
ItemRead ReadFlatMpo(MainWindow& w, const std::string& path,
                     const std::string& mpoFailure) {
  std::string why;
  bool flat = ReadFlatPicture(path, Viewer.LeftPicture, Viewer.RightPicture,
                              why);
  if (!flat && !BlackStandIns(Viewer.LeftPicture, Viewer.RightPicture))
    return ItemRead::Failed;
  if (!FitPairToScreen(w.Screen(), Viewer.LeftPicture, Viewer.RightPicture)) {
    FreePicture(Viewer.LeftPicture);
    FreePicture(Viewer.RightPicture);
    return ItemRead::Failed;
  }
  if (!flat) return Unreadable(path, why);
  itemNote = FlatNote(UnreadableReason(path, mpoFailure));
  return ItemRead::Pictures;
}

// One stereo file into LeftPicture/RightPicture: a side-by-side still, an
// MPO, or else a movie.
ItemRead ReadSingleFile(MainWindow& w, const std::string& path, Step step) {
  if (FileKindMatches(path, StillKind)) {
    std::string failure, warning;
    LoadSideBySideItem(w, path, failure, &warning);
    if (!Viewer.LeftPicture) return ItemRead::Failed;
    if (step != Step::Show) ResumeMusic(w);
    if (failure.empty() && !warning.empty()) itemNote = PartialNote(warning);
    return failure.empty() ? ItemRead::Pictures : Unreadable(path, failure);
  }
  if (FileKindMatches(path, MpoKind)) {
    ClearLoadFailure();
    ItemRead read = ItemRead::Pictures;
    if (!LoadMpoItem(w, path)) {
      std::string failure = LastLoadFailure();
      read = ReadFlatMpo(w, path, failure.empty() ? "refused" : failure);
      if (read == ItemRead::Failed) return read;
    }
    Viewer.MpoSource = true;
    Viewer.ShownLeftPath = path;
    Viewer.ShownRightPath.clear();
    Viewer.ShownKind = 2;
    if (step != Step::Show) ResumeMusic(w);
    return read;
  }
  // A name of no known kind that is not there is no movie without a
  // decoder: it is said to be missing.
  if (!FileKindMatches(path, MovieKind) && !IsFileNotFolder(path)) {
    if (!BlackStandIns(Viewer.LeftPicture, Viewer.RightPicture))
      return ItemRead::Failed;
    return Unreadable(path, std::string("cannot open: ") +
                                std::strerror(ENOENT));
  }
  OpenItemMovie(w, path, "", step);
  return ItemRead::Movie;
}

// LeftPath and RightPath: two stills or two movies.
ItemRead ReadPairFiles(MainWindow& w, Step step) {
  const std::string& left = Viewer.LeftPath;
  const std::string& right = Viewer.RightPath;
  if (FileKindMatches(left, StillKind) && FileKindMatches(right, StillKind)) {
    PairFailures unreadable;
    if (!LoadPairItem(w, left, right, unreadable)) return ItemRead::Failed;
    if (step != Step::Show) ResumeMusic(w);
    if (unreadable.left.empty() && unreadable.right.empty())
      return ItemRead::Pictures;
    // The eye that was read is shown beside the other's black stand-in.
    UnreadablePair(left, unreadable.left, right, unreadable.right, itemMessage,
                   itemNote);
    return ItemRead::Unreadable;
  }
  if (FileKindMatches(left, MovieKind) && FileKindMatches(right, MovieKind)) {
    OpenItemMovie(w, left, right, step);
    return ItemRead::Movie;
  }
  return ItemRead::Mismatch;
}

// The new pair replaces the one on display.
void InstallNewPair(MainWindow& w) {
  if (!Viewer.LeftPicture || !Viewer.RightPicture) return;
  Viewer.CurrentLeft = std::move(Viewer.LeftPicture);
  Viewer.CurrentRight = std::move(Viewer.RightPicture);
  SetItemMessage(itemMessage);
  w.ContentShown = true;
  w.Repaint();
  NoteItemOnScreen(w);
}

void ShowPanorama(MainWindow& w, const std::string& path, bool swap) {
  w.Panorama().Show(path, swap);
}

// The list entry in showEntry.
ItemRead ShowEntry(MainWindow& w, Step step) {
  const ListEntry& entry = showEntry;
  // A reload reads a 360-degree entry like any one-file entry.
  if (entry.EntryKind >= 30 && entry.EntryKind <= 39 && step != Step::Reload) {
    Viewer.View360 = true;
    Viewer.n360mode = entry.EntryKind - 30;
    Viewer.ItemPath = ResolveListName(Viewer.OpenFolder, entry.EntryLeftName);
    if (FileKindMatches(Viewer.ItemPath, MovieKind)) PauseMusic(w);
    else if (step != Step::Show) ResumeMusic(w);
    if (step != Step::Show) FillBlack(w);
    SingleTitle(w, Viewer.ItemPath);
    ShowPanorama(w, Viewer.ItemPath, entry.EntrySwap != 0);
    return ItemRead::Panorama;
  }
  if (entry.EntryKind == 11) {
    Viewer.LeftPath = ResolveListName(Viewer.OpenFolder, entry.EntryLeftName);
    Viewer.RightPath =
        ResolveListName(Viewer.OpenFolder, entry.EntryRightName);
    ItemRead read = ReadPairFiles(w, step);
    if (read != ItemRead::Failed) PairTitle(w, itemNote.c_str());
    return read;
  }
  Viewer.ItemPath = ResolveListName(Viewer.OpenFolder, entry.EntryLeftName);
  ItemRead read = ReadSingleFile(w, Viewer.ItemPath, step);
  if (read != ItemRead::Failed) SingleTitle(w, Viewer.ItemPath, itemNote.c_str());
  return read;
}

// A folder opened without anything in it to show: says so on the canvas
// and in the title, with nothing to step through.
void ShowEmptyFolder(MainWindow& w) {
  Viewer.ListMode = false;
  Viewer.MpoSource = false;
  ClearForNewItem(w, Step::Show);
  CloseMusic(w);
  std::string folder = Viewer.OpenPath;
  if (folder.back() != '/') folder += '/';
  Viewer.OpenFolder = Viewer.ItemPath = folder;
  Viewer.SourceKind = 1;
  ListFolder(folder, BrowseKind(), LeftList);
  FitWindowToFullScreen(w);
  Viewer.FromHistory = false;
  // Nothing has been shown: a reload or a format change only repaints.
  w.ContentShown = false;
  if (!BlackStandIns(Viewer.LeftPicture, Viewer.RightPicture)) return;
  itemMessage = EmptyFolderMessage(folder);
  InstallNewPair(w);
  w.ContentShown = false;
  SetItemTitle(w, "(" + folder + ")  " + EmptyFolderNote());
}

// Where browsing stood when the 360 viewer was opened over an item: leaving
// the viewer with Esc returns there, so that the panorama does not become
// the item that Space and BackSpace step from.  The fields tied here are
// that place: copied out when the viewer opens, assigned back on leaving.
auto BrowsePlaceFields() {
  return std::tie(Viewer.ListMode, Viewer.MpoSource, Viewer.SourceKind,
                  Viewer.ItemIndex, Viewer.ItemCount, Viewer.RightIndex,
                  Viewer.RightCount, pairItemWidth, Viewer.LeftFolderList,
                  Viewer.RightFolderList, Viewer.LeftFolder,
                  Viewer.RightFolder, Viewer.OpenFolder, Viewer.OpenPath,
                  Viewer.ItemPath, Viewer.LeftPath, Viewer.RightPath);
}
using BrowsePlace = decltype(std::apply(
    [](auto&... field) { return std::make_tuple(field...); },
    BrowsePlaceFields()));
std::optional<BrowsePlace> placeBefore360;

void RememberPlaceBefore360(MainWindow& w) {
  if (placeBefore360 || !w.ContentShown) return;
  placeBefore360 = BrowsePlaceFields();
}

void LeaveViewer360(MainWindow& w, int) {
  if (!placeBefore360) {
    // Opened over the item on display (Ctrl+Alt+P), or with nothing
    // before it: the window shows what it has.
    w.Repaint();
    return;
  }
  BrowsePlaceFields() = std::move(*placeBefore360);
  placeBefore360.reset();
  Viewer.View360 = false;
  w.ContentShown = true;
  // The panorama closed the list's music; back in the list it plays again,
  // from its start, as when the list was opened.
  if (Viewer.ListMode && !Viewer.BgmPlaying && !Viewer.BgmPath.empty() &&
      w.Music().Open(Viewer.BgmPath))
    Viewer.BgmPlaying = true;
  w.DispatchCommand(CMD_RELOAD_ITEM);
}

void ShowFile(MainWindow& w, int) {
  bool firstLook = std::exchange(w.FirstLookAllowed, false);
  if (Viewer.View360) RememberPlaceBefore360(w);
  else placeBefore360.reset();
  // A folder opens at its first file, as a file of it would.
  if (!Viewer.View360 && IsFolderPath(Viewer.OpenPath)) {
    std::string first = FirstItemOfFolder(Viewer.OpenPath);
    if (first.empty()) return ShowEmptyFolder(w);
    Viewer.OpenPath = first;
  }
  Viewer.ListMode = false;
  Viewer.MpoSource = false;
  ClearForNewItem(w, Step::Show);
  CloseMusic(w);
  Viewer.OpenFolder = FolderOf(Viewer.OpenPath);
  Viewer.SourceKind = 1;
  Viewer.ItemPath = Viewer.OpenPath;
  FitWindowToFullScreen(w);
  if (Viewer.View360) {
    ListFolder(Viewer.OpenPath, JpgMp4Kind, LeftList);
    w.Panorama().ShowFullScreen(Viewer.OpenPath, Viewer.n360swap != 0);
    Viewer.FromHistory = false;
    return;
  }
  WantFirstLook(firstLook && Viewer.StereoType != NvidiaStereo);
  ItemRead read = ReadSingleFile(w, Viewer.OpenPath, Step::Show);
  WantFirstLook(false);
  if (read == ItemRead::Failed) {
    // The flag was about this open only; left set it would keep the next
    // file opened from a dialog out of the history.
    Viewer.FromHistory = false;
    return;
  }
  InstallNewPair(w);
  ListFolder(Viewer.OpenPath, BrowseKind(), LeftList);
  SingleTitle(w, Viewer.OpenPath, itemNote.c_str());
  w.ContentShown = true;
  if (Viewer.StereoType == NvidiaStereo) HandOverToStereoOutput(w);
  RecordOpen(Viewer.OpenPath, "");
  lastStepForward = true;
  PrefetchNextItem(w, lastStepForward);
}

void ShowPair(MainWindow& w, int) {
  bool firstLook = std::exchange(w.FirstLookAllowed, false);
  placeBefore360.reset();
  // A pair leaves list playing, and its browse set is never the MPO set of
  // a file opened before it: that set could not hold the pair's files.
  Viewer.ListMode = false;
  Viewer.MpoSource = false;
  ClearForNewItem(w, Step::Show);
  FitWindowToFullScreen(w);
  Viewer.OpenFolder = Viewer.LeftFolder = FolderOf(Viewer.LeftPath);
  Viewer.RightFolder = FolderOf(Viewer.RightPath);
  Viewer.SourceKind = 2;
  pairItemWidth = 2;
  ListFolder(Viewer.LeftPath, BrowseKind(), LeftList);
  ListFolder(Viewer.RightPath, BrowseKind(), RightList);
  // Two neighbours of one folder: the position is the right one's.  The
  // neighbour of the last name is the first, as stepping wraps.
  int next = Wrap(Viewer.ItemIndex + 1, Viewer.ItemCount);
  if (Viewer.ItemCount > 0 &&
      EqualIgnoringCase(FolderEntry(Viewer.OpenFolder, next), Viewer.RightPath))
    Viewer.ItemIndex = next;
  WantFirstLook(firstLook && Viewer.StereoType != NvidiaStereo);
  ItemRead read = ReadPairFiles(w, Step::Show);
  WantFirstLook(false);
  if (read == ItemRead::Failed) {
    Viewer.FromHistory = false;  // about this open only, as above
    return;
  }
  if (read == ItemRead::Mismatch) FillBlack(w);  // a still and a movie
  InstallNewPair(w);
  PairTitle(w, itemNote.c_str());
  w.ContentShown = true;
  if (Viewer.StereoType == NvidiaStereo) HandOverToStereoOutput(w);
  RecordOpen(Viewer.LeftPath, Viewer.RightPath);
  lastStepForward = true;
  PrefetchNextItem(w, lastStepForward);
}

void StartList(MainWindow& w, int) {
  w.FirstLookAllowed = false;  // a list's first item is read whole
  placeBefore360.reset();
  CloseMusic(w);
  ClearForNewItem(w, Step::Show);
  ReadListSettings(Viewer.OpenPath);
  Viewer.OpenFolder = FolderOf(Viewer.OpenPath);
  if (Viewer.ItemCount == 0) return;
  if (!Viewer.BgmPath.empty() && w.Music().Open(Viewer.BgmPath))
    Viewer.BgmPlaying = true;
  Viewer.ListMode = true;
  Viewer.ItemIndex = 0;
  showEntry = ListEntry();
  ReadListEntry(Viewer.OpenPath, 0, showEntry);
  if (showEntry.EntryInterval > 0 && Viewer.SlideShowOn) {
    Viewer.nInterval = showEntry.EntryInterval;
    w.StartSlideshowTimer();
  }
  FitWindowToFullScreen(w);
  Viewer.View360 = false;
  ItemRead read = ShowEntry(w, Step::Show);
  if (read != ItemRead::Panorama) {
    InstallNewPair(w);  // the entry has set the titles
    w.ContentShown = true;
  }
  if (Viewer.SlideShowOn) w.StartSlideshowTimer();
  if (read != ItemRead::Panorama && Viewer.StereoType == NvidiaStereo)
    HandOverToStereoOutput(w);
  lastStepForward = true;
  if (read == ItemRead::Pictures) PrefetchNextItem(w, lastStepForward);
}

// The next or previous file of a single-file source.
ItemRead StepSingle(MainWindow& w, Step step) {
  Viewer.ItemPath = FolderEntry(Viewer.OpenFolder, Viewer.ItemIndex);
  if (Viewer.ItemPath.empty()) return ItemRead::Failed;
  if (Viewer.View360) {
    SingleTitle(w, Viewer.ItemPath);
    ShowPanorama(w, Viewer.ItemPath, Viewer.n360swap != 0);
    return ItemRead::Panorama;
  }
  ItemRead read = ReadSingleFile(w, Viewer.ItemPath, step);
  if (read != ItemRead::Failed) SingleTitle(w, Viewer.ItemPath, itemNote.c_str());
  return read;
}

// The next or previous pair of a pair source.  Two folders step side by
// side while the right folder has the file; otherwise the pair is two
// neighbours of the left folder with ItemIndex on the right one.
ItemRead StepPair(MainWindow& w, Step step) {
  PairPathsForStep(step == Step::Next, Viewer.ItemIndex, Viewer.RightIndex,
                   Viewer.LeftPath, Viewer.RightPath, pairItemWidth);
  if (Viewer.RightPath.empty()) {  // a stereo file on its own
    Viewer.ItemPath = Viewer.LeftPath;
    ItemRead read = ReadSingleFile(w, Viewer.ItemPath, step);
    if (read != ItemRead::Failed)
      SingleTitle(w, Viewer.ItemPath, itemNote.c_str());
    return read;
  }
  PairTitle(w);
  ItemRead read = ReadPairFiles(w, step);
  movieReport.clear();  // the title came first: a movie's report is in view
  if (read == ItemRead::Unreadable) PairTitle(w, itemNote.c_str());
  if (read == ItemRead::Mismatch) {
    ReleaseCurrentPair();
    FillBlack(w);
    PairTitle(w, kErrorSuffix);
  }
  return read;
}

void StepItem(MainWindow& w, int id) {
  // Nothing to step through: also keeps the index inside an empty list.
  if (Viewer.ItemCount <= 0) return;
  Step step = id == CMD_NEXT ? Step::Next : Step::Previous;
  lastStepForward = step == Step::Next;
  ClearForNewItem(w, step);
  if (step == Step::Next) {
    if (Viewer.ItemIndex + 1 >= Viewer.ItemCount && !Viewer.ListRepeat) {
      w.PostCommand(CMD_EXIT);  // the show is over
      return;
    }
    Viewer.ItemIndex = Wrap(Viewer.ItemIndex + 1, Viewer.ItemCount);
    Viewer.RightIndex = Wrap(Viewer.RightIndex + 1, Viewer.RightCount);
  } else {
    int item = std::min(Viewer.ItemIndex, Viewer.ItemCount);
    int right = std::min(Viewer.RightIndex, Viewer.RightCount);
    Viewer.ItemIndex = Wrap(item - 1, Viewer.ItemCount);
    Viewer.RightIndex = Wrap(right - 1, Viewer.RightCount);
  }
  ItemRead read;
  if (Viewer.ListMode) {
    ReadListEntry(Viewer.OpenPath, Viewer.ItemIndex, showEntry);
    if (showEntry.EntryInterval > 0 && Viewer.SlideShowOn) {
      Viewer.nInterval = showEntry.EntryInterval;
      w.StartSlideshowTimer();
    }
    Viewer.View360 = false;
    read = ShowEntry(w, step);
  } else if (Viewer.SourceKind == 1) {
    read = StepSingle(w, step);
  } else {
    read = StepPair(w, step);
  }
  if (read == ItemRead::Unreadable) {
    InstallNewPair(w);  // no transition into a stand-in
    PrefetchNextItem(w, lastStepForward);
    return;
  }
  if (read != ItemRead::Pictures) return;
  // Transitions run forward only, between two still pairs at fitted size.
  if (!Viewer.MovieOpen && Viewer.CurrentLeft && Viewer.CurrentRight &&
      step == Step::Next && Viewer.nEFType > 0 &&
      Viewer.ActualSizeToggle == 0) {
    StartTransition(w);
  } else {
    InstallNewPair(w);
  }
  PrefetchNextItem(w, lastStepForward);
}

// Reads the item on display again (after a floating-window or comment
// change), keeping the current pair until the new one is ready.  The paths
// of the item on display are read, so a pair that was not two neighbours,
// or a file outside the browse set, comes back as it was.
void ReloadItem(MainWindow& w, int) {
  if (!w.ContentShown) {
    w.Repaint();
    return;
  }
  ClearForNewItem(w, Step::Reload);
  ItemRead read;
  if (Viewer.ListMode) {
    ReadListEntry(Viewer.OpenPath, Viewer.ItemIndex, showEntry);
    read = ShowEntry(w, Step::Reload);
  } else if (Viewer.SourceKind == 1) {
    if (Viewer.View360) {
      ShowPanorama(w, Viewer.ItemPath, Viewer.n360swap != 0);
      return;
    }
    read = ReadSingleFile(w, Viewer.ItemPath, Step::Reload);
    if (read != ItemRead::Failed)
      SingleTitle(w, Viewer.ItemPath, itemNote.c_str());
  } else if (Viewer.RightPath.empty()) {  // a stereo file of a pair source
    read = ReadSingleFile(w, Viewer.LeftPath, Step::Reload);
    if (read != ItemRead::Failed)
      SingleTitle(w, Viewer.LeftPath, itemNote.c_str());
  } else {
    read = ReadPairFiles(w, Step::Reload);
    if (read != ItemRead::Failed)
      PairTitle(w, read == ItemRead::Mismatch ? kErrorSuffix : itemNote.c_str());
  }
  if ((read == ItemRead::Pictures || read == ItemRead::Unreadable) &&
      !Viewer.MovieOpen) {
    InstallNewPair(w);
    PrefetchNextItem(w, lastStepForward);
  } else {
    w.Repaint();
  }
}

void EyeFiMode(MainWindow& w, int) {
  Viewer.EyeFiOn = !Viewer.EyeFiOn;
  w.ResetTitles();
  if (Viewer.EyeFiOn) {
    w.SetTitle("Eye Fi Mode");
    w.EyeFiTimer().start(kEyeFiTickMs);
  } else {
    w.EyeFiTimer().stop();
  }
}

void MovieEnded(MainWindow& w, int) {
  w.PostCommand(CMD_NEXT);
  w.StartSlideshowTimer();  // the next item gets a full interval
}

constexpr CommandHandlerRow kHandlers[] = {
    {CMD_MOVIE_ENDED, CMD_MOVIE_ENDED, MovieEnded},
    {CMD_SHOW_FILE, CMD_SHOW_FILE, ShowFile},
    {CMD_SHOW_PAIR, CMD_SHOW_PAIR, ShowPair},
    {CMD_NEXT, CMD_PREVIOUS, StepItem},
    {CMD_START_LIST, CMD_START_LIST, StartList},
    {CMD_RELOAD_ITEM, CMD_RELOAD_ITEM, ReloadItem},
    {CMD_LEAVE_360, CMD_LEAVE_360, LeaveViewer360},
    {CMD_EYEFI, CMD_EYEFI, EyeFiMode},
};

}  // namespace

const ListEntry& ShownListEntry() { return showEntry; }

void NoteItemAlignment(std::string note) { alignmentNote = std::move(note); }

int ShownPairItemWidth() { return pairItemWidth; }

void SingleTitle(MainWindow& w, const std::string& path, const char* suffix) {
  SetItemTitle(w, FormatText(LoadText(kSingleTitle), path.c_str(),
                         Viewer.ItemIndex + 1, Viewer.ItemCount, suffix));
}

void AppendItemNote(MainWindow& w, const std::string& note) {
  // The item title ends in its suffix's place: an empty suffix leaves the
  // gap before it.
  if (!itemTitle.empty()) SetItemTitle(w, itemTitle + note);
}

void RefreshSlideshowNote(MainWindow& w) {
  if (!itemTitle.empty()) SetItemTitle(w, itemTitle);
}

void PairTitle(MainWindow& w, const char* suffix) {
  SetItemTitle(w, FormatText(LoadText(kPairTitle), Viewer.LeftPath.c_str(),
                         Viewer.RightPath.c_str(), Viewer.ItemIndex + 1,
                         Viewer.ItemCount, suffix));
}

std::span<const CommandHandlerRow> NavigationCommandHandlers() {
  return kHandlers;
}

bool GoToTypedNumber(MainWindow& w) {
  if (w.DigitLast < 0) return false;
  // The next-item command below adds one: a typed 1-based number n lands
  // on index n - 1, and anything out of range on the first item.  One past
  // the last counts as out of range too: stepping from the last item would
  // end a show that does not repeat.
  int target = w.DigitLast + 10 * std::max(w.DigitPrev, 0) - 2;
  Viewer.ItemIndex =
      target < -1 || target >= Viewer.ItemCount - 1 ? -1 : target;
  w.DigitLast = w.DigitPrev = -1;
  w.DispatchCommand(CMD_NEXT);
  return true;
}

void HandOverToStereoOutput(MainWindow& w) {
  std::string left, right;
  bool movie = Viewer.MovieOpen;
  if (movie) {
    // The output plays the movie's files itself; its last frame stays.
    w.Movie().CloseMovie();
    left = Viewer.ShownLeftPath;
    right = Viewer.ShownRightPath;
  } else {
    bool pair = Viewer.ListMode ? showEntry.EntryKind == 11
                                : Viewer.SourceKind == 2;
    left = pair ? Viewer.LeftPath : Viewer.ItemPath;
    right = pair ? Viewer.RightPath : std::string();
    movie = FileKindMatches(left, MovieKind) != 0;
  }
  w.Output().RunStereoOutput(left, right, movie ? 0 : 1);
  if (movie) w.Movie().OpenMovie(left, right);
}

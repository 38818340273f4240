// The load step of navigation through the window's prefetcher, reading
// ahead after each item shown, and the opt-in step timing log.
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/file_names.h"
#include "image/mpo_reader.h"
#include "shell/command_table.h"
#include "shell/first_look.h"
#include "shell/item_problems.h"
#include "shell/item_prefetch.h"
#include "shell/main_window.h"
#include "shell/navigation.h"
#include "shell/navigation_steps.h"
#include "core/viewer_state.h"
#include "slideshow/list_messages.h"
#include "slideshow/list_reader.h"

namespace {

bool EnvironmentSays(const char* name, bool otherwise) {
  const char* value = std::getenv(name);
  if (!value || !*value) return otherwise;
  return value[0] != '0';
}

// DUORAMIC_PREFETCH=0 turns reading ahead off, to time the viewer without.
bool PrefetchOn() {
  static const bool on = EnvironmentSays("DUORAMIC_PREFETCH", true);
  return on;
}

ItemRequest RequestNow(MainWindow& w, ItemShape shape, const std::string& left,
                       const std::string& right = {}) {
  return MakeItemRequest(shape, left, right, CurrentFitSettings(w.Screen()),
                         CurrentComment);
}

bool TakeEarlyItem(const ItemRequest& request, PreparedItem& item);

// The item read ahead, or early beside start-up; with automatic alignment
// or convergence on, an item not read ahead is read here the same way,
// since only that path lines views up.
bool TakeReadAhead(MainWindow& w, const ItemRequest& request,
                   PreparedItem& item) {
  bool aligning = request.fit.autoAlign || request.fit.autoConverge;
  if (!TakeEarlyItem(request, item) && !w.Prefetch().Take(request, item) &&
      !(aligning && PrepareItem(request, item)))
    return false;
  NoteItemAlignment(item.alignTitle);
  // DUORAMIC_ALIGN_LOG set: what the alignment did to each item shown.
  static const bool alignLog = EnvironmentSays("DUORAMIC_ALIGN_LOG", false);
  if (alignLog && !item.alignNote.empty())
    std::fprintf(stderr, "duoramic-align: %s: %s\n", request.left.c_str(),
                 item.alignNote.c_str());
  StoreCurrentComment(item.comment);
  ParallaxShiftX = item.shiftX;
  ParallaxShiftY = item.shiftY;
  return true;
}

// The request for one stereo file, as ReadSingleFile would read it.
std::optional<ItemRequest> FileRequest(const std::string& path,
                                       const FitSettings& fit,
                                       std::string_view comment) {
  if (path.empty()) return std::nullopt;
  if (FileKindMatches(path, StillKind))
    return MakeItemRequest(ItemShape::SideBySide, path, {}, fit, comment);
  if (FileKindMatches(path, MpoKind))
    return MakeItemRequest(ItemShape::Mpo, path, {}, fit, comment);
  return std::nullopt;  // a movie
}

std::optional<ItemRequest> PairRequest(const std::string& left,
                                       const std::string& right,
                                       const FitSettings& fit,
                                       std::string_view comment) {
  if (!FileKindMatches(left, StillKind) || !FileKindMatches(right, StillKind))
    return std::nullopt;
  return MakeItemRequest(ItemShape::Pair, left, right, fit, comment);
}

// Reading a list entry sets the comment and the panorama and width
// settings; here they are read into a copy and the settings put back, with
// any warning about the list kept for the step itself.
std::optional<ItemRequest> ListEntryRequest(int index, const ScreenSize& screen) {
  ListEntry entry = ShownListEntry();
  int toggle = Viewer.ActualSizeToggle, zoom = Viewer.ZoomPercent;
  int widthMode = Viewer.WidthMode;
  bool fitToWindow = Viewer.FitToWindow;
  ListMessageSink& sink = CurrentListMessageSink();
  SetListMessageSink(nullptr);
  std::string comment;
  FitSettings fit;
  {
    CommentCapture capture;
    ReadListEntry(Viewer.OpenPath, index, entry);
    comment = capture.Text();
    fit = CurrentFitSettings(screen);
  }
  SetListMessageSink(&sink);
  Viewer.ActualSizeToggle = toggle;
  Viewer.ZoomPercent = zoom;
  Viewer.WidthMode = widthMode;
  Viewer.FitToWindow = fitToWindow;
  if (entry.EntryKind >= 30 && entry.EntryKind <= 39) return std::nullopt;
  std::string left = ResolveListName(Viewer.OpenFolder, entry.EntryLeftName);
  if (entry.EntryKind != 11) return FileRequest(left, fit, comment);
  std::string right = ResolveListName(Viewer.OpenFolder, entry.EntryRightName);
  return PairRequest(left, right, fit, comment);
}

// Step timing: DUORAMIC_TIMING set prints one line to standard error for
// each item shown, once the event loop has painted it.
using Clock = std::chrono::steady_clock;
std::optional<Clock::time_point> stepStart;
bool stepForward = true;
bool stepReadAhead = false;

bool TimingOn() {
  static const bool on = EnvironmentSays("DUORAMIC_TIMING", false);
  return on;
}

// A show that may draw a first look says so around its read; the first
// look on display waits for the exact item of this request.
bool firstLookWanted = false;
std::optional<ItemRequest> firstLookExact;
bool firstLookForward = true;  // where reading ahead goes once it is in

// How often the window looks for the exact item, and how long its reading
// waits for the first look to be painted.
constexpr int kFirstLookPollMs = 4;
constexpr int kExactReadLatestMs = 100;

// The first item read beside the window's own start-up: its first look, or
// the item itself when no first look is to be had (a small picture).  The
// show's load takes it when it asks for exactly this item.
struct EarlyRead {
  ItemRequest request;
  PreparedItem item;
  bool firstLook = false;  // `item` is a first look
  bool read = false;
  std::thread thread;
};
std::optional<EarlyRead> earlyRead;

// Waits for the early read (once: a read of the other kind stays to be
// taken after it is waited for).
void AwaitEarlyRead() {
  if (earlyRead && earlyRead->thread.joinable()) earlyRead->thread.join();
}

void DropEarlyRead() {
  AwaitEarlyRead();
  earlyRead.reset();
}

// The early read of `request`, waited for, when it is of the kind asked
// for.  `tried` says whether one was made for this very item; one for
// another item is dropped.
bool TakeEarlyRead(const ItemRequest& request, bool firstLook,
                   PreparedItem& item, bool& tried) {
  tried = false;
  if (!earlyRead) return false;
  AwaitEarlyRead();
  if (!(earlyRead->request == request)) {
    earlyRead.reset();
    return false;
  }
  tried = true;
  if (earlyRead->firstLook != firstLook) return false;  // the other kind
  bool read = earlyRead->read;
  if (read) item = std::move(earlyRead->item);
  earlyRead.reset();
  return read;
}

bool TakeEarlyItem(const ItemRequest& request, PreparedItem& item) {
  bool tried = false;
  return TakeEarlyRead(request, false, item, tried);
}

// Undoes what a first look that could not be placed stored.
void ForgetPlacedLook() {
  ClearCurrentComment();
  ParallaxShiftX = ParallaxShiftY = 0;
  FreePicture(Viewer.LeftPicture);
  FreePicture(Viewer.RightPicture);
}

// The item read and scaled, into LeftPicture/RightPicture placed for the
// floating window with its comment and parallax, as the loads leave them.
bool PlacePreparedItem(const ItemRequest& request, PreparedItem& item) {
  StoreCurrentComment(item.comment);
  ParallaxShiftX = item.shiftX;
  ParallaxShiftY = item.shiftY;
  if (request.shape == ItemShape::SideBySide)
    return ShowScaledSideBySide(request.left, std::move(item.left)) != 0;
  Viewer.LeftPicture = std::move(item.left);
  Viewer.RightPicture = std::move(item.right);
  return PlaceScaledPair(Viewer.LeftPicture, Viewer.RightPicture) != 0;
}

// The first look of the item, when the show wants one and one is to be
// had; the exact item is then read once it is on screen.
bool LoadFirstLook(const ItemRequest& request) {
  if (!std::exchange(firstLookWanted, false)) return false;
  PreparedItem look;
  bool tried = false;
  if (!TakeEarlyRead(request, true, look, tried) &&
      (tried || !ReadFirstLook(request, look)))
    return false;
  if (!PlacePreparedItem(request, look)) {
    ForgetPlacedLook();
    return false;
  }
  firstLookExact = request;
  return true;
}

void ReadExactItem(MainWindow& w) {
  if (!firstLookExact) return;
  w.Prefetch().Request(*firstLookExact);
  w.FirstLookTimer().start(kFirstLookPollMs);
}

}  // namespace

bool LoadMpoItem(MainWindow& w, const std::string& path) {
  PreparedItem item;
  ItemRequest request = RequestNow(w, ItemShape::Mpo, path);
  if (LoadFirstLook(request)) return true;
  if (TakeReadAhead(w, request, item)) {
    stepReadAhead = true;
    Viewer.LeftPicture = std::move(item.left);
    Viewer.RightPicture = std::move(item.right);
    PlaceScaledPair(Viewer.LeftPicture, Viewer.RightPicture);
    return true;
  }
  if (!LoadMpoFile(path, Viewer.LeftPicture, Viewer.RightPicture))
    return false;
  FitPairToScreen(w.Screen(), Viewer.LeftPicture, Viewer.RightPicture);
  return true;
}

bool LoadSideBySideItem(MainWindow& w, const std::string& path,
                        std::string& unreadable, std::string* warning) {
  PreparedItem item;
  ItemRequest request = RequestNow(w, ItemShape::SideBySide, path);
  if (warning) warning->clear();
  if (LoadFirstLook(request)) {
    unreadable.clear();
    return true;
  }
  if (TakeReadAhead(w, request, item)) {
    stepReadAhead = true;
    unreadable = item.unreadable;
    if (warning) *warning = item.warning;
    return ShowScaledSideBySide(path, std::move(item.left)) != 0;
  }
  ClearLoadWarning();
  bool loaded = LoadSideBySideFile(path, w.Screen(), &unreadable) != 0;
  if (warning && unreadable.empty()) *warning = LastLoadWarning();
  return loaded;
}

bool LoadPairItem(MainWindow& w, const std::string& left,
                  const std::string& right, PairFailures& unreadable) {
  PreparedItem item;
  ItemRequest request = RequestNow(w, ItemShape::Pair, left, right);
  bool firstLook = LoadFirstLook(request);
  if (firstLook || TakeReadAhead(w, request, item)) {
    stepReadAhead = !firstLook;
    unreadable = {item.unreadable, item.unreadableRight};
    if (!firstLook) {
      Viewer.LeftPicture = std::move(item.left);
      Viewer.RightPicture = std::move(item.right);
      PlaceScaledPair(Viewer.LeftPicture, Viewer.RightPicture);
    }
    Viewer.ShownKind = 2;
    Viewer.ShownLeftPath = left;
    Viewer.ShownRightPath = right;
    return true;
  }
  if (!LoadPicturePair(left, right, Viewer.LeftPicture, Viewer.RightPicture,
                       &unreadable))
    return false;
  FitPairToScreen(w.Screen(), Viewer.LeftPicture, Viewer.RightPicture);
  return true;
}

void PrefetchNextItem(MainWindow& w, bool forward) {
  if (firstLookExact) {
    // The exact item is read first, and only once the first look is on
    // screen: until then nothing competes with drawing it.  Reading ahead
    // follows when the exact item is in.
    firstLookForward = forward;
    w.AfterNextPaint([&w] { ReadExactItem(w); }, kExactReadLatestMs);
    return;
  }
  if (!PrefetchOn() || Viewer.MovieOpen || Viewer.View360 ||
      Viewer.ItemCount <= 0)
    return;
  int count = Viewer.ItemCount;
  int item = Viewer.ItemIndex, right = Viewer.RightIndex;
  // The index arithmetic of a step (StepItem).
  if (forward) {
    if (item + 1 >= count && !Viewer.ListRepeat) return;  // the show ends
    item = WrapIndex(item + 1, count);
    right = WrapIndex(right + 1, Viewer.RightCount);
  } else {
    item = WrapIndex(std::min(item, count) - 1, count);
    right = WrapIndex(std::min(right, Viewer.RightCount) - 1,
                      Viewer.RightCount);
  }
  ScreenSize screen = w.Screen();
  std::optional<ItemRequest> request;
  if (Viewer.ListMode) {
    request = ListEntryRequest(item, screen);
  } else if (Viewer.SourceKind == 1) {
    request = FileRequest(FolderEntry(Viewer.OpenFolder, item),
                          CurrentFitSettings(screen), {});
  } else {
    std::string left, rightPath;
    int itemWidth = ShownPairItemWidth();
    PairPathsForStep(forward, item, right, left, rightPath, itemWidth);
    FitSettings fit = CurrentFitSettings(screen);
    request = rightPath.empty() ? FileRequest(left, fit, {})
                                : PairRequest(left, rightPath, fit, {});
  }
  if (request) w.Prefetch().Request(*request);
}

void NoteStepStarted(bool forward) {
  if (!TimingOn()) return;
  stepStart = Clock::now();
  stepForward = forward;
  stepReadAhead = false;
}

void NoteItemOnScreen(MainWindow& w) {
  if (!TimingOn() || !stepStart) return;
  Clock::time_point start = *stepStart;
  stepStart.reset();
  bool forward = stepForward, readAhead = stepReadAhead;
  // Queued behind the paint that update() has asked for.
  QMetaObject::invokeMethod(
      &w,
      [start, forward, readAhead] {
        double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - start)
                .count();
        std::fprintf(stderr, "duoramic-timing: %s to pixels %.1f ms%s\n",
                     forward ? "next" : "previous", ms,
                     readAhead ? " (read ahead)" : "");
      },
      Qt::QueuedConnection);
}

void WantFirstLook(bool wanted) {
  firstLookWanted = wanted;
  // The show is read: an early first look it did not take is of no use.
  if (!wanted) DropEarlyRead();
}

bool FirstLookOnDisplay() { return firstLookExact.has_value(); }

void FirstLookTick(MainWindow& w) {
  // Read, or given up by the reader: either way the wait is over.
  if (!firstLookExact || w.Prefetch().Holds(*firstLookExact) ||
      !w.Prefetch().Reading())
    FinishFirstLook(w);
}

void FinishFirstLook(MainWindow& w) {
  w.FirstLookTimer().stop();
  if (!firstLookExact) return;
  ItemRequest request = std::move(*firstLookExact);
  firstLookExact.reset();
  PreparedItem item;
  bool read = w.Prefetch().Take(request, item) || PrepareItem(request, item);
  if (read && item.unreadable.empty() && item.unreadableRight.empty() &&
      PlacePreparedItem(request, item)) {
    Viewer.CurrentLeft = std::move(Viewer.LeftPicture);
    Viewer.CurrentRight = std::move(Viewer.RightPicture);
    w.Repaint();
    if (!item.warning.empty()) AppendItemNote(w, PartialNote(item.warning));
    PrefetchNextItem(w, firstLookForward);
    return;
  }
  // The whole picture could not be had as the first look was (the file
  // changed, or memory ran out): the first look goes, and the item is read
  // again the ordinary way, which says why when it cannot be shown.
  ForgetPlacedLook();
  FreePicture(Viewer.CurrentLeft);
  FreePicture(Viewer.CurrentRight);
  w.DispatchCommand(CMD_RELOAD_ITEM);
}

void StartEarlyRead(const FirstShow& show, const ScreenSize& screen) {
  if (earlyRead) return;
  FitSettings fit = CurrentFitSettings(screen);
  std::optional<ItemRequest> request;
  auto has = [&](int id) {
    return std::find(show.commands.begin(), show.commands.end(), id) !=
           show.commands.end();
  };
  if (has(CMD_SHOW_FILE)) request = FileRequest(show.openPath, fit, {});
  if (has(CMD_SHOW_PAIR))
    request = PairRequest(show.leftPath, show.rightPath, fit, {});
  if (!request) return;
  EarlyRead& early = earlyRead.emplace();
  early.request = std::move(*request);
  try {
    early.thread = std::thread([&early] {
      early.firstLook = ReadFirstLook(early.request, early.item);
      if (!early.firstLook) early.item = PreparedItem{};
      early.read = early.firstLook || PrepareItem(early.request, early.item);
    });
  } catch (const std::system_error&) {
    earlyRead.reset();  // the show reads the item itself
  }
}

void ForgetFirstLook(MainWindow& w) {
  DropEarlyRead();
  w.FirstLookTimer().stop();
  firstLookExact.reset();
  firstLookWanted = false;
}

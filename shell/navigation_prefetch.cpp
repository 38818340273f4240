// The load step of navigation through the window's prefetcher, reading
// ahead after each item shown, and the opt-in step timing log.
#include <QMetaObject>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "image/comment.h"
#include "image/file_names.h"
#include "image/mpo_reader.h"
#include "shell/item_prefetch.h"
#include "shell/main_window.h"
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

// The item read ahead; with automatic alignment or convergence on, an item
// not read ahead is read here the same way, since only that path lines
// views up.
bool TakeReadAhead(MainWindow& w, const ItemRequest& request,
                   PreparedItem& item) {
  bool aligning = request.fit.autoAlign || request.fit.autoConverge;
  if (!w.Prefetch().Take(request, item) &&
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

}  // namespace

bool LoadMpoItem(MainWindow& w, const std::string& path) {
  PreparedItem item;
  if (TakeReadAhead(w, RequestNow(w, ItemShape::Mpo, path), item)) {
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
                        std::string& unreadable) {
  PreparedItem item;
  if (TakeReadAhead(w, RequestNow(w, ItemShape::SideBySide, path), item)) {
    stepReadAhead = true;
    unreadable = item.unreadable;
    return ShowScaledSideBySide(path, std::move(item.left)) != 0;
  }
  return LoadSideBySideFile(path, w.Screen(), &unreadable) != 0;
}

bool LoadPairItem(MainWindow& w, const std::string& left,
                  const std::string& right, PairFailures& unreadable) {
  PreparedItem item;
  if (TakeReadAhead(w, RequestNow(w, ItemShape::Pair, left, right), item)) {
    stepReadAhead = true;
    unreadable = {item.unreadable, item.unreadableRight};
    Viewer.LeftPicture = std::move(item.left);
    Viewer.RightPicture = std::move(item.right);
    Viewer.ShownKind = 2;
    Viewer.ShownLeftPath = left;
    Viewer.ShownRightPath = right;
    PlaceScaledPair(Viewer.LeftPicture, Viewer.RightPicture);
    return true;
  }
  if (!LoadPicturePair(left, right, Viewer.LeftPicture, Viewer.RightPicture,
                       &unreadable))
    return false;
  FitPairToScreen(w.Screen(), Viewer.LeftPicture, Viewer.RightPicture);
  return true;
}

void PrefetchNextItem(MainWindow& w, bool forward) {
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

// The view commands: stereo format, swap, zoom and fit, width modes,
// smoothing, comment and help toggles, the floating window, slideshow on/off,
// typed digits, and closing.  Commands whose feature is still to come say so
// in the title rather than doing nothing.
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <string>

#include "platform/desktop_open.h"
#include "shell/command_table.h"
#include "shell/full_screen.h"
#include "shell/main_window.h"
#include "shell/navigation.h"
#include "shell/navigation_steps.h"
#include "shell/settings_store.h"
#include "core/viewer_state.h"
#include "stereo/geometry.h"
#include "stereo/present.h"
#include "stereo/stereo_format.h"

namespace {

constexpr int kHelpUnavailable = 8;
constexpr int kErrorCaption = 2505;
constexpr int kSwapRefused = 2705;

// While a movie plays, each frame is drawn on the streaming thread from the
// format, the swap, the widths, the zoom and the flags below: the commands
// change them under the presentation's lock, never across a dialog or a
// repaint that may wait for that thread.
template <typename Change>
void ChangeView(Change change) {
  PresentationLock hold(Presentation.lock);
  change();
}

void SelectFormat(MainWindow& w, int id) {
  if (!FindStereoFormat(id - CMD_FORMAT_FIRST)) {
    w.ReportNotBuilt(id);  // 1008, 1025, 1026: no such format
    return;
  }
  if (id == CMD_FORMAT_FIRST + NvidiaStereo && Viewer.SlideShowOn) {
    w.StopSlideshow();
    w.ResetTitles();
  }
  ChangeView([id] { Viewer.StereoType = id - CMD_FORMAT_FIRST; });
  WriteSetting("StereoType", std::to_string(Viewer.StereoType));
  FitWindowToFullScreen(w);
  if (Viewer.StereoType == NvidiaStereo && w.ContentShown) {
    HandOverToStereoOutput(w);
    return;
  }
  w.Repaint();
}

void Swap(MainWindow& w, int) {
  if (Viewer.StereoType == Source) {
    const char* text = LoadText(kSwapRefused);
    w.Dialogs().Message(&w, text, LoadText(kErrorCaption), true);
    return;
  }
  ChangeView([] { Viewer.SwapLR = !Viewer.SwapLR; });
  w.Repaint();
}

void Zoom(MainWindow& w, int id) {
  switch (id) {
    case CMD_ZOOM_IN: ZoomIn(); break;
    case CMD_ZOOM_OUT: ZoomOut(); break;
    case CMD_FIT: ZoomToWindow(); break;
    case CMD_ACTUAL_SIZE: ZoomActualSize(); break;
  }
  w.Repaint();
}

void PanoramaSize(MainWindow& w, int) {
  if (Viewer.MovieOpen) return;
  ChangeView([] { Viewer.ActualSizeToggle = Viewer.ActualSizeToggle ? 0 : 1; });
  if (Viewer.ActualSizeToggle) ZoomActualSize();
  else ZoomToWindow();
  w.Repaint();
}

void Width(MainWindow& w, int id) {
  int& mode = Viewer.WidthMode;
  ChangeView([id, &mode] {
    if (id == CMD_DOUBLE_WIDTH) mode = mode == 0 ? 5 : 0;
    else if (id == CMD_HALF_WIDTH) mode = mode == 0 ? 6 : 0;
    else mode = mode == 0 ? 6 : mode == 6 ? 5 : 0;
    Viewer.BackgroundDirty = true;
  });
  // A launch mode fixes the width for its run only.
  if (Viewer.LaunchMode == 0) WriteSetting("nDisp", std::to_string(mode));
  w.Repaint();
}

void Smoothing(MainWindow& w, int) {
  ChangeView([] { Viewer.SmoothingOn = !Viewer.SmoothingOn; });
  if (Viewer.SmoothingOn) w.SetTitle("High Quality Mode");
  else w.ResetTitles();
  w.Repaint();
}

// The views are lined up and shifted as they are read: read the item
// again.
void AutoAlign(MainWindow& w, int id) {
  bool align = id == CMD_AUTO_ALIGN;
  int& on = align ? Viewer.AutoAlign : Viewer.AutoConverge;
  on = on ? 0 : 1;
  WriteSetting(align ? "AutoAlign" : "AutoConverge", std::to_string(on));
  if (Viewer.MovieOpen || Viewer.View360) w.Repaint();
  else w.DispatchCommand(CMD_RELOAD_ITEM);
  // After the reload, which puts the item's own title back; the reloaded
  // item's note of what was done, when there is one, says it already.
  if (w.TitleNoteShowing()) return;
  const char* what = align ? (on ? "Auto Alignment ON" : "Auto Alignment OFF")
                           : (on ? "Auto Convergence ON"
                                 : "Auto Convergence OFF");
  if (on) {
    w.SetTitle(what);
    w.ShowCanvasNote(what);
  } else {
    w.ResetTitles();
    w.ShowTitleNote(what);
  }
}

void Comment(MainWindow& w, int) {
  if (Viewer.SlideShowOn) {
    w.StopSlideshow();
    w.ResetTitles();
  }
  ChangeView([] {
    Viewer.CommentOn = !Viewer.CommentOn;
    Viewer.BackgroundDirty = true;
  });
  // The comment band is part of the fitted pictures: read the item again.
  if (Viewer.MovieOpen) w.Repaint();
  else w.DispatchCommand(CMD_RELOAD_ITEM);
}

void HelpOverlay(MainWindow& w, int) {
  ChangeView([] {
    Viewer.HelpOverlayOn = !Viewer.HelpOverlayOn;
    Viewer.BackgroundDirty = true;
  });
  if (!Viewer.MovieOpen) {
    // The overlay needs a pair to draw over, even before anything is shown.
    if (!Viewer.CurrentLeft) Viewer.CurrentLeft = CreatePicture(600, 600, 24);
    if (!Viewer.CurrentRight)
      Viewer.CurrentRight = CreatePicture(600, 600, 24);
  }
  w.Repaint();
}

void FloatingWindow(MainWindow& w, int id) {
  // While a slideshow runs the arrows only stop it.
  if (Viewer.SlideShowOn) {
    w.StopSlideshow();
    w.ResetTitles();
    return;
  }
  ChangeView([id] {
    if (id == CMD_FLOAT_BACK) Viewer.FloatOffset -= 1;
    else if (id == CMD_FLOAT_FORWARD) Viewer.FloatOffset += 1;
    else Viewer.FloatOffset = 0;
    Viewer.BackgroundDirty = true;
  });
  if (Viewer.MovieOpen) w.Repaint();
  else w.DispatchCommand(CMD_RELOAD_ITEM);
}

void Slideshow(MainWindow& w, int) {
  Viewer.SlideShowOn = !Viewer.SlideShowOn;
  RefreshSlideshowNote(w);
  if (Viewer.SlideShowOn) {
    w.PostCommand(CMD_NEXT);  // advance at once
    w.StartSlideshowTimer();
  } else {
    w.SlideshowTimer().stop();
  }
}

void Digit(MainWindow& w, int id) {
  if (Viewer.ItemCount <= 0) return;
  w.DigitPrev = w.DigitLast;
  w.DigitLast = id - CMD_DIGIT_FIRST;
}

void MemoryReport(MainWindow& w, int) {
  w.Dialogs().Message(&w, MemoryReportText(MeasureFreeMemory()),
                      kMemoryReportCaption, true);
}

void HelpFile(MainWindow& w, int) {
  std::string path = w.HelpFilePath;
  auto unavailable = [&w, path] {
    w.Dialogs().Message(&w, LoadText(kHelpUnavailable), path, true);
  };
  if (!QFileInfo(QString::fromStdString(path)).isFile()) return unavailable();
  // No browser to show it is found out only once xdg-open has looked.
  OpenWithDesktop(&w, QUrl::fromLocalFile(QString::fromStdString(path)),
                  unavailable);
}

void Exit(MainWindow& w, int) { w.close(); }

constexpr CommandHandlerRow kHandlers[] = {
    {CMD_FORMAT_FIRST, CMD_FORMAT_LAST, SelectFormat},
    {CMD_MEMORY_REPORT, CMD_MEMORY_REPORT, MemoryReport},
    {CMD_HELP_OVERLAY, CMD_HELP_OVERLAY, HelpOverlay},
    // The menu's help item toggles the same overlay as F1 and H.
    {CMD_HELP_MENU_ITEM, CMD_HELP_MENU_ITEM, HelpOverlay},
    {CMD_SWAP, CMD_SWAP, Swap},
    {CMD_HELP_FILE, CMD_HELP_FILE, HelpFile},
    {CMD_EXIT, CMD_EXIT, Exit},
    {CMD_SLIDESHOW, CMD_SLIDESHOW, Slideshow},
    {CMD_FIT, CMD_ZOOM_OUT, Zoom},
    {CMD_FLOAT_BACK, CMD_FLOAT_FORWARD, FloatingWindow},
    {CMD_FLOAT_RESET, CMD_FLOAT_RESET_DOWN, FloatingWindow},
    {CMD_COMMENT, CMD_COMMENT, Comment},
    {CMD_DOUBLE_WIDTH, CMD_DOUBLE_WIDTH, Width},
    {CMD_HALF_WIDTH, CMD_HALF_WIDTH, Width},
    {CMD_WIDTH_CYCLE, CMD_WIDTH_CYCLE, Width},
    {CMD_SMOOTHING, CMD_SMOOTHING, Smoothing},
    {CMD_AUTO_ALIGN, CMD_AUTO_CONVERGE, AutoAlign},
    {CMD_PANORAMA_SIZE, CMD_PANORAMA_SIZE, PanoramaSize},
    {CMD_DIGIT_FIRST, CMD_DIGIT_LAST, Digit},
};

}  // namespace

std::span<const CommandHandlerRow> ViewCommandHandlers() { return kHandlers; }

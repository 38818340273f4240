// Full screen: on the window's own monitor or over the chosen monitors, and
// the dialog in which the monitors are chosen.
#include "shell/full_screen.h"

#include <QGuiApplication>
#include <QEvent>
#include <QMenuBar>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <span>
#include <vector>

#include "shell/command_table.h"
#include "shell/main_window.h"
#include "shell/monitor_dialog.h"
#include "shell/monitors.h"
#include "shell/output_slices.h"
#include "core/viewer_state.h"
#include "platform/window_manager.h"
#include "stereo/present.h"
#include "stereo/stereo_format.h"

namespace {

// The client size before full screen, and whether the window had a place
// then (SavedWindowRect is the frame's rectangle).  A window put in full
// screen as it first appears has had neither a frame from the window
// manager nor a position from the program.
QSize savedClientSize;
QPoint savedFrameOffset;  // the client's corner inside the frame
bool savedPlaced = false;

std::vector<DesktopRect> ScreenRects() {
  std::vector<DesktopRect> rects;
  for (QScreen* screen : QGuiApplication::screens())
    rects.push_back(FromQRect(screen->geometry()));
  return rects;
}

// A window manager keeps a maximised window at the work area's size
// whatever geometry it is given: full screen leaves that state and gives it
// back afterwards.
bool restoreMaximised = false;

// Whether full screen is the window system's own state on one output rather
// than a frameless window placed on the rectangle.  Wayland places windows
// itself and ignores positions: there a screen-sized window is not full
// screen (panels stay over it, and the compositor may put it anywhere).
bool systemFullScreen = false;

QScreen* ScreenWithGeometry(const DesktopRect& rect) {
  for (QScreen* screen : QGuiApplication::screens())
    if (FromQRect(screen->geometry()) == rect) return screen;
  return nullptr;
}

// On X11 the window manager's state serves for one monitor, where a
// manager that takes it runs (it hides panels and lets a compositing
// manager show the window directly); over several monitors, or with no
// manager, the frameless window placed on the rectangle does.
bool UseSystemFullScreen() {
  QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("wayland")) return true;
  if (platform != QLatin1String("xcb")) return false;
  return ScreenWithGeometry(Viewer.FullScreenRect) &&
         WindowManagerTakesFullScreen();
}

// The output the one full-screen window goes to.  The window's own screen
// is the compositor's word for where it is; its position is not known.
QScreen* FullScreenOutput(MainWindow& w, int id) {
  QScreen* own = w.screen() ? w.screen() : QGuiApplication::primaryScreen();
  if (id == CMD_FULL_SCREEN_HERE || !own) return own;
  std::vector<DesktopRect> screens = ScreenRects();
  int holding = -1;
  for (size_t i = 0; i < screens.size(); ++i)
    if (screens[i] == FromQRect(own->geometry())) holding = int(i);
  int chosen = OutputForFullScreen(KnownMonitors(), Viewer.MonitorSelected,
                                   Viewer.FullScreenRect, holding);
  if (chosen < 0) return own;
  QScreen* screen = ScreenWithGeometry(KnownMonitors()[chosen]);
  return screen ? screen : own;
}

// Qt's Wayland plugin gives a window that leaves full screen a new buffer,
// with the frame, once the compositor answers, and fills it from what it
// repaints then: a canvas painted before the answer came stayed black.  So
// every expose of the window repaints the canvas.
class RepaintCanvasOnExpose : public QObject {
 public:
  explicit RepaintCanvasOnExpose(MainWindow& w) : QObject(&w), window_(w) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Expose && window_.centralWidget())
      window_.centralWidget()->update();
    return false;
  }

 private:
  MainWindow& window_;
};

void RepaintOnExposes(MainWindow& w) {
  QWindow* handle = w.windowHandle();
  if (!handle || handle->property("duoramicRepaintOnExpose").toBool()) return;
  handle->setProperty("duoramicRepaintOnExpose", true);
  handle->installEventFilter(new RepaintCanvasOnExpose(w));
}

// Full screen as the compositor's state on `screen`: it covers panels and
// sends the window its size, and Qt draws no frame in it.  The window keeps
// its flags: changing them would make Qt replace the native window, which
// loses the place the compositor gave it.
void ShowFullScreenOn(MainWindow& w, QScreen* screen) {
  w.setWindowState(w.windowState() & ~Qt::WindowMaximized);
  if (screen) {
    w.setScreen(screen);
    // An X11 window manager takes a window to full screen on the monitor
    // it is on (Wayland has no positions to give).
    if (QGuiApplication::platformName() == QLatin1String("xcb") &&
        !screen->geometry().contains(w.frameGeometry().center()))
      w.move(screen->geometry().topLeft());
  }
  RepaintOnExposes(w);
  w.showFullScreen();
}

// The chosen monitors that are outputs Qt knows, when there are several.
std::vector<QScreen*> ChosenOutputs() {
  std::vector<QScreen*> outputs;
  std::span<const DesktopRect> monitors = KnownMonitors();
  for (size_t i = 0; i < monitors.size(); ++i)
    if (Viewer.MonitorSelected[i])
      if (QScreen* screen = ScreenWithGeometry(monitors[i]))
        outputs.push_back(screen);
  if (outputs.size() < 2) outputs.clear();
  return outputs;
}

// The chosen monitors as one composition: the window full screen on one of
// them, a slice window on each of the others.
void SpreadOverOutputs(MainWindow& w, QScreen* own,
                       const std::vector<QScreen*>& outputs) {
  QRect span = ToQRect(Viewer.FullScreenRect);
  std::vector<OutputSlice> others;
  for (QScreen* screen : outputs)
    if (screen != own)
      others.push_back({screen, screen->geometry().topLeft() - span.topLeft()});
  ShowOutputSlices(w, span, own->geometry().topLeft() - span.topLeft(),
                   others);
}

void EnterFullScreen(MainWindow& w, int id) {
  if (id == CMD_FULL_SCREEN_HERE) {
    Viewer.FullScreenRect = MonitorRectOf(w);
  } else {
    EnumerateMonitors();
    ComputeFullScreenRect();
    if (!Viewer.ControlPanelVisible) {
      // The user keeps a control surface on the monitor the window came
      // from when full screen goes elsewhere.
      Viewer.WindowMonitorRect = MonitorRectOf(w);
      if (Viewer.WindowMonitorRect != Viewer.FullScreenRect)
        w.ShowControlPanel();
    }
  }
  // Without any monitor known, the window's own monitor is better than a
  // window of no size.
  if (Viewer.FullScreenRect.IsEmpty()) Viewer.FullScreenRect = MonitorRectOf(w);

  {
    PresentationLock hold(Presentation.lock);  // a movie's frames read it
  Viewer.FullScreen = true;
  }
  // The frame's rectangle, as the user placed it: restoring the client's
  // position instead would put the title bar above it, off the top of the
  // screen for a window at the top.  A maximised window keeps the place it
  // had before it was maximised, and is maximised again afterwards.
  restoreMaximised = w.isMaximized();
  savedFrameOffset = w.geometry().topLeft() - w.frameGeometry().topLeft();
  QRect client = restoreMaximised ? w.normalGeometry() : w.geometry();
  Viewer.SavedWindowRect = FromQRect(
      QRect(client.topLeft() - savedFrameOffset,
            client.size() + (w.frameGeometry().size() - w.geometry().size())));
  savedClientSize = client.size();
  savedPlaced =
      w.testAttribute(Qt::WA_Moved) || w.frameGeometry() != w.geometry();
  w.menuBar()->hide();
  w.centralWidget()->setCursor(Qt::BlankCursor);
  systemFullScreen = UseSystemFullScreen();
  if (systemFullScreen) {
    // One window covers one output here: several chosen outputs get one
    // window each, all showing parts of the one composition.
    QScreen* output = FullScreenOutput(w, id);
    std::vector<QScreen*> outputs;
    if (id == CMD_FULL_SCREEN_CHOSEN && output) outputs = ChosenOutputs();
    if (!outputs.empty())
      SpreadOverOutputs(w, output, outputs);
    else if (output)
      Viewer.FullScreenRect = FromQRect(output->geometry());
    ShowFullScreenOn(w, output);
    MarkBackgroundDirty();
    w.raise();
    w.activateWindow();
    return;
  }
  // A frameless window given the rectangle covers it, with or without a
  // window manager and across monitors, which a window manager's full-screen
  // state would not do.
  w.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  w.setWindowState(w.windowState() & ~Qt::WindowMaximized);
  FitWindowToFullScreen(w);
  w.show();
  w.raise();
  w.activateWindow();
}

// The window system keeps the place of a window it placed: only the size
// and the maximised state go back.
void LeaveSystemFullScreen(MainWindow& w) {
  w.setWindowState(Qt::WindowNoState);
  w.resize(savedClientSize);
  if (restoreMaximised)
    w.showMaximized();
  else
    w.showNormal();
  MarkBackgroundDirty();
  w.raise();
  w.activateWindow();
}

void LeaveFullScreen(MainWindow& w) {
  {
    PresentationLock hold(Presentation.lock);  // a movie's frames read it
  Viewer.FullScreen = false;
  }
  w.menuBar()->show();
  if (systemFullScreen) {
    systemFullScreen = false;
    CloseOutputSlices(w);
    w.centralWidget()->unsetCursor();
    LeaveSystemFullScreen(w);
    return;
  }
  DesktopRect monitor = MonitorRectOf(w);
  w.setWindowFlags(Qt::Window);
  w.centralWidget()->unsetCursor();
  // The frame goes back where it was; a window that never had one is
  // centred on its monitor, frame and all on the screen.
  QPoint frame(Viewer.SavedWindowRect.left, Viewer.SavedWindowRect.top);
  if (!savedPlaced)
    frame = QPoint(
        monitor.left + std::max(0, (monitor.Width() - savedClientSize.width()) / 2),
        monitor.top + std::max(0, (monitor.Height() - savedClientSize.height()) / 2));
  // A window that went full screen before the window manager's placement
  // reached it has a frame position of its client's corner less the frame;
  // the title bar always starts on the monitor.
  std::vector<DesktopRect> screens = ScreenRects();
  int holding = MonitorHolding(screens, Viewer.SavedWindowRect);
  if (holding >= 0) monitor = screens[holding];
  frame.rx() = std::max(frame.x(), monitor.left);
  frame.ry() = std::max(frame.y(), monitor.top);
  // The client's rectangle for that frame: the window manager keeps a
  // client where the program puts it and draws the frame around it.
  w.setGeometry(QRect(frame + savedFrameOffset, savedClientSize));
  if (restoreMaximised)
    w.setWindowState(w.windowState() | Qt::WindowMaximized);
  MarkBackgroundDirty();
  w.show();
  w.raise();
  w.activateWindow();
}

void FullScreenKey(MainWindow& w, int id) {
  if (GoToTypedNumber(w)) return;
  ToggleFullScreen(w, id);
}

void MonitorSetup(MainWindow& w, int) {
  EnumerateMonitors();
  MonitorDialog dialog(&w);
  w.Dialogs().RunModal(dialog);
}

constexpr CommandHandlerRow kHandlers[] = {
    {CMD_MONITOR_SETUP, CMD_MONITOR_SETUP, MonitorSetup},
    {CMD_FULL_SCREEN_HERE, CMD_FULL_SCREEN_HERE, FullScreenKey},
    {CMD_FULL_SCREEN_CHOSEN, CMD_FULL_SCREEN_CHOSEN, FullScreenKey},
};

}  // namespace

DesktopRect FromQRect(const QRect& r) {
  return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

QRect ToQRect(const DesktopRect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

std::span<const CommandHandlerRow> FullScreenCommandHandlers() {
  return kHandlers;
}

void EnumerateMonitors() { SetMonitorTable(ScreenRects()); }

DesktopRect MonitorRectOf(const QWidget& window) {
  std::vector<DesktopRect> screens = ScreenRects();
  int index = MonitorHolding(screens, FromQRect(window.frameGeometry()));
  if (index >= 0) return screens[index];
  if (QScreen* primary = QGuiApplication::primaryScreen())
    return FromQRect(primary->geometry());
  return FromQRect(window.frameGeometry());
}

void FitWindowToFullScreen(MainWindow& w) {
  MarkBackgroundDirty();
  if (!Viewer.FullScreen) return;
  // The compositor sizes a window in its full-screen state.
  if (!systemFullScreen) w.setGeometry(ToQRect(Viewer.FullScreenRect));
  w.centralWidget()->update();
}

void ToggleFullScreen(MainWindow& w, int id) {
  // With the shutter-glasses output open, its window is what full screen
  // means to the user: the key closes it and the main window stays as it is.
  if (Viewer.StereoType == NvidiaStereo && w.Output().StereoWindowActive()) {
    w.Output().CloseStereoWindow();
    return;
  }
  if (Viewer.FullScreen) LeaveFullScreen(w);
  else EnterFullScreen(w, id);
}

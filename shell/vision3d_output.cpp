#include "shell/vision3d_output.h"

#include <QEventLoop>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>

#include "platform/gl_stereo_driver.h"
#include "shell/command_table.h"
#include "shell/main_window.h"
#include "shell/startup.h"
#include "core/viewer_state.h"
#include "stereo/geometry.h"
#include "stereo/present.h"
#include "stereo/vision3d_surface.h"

namespace {

constexpr char kTitle[] = "QRX 3D Vision";
constexpr char kErrorCaption[] = "QRX 3D Vision Error";

// The main window's command for a key released over the output's window;
// 0 for keys the window handles itself.
int CommandOfKey(int key) {
  if (key >= Qt::Key_0 && key <= Qt::Key_9)
    return CMD_DIGIT_FIRST + (key - Qt::Key_0);
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return CMD_FULL_SCREEN_CHOSEN;
    case Qt::Key_Home:
    case Qt::Key_Up: return CMD_FLOAT_RESET;
    case Qt::Key_Left: return CMD_FLOAT_BACK;
    case Qt::Key_Right: return CMD_FLOAT_FORWARD;
    case Qt::Key_Down: return CMD_FLOAT_RESET_DOWN;
    case Qt::Key_A: return CMD_SLIDESHOW;
    case Qt::Key_T: return CMD_COMMENT;
    case Qt::Key_F2: return CMD_MOVIE_PAUSE;
    case Qt::Key_F3: return CMD_MOVIE_RESTART;
  }
  return 0;
}

void SetZoom(int percent) {
  Viewer.ZoomPercent = percent;
  Viewer.FitToWindow = false;
  Viewer.BackgroundDirty = true;
}

}  // namespace

Vision3dWindow::Vision3dWindow(Vision3dOutput& output) : output_(output) {
  setTitle(kTitle);
  setCursor(Qt::BlankCursor);
}

bool Vision3dWindow::event(QEvent* event) {
  if (event->type() == QEvent::Close) output_.Closing();
  return QWindow::event(event);
}

void Vision3dWindow::exposeEvent(QExposeEvent*) {
  if (isExposed()) output_.PresentAgain();
}

void Vision3dWindow::keyPressEvent(QKeyEvent* event) {
  MainWindow& main = output_.Main();
  switch (event->key()) {
    case Qt::Key_Shift: modifiers_ |= 1; break;
    case Qt::Key_Control: modifiers_ |= 2; break;
    case Qt::Key_Backspace:
      main.DispatchCommand(modifiers_ ? CMD_STEP_BACKWARD : CMD_PREVIOUS);
      break;
    case Qt::Key_Space:
      if (!modifiers_) main.DispatchCommand(CMD_NEXT);
      else if (!main.Movie().StepPending()) main.DispatchCommand(CMD_STEP_FORWARD);
      break;
  }
}

void Vision3dWindow::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) return;
  int key = event->key();
  if (key == Qt::Key_Shift) modifiers_ &= ~1;
  if (key == Qt::Key_Control) modifiers_ &= ~2;
  if (int id = CommandOfKey(key)) {
    output_.Main().DispatchCommand(id);
    return;
  }
  switch (key) {
    case Qt::Key_Escape: close(); return;
    case Qt::Key_PageUp: ZoomIn(); break;
    case Qt::Key_PageDown: ZoomOut(); break;
    case Qt::Key_F:
      Viewer.FitToWindow = true;
      Viewer.BackgroundDirty = true;
      break;
    case Qt::Key_H:
    case Qt::Key_F1: Viewer.HelpOverlayOn = !Viewer.HelpOverlayOn; break;
    case Qt::Key_J: SetZoom(100); break;
    case Qt::Key_W: SetZoom(200); break;
    case Qt::Key_M:
      if (!(modifiers_ & 1)) return;
      Viewer.WidthMode = Viewer.WidthMode == 0 ? 5 : 0;
      Viewer.BackgroundDirty = true;
      break;
    case Qt::Key_X: Viewer.SwapLR = !Viewer.SwapLR; break;
    default: return;
  }
  output_.PresentAgain();
}

void Vision3dWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    output_.Main().DispatchCommand(CMD_MOVIE_PAUSE);
  else if (event->button() == Qt::RightButton)
    output_.Main().DispatchCommand(CMD_MOVIE_RESTART);
}

void Vision3dWindow::wheelEvent(QWheelEvent* event) {
  if (event->angleDelta().y() > 0) ZoomIn();
  else if (event->angleDelta().y() < 0) ZoomOut();
  else return;
  output_.PresentAgain();
}

Vision3dOutput::Vision3dOutput(MainWindow& main, StereoDriverFactory factory)
    : main_(main), factory_(std::move(factory)) {
  if (!factory_)
    factory_ = [](QWindow& window) -> std::unique_ptr<StereoDriver> {
      return std::make_unique<GlStereoDriver>(window);
    };
}

Vision3dOutput::~Vision3dOutput() {
  if (loop_) loop_->quit();
}

bool Vision3dOutput::StereoWindowActive() const {
  return Vision3d.StereoWindowActive.load();
}

void Vision3dOutput::CloseStereoWindow() {
  if (window_) window_->close();
}

void Vision3dOutput::PresentAgain() {
  if (!StereoWindowActive()) return;
  if (Viewer.MovieOpen) PresentMovieFrame();
  else PresentStereoPair(Viewer.CurrentLeft, Viewer.CurrentRight);
}

void Vision3dOutput::ShowFirstItem() {
  if (!window_) return;
  Vision3d.StereoWindowActive = true;
  if (still_) PresentStereoPair(Viewer.CurrentLeft, Viewer.CurrentRight);
  else main_.Movie().OpenMovie(left_, right_);
}

void Vision3dOutput::Closing() {
  // Where the movie was, for the main window to carry on from.
  if (Viewer.MovieOpen)
    Viewer.MovieSeekMs = int(main_.Movie().PositionSeconds() * 1000);
  if (loop_) loop_->quit();
}

bool Vision3dOutput::Start(int eyeWidth, int eyeHeight) {
  window_ = std::make_unique<Vision3dWindow>(*this);
  driver_ = factory_(*window_);
  StereoStatus status = driver_->Start(eyeWidth, eyeHeight);
  const char* text = nullptr;
  const char* caption = kErrorCaption;
  switch (status) {
    case StereoStatus::Enabled: break;
    case StereoStatus::Disabled:
      main_.Dialogs().Message(&main_,
                              "Stereo is available but not enabled\n"
                              "Let's enable it",
                              "Stereo not enabled", true);
      driver_->Enable();
      break;
    case StereoStatus::Unavailable:
      text = "Stereo is not available\n"
             "Make sure the stereo driver is installed correctly";
      caption = "Stereo not available";
      break;
    case StereoStatus::NoDevice:
      text = "Failed to create the OpenGL context.";
      break;
  }
  if (!text) return true;
  main_.Dialogs().Message(&main_, text, caption, true);
  driver_.reset();
  window_.reset();
  return false;
}

void Vision3dOutput::RunStereoOutput(const std::string& left,
                                     const std::string& right, int still) {
  if (window_) {
    // Already showing: a new item from the main window takes its place.
    if (still) PresentAgain();
    else main_.Movie().OpenMovie(left, right);
    return;
  }
  left_ = left;
  right_ = right;
  still_ = still != 0;
  QScreen* screen = main_.screen();
  if (!screen) return;
  QSize eye = screen->size() * screen->devicePixelRatio();
  if (!Start(eye.width(), eye.height())) return;

  Vision3d.EyeWidth = eye.width();
  Vision3d.EyeHeight = eye.height();
  Vision3d.driver = driver_.get();
  Vision3d.SurfaceNeeded = true;
  Viewer.FitToWindow = true;
  Viewer.BackgroundDirty = true;
  window_->setScreen(screen);
  window_->setGeometry(screen->geometry());
  window_->showFullScreen();
  window_->requestActivate();

  QEventLoop loop;
  loop_ = &loop;
  QTimer redraw;
  QObject::connect(&redraw, &QTimer::timeout, [this] {
    if (!Viewer.MovieOpen) PresentAgain();
  });
  QTimer::singleShot(0, window_.get(), [this] { ShowFirstItem(); });
  redraw.start(redrawMs_);
  loop.exec();
  loop_ = nullptr;
  redraw.stop();
  Finish();
}

void Vision3dOutput::Finish() {
  if (Viewer.MovieOpen) {
    main_.Movie().CloseMovie();
    Viewer.CurrentLeft.reset();
    Viewer.CurrentRight.reset();
  }
  Viewer.MovieOpen = false;
  // No presentation reaches the driver after this.
  Vision3d.StereoWindowActive = false;
  Vision3d.driver = nullptr;
  bool released = driver_->Stop();
  ReleaseStereoSurface();
  driver_.reset();
  window_.reset();
  Viewer.BackgroundDirty = true;
  main_.Repaint();
  if (!released)
    main_.Dialogs().Message(&main_, "Failed to release all OpenGL objects.",
                            kErrorCaption, true);
}

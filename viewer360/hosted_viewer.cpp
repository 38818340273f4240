#include "viewer360/hosted_viewer.h"

#ifdef DUORAMIC_HAS_WEBENGINE

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineSettings>
#include <QWebEngineView>

HostedViewerDialog::HostedViewerDialog(QWidget* owner,
                                       std::function<bool(int)> keys)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      view_(new QWebEngineView(this)),
      keys_(std::move(keys)) {
  setObjectName("THETAVIEW");
  view_->setObjectName("1001");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  // The page is a local file that loads its scripts and the item from
  // other local files, draws with WebGL and may start a movie by itself.
  QWebEngineSettings* settings = view_->settings();
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls,
                         true);
  settings->setAttribute(QWebEngineSettings::WebGLEnabled, true);
  settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture,
                         false);
  settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
  setCursor(Qt::ArrowCursor);
  // Full screen on the main window's output, as the window system's own
  // state: on Wayland a screen-sized window is not full screen.
  screen_ = owner && owner->screen() ? owner->screen()
                                     : QGuiApplication::primaryScreen();
  if (screen_) {
    setScreen(screen_);
    setGeometry(screen_->geometry());
  }
  setWindowState(Qt::WindowFullScreen);
  // Like a keyboard hook on the viewer's thread: every key press meant for
  // this dialog or the page inside it passes here first.
  qApp->installEventFilter(this);
}

HostedViewerDialog::~HostedViewerDialog() {
  qApp->removeEventFilter(this);
}

void HostedViewerDialog::Navigate(const QUrl& page) {
  view_->setFocus();
  view_->load(page);
}

bool HostedViewerDialog::event(QEvent* event) {
  // The web view makes Qt rebuild the dialog's native window around its
  // first show (it needs one that OpenGL draws into), and on Wayland the
  // new one starts without the full-screen state.  Once each native window
  // is up, the state is asked for afresh (the widget still believes it
  // holds it, so it is dropped first).
  if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange) {
    QTimer::singleShot(0, this, [this] {
      if (!isVisible() || winId() == fullScreenWindow_) return;
      fullScreenWindow_ = winId();
      if (screen_) setScreen(screen_);
      setWindowState(windowState() & ~Qt::WindowFullScreen);
      setWindowState(windowState() | Qt::WindowFullScreen);
    });
  }
  return QDialog::event(event);
}

bool HostedViewerDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || (widget != this && !isAncestorOf(widget))) return false;
  return keys_(static_cast<QKeyEvent*>(event)->key());
}

#endif  // DUORAMIC_HAS_WEBENGINE

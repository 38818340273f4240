#include "viewer360/hosted_viewer.h"

#ifdef DUORAMIC_HAS_WEBENGINE

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
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
  if (QScreen* screen = QGuiApplication::primaryScreen())
    setGeometry(screen->geometry());
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

bool HostedViewerDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || (widget != this && !isAncestorOf(widget))) return false;
  return keys_(static_cast<QKeyEvent*>(event)->key());
}

#endif  // DUORAMIC_HAS_WEBENGINE

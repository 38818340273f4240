#include "viewer360/panorama_window.h"

#include <QDesktopServices>
#include <QDialog>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "shell/command_table.h"
#include "shell/main_window.h"
#include "core/viewer_state.h"
#include "viewer360/hosted_viewer_library.h"
#include "viewer360/options_panel.h"
#include "viewer360/viewer_files.h"

#ifdef DUORAMIC_HAS_WEBENGINE
constexpr bool kHostedViewerBuilt = true;
#else
constexpr bool kHostedViewerBuilt = false;
#endif

PanoramaWindow::PanoramaWindow(MainWindow& window)
    : UseBrowser(!kHostedViewerBuilt), window_(window) {
  Send = [this](int id) { window_.DispatchCommand(id); };
  Post = [this](int id) { window_.PostCommand(id); };
  OpenInBrowser = [](const std::string& page) {
    return QDesktopServices::openUrl(
        QUrl::fromLocalFile(QString::fromStdString(page)));
  };
}

PanoramaWindow::~PanoramaWindow() = default;

void PanoramaWindow::Show(const std::string& path, bool swap) {
  ShowItem(path, swap, false);
}

void PanoramaWindow::ShowFullScreen(const std::string& path, bool swap) {
  ShowItem(path, swap, true);
}

QWidget* PanoramaWindow::CreateOptionsPanel(QWidget* parent) {
  return ::CreateOptionsPanel(parent, UseBrowser);
}

void PanoramaWindow::ShowItem(const std::string& path, bool swap,
                              bool fullScreenSwitch) {
  if (Folder.empty()) Folder = ViewerFolder();
  if (Folder.empty()) {
    window_.SetTitle("360: no private folder for the viewer page");
    return;
  }
  WriteViewerFiles(Folder, PanoramaPictureFor(Folder, path), Viewer.n360mode,
                   swap ? 1 : 0);
  std::string page = Folder + kViewerPageName;
  if (UseBrowser || !kHostedViewerBuilt) {
    if (!OpenInBrowser(page))
      window_.SetTitle("360: the browser could not be started for " + page);
    return;
  }
  if (!dialog_ && !openHostedViewer_) {
    QString error;
    openHostedViewer_ = LoadHostedViewer(
        QString::fromStdString(HostedViewerLibrary), &error);
    if (!openHostedViewer_) {
      // An installation without the viewer's library still shows the item.
      std::fprintf(stderr,
                   "duoramic: the hosted 360 viewer is unavailable (%s); "
                   "the page opens in the browser\n",
                   error.toLocal8Bit().constData());
      if (!OpenInBrowser(page))
        window_.SetTitle("360: the browser could not be started for " + page);
      return;
    }
  }
  if (fullScreenSwitch && !dialog_) {
    // The window behind the viewer shows nothing of the previous item.
    BlackOutFramebuffer(window_);
    if (!Viewer.FullScreen) {
      Send(CMD_FULL_SCREEN_CHOSEN);
      fullScreenForViewer_ = true;
    }
  }
  OpenHostedViewer(page);
}

void PanoramaWindow::OpenHostedViewer(const std::string& page) {
  if (dialog_) {
    // One viewer at a time: the open one comes forward and keeps its page.
    dialog_->raise();
    dialog_->activateWindow();
    return;
  }
  std::function<bool(int)> keys = [this](int key) { return HandleKey(key); };
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(page));
  std::unique_ptr<QDialog> dialog(openHostedViewer_(&window_, &keys, &url));
  dialog_ = dialog.get();
  window_.Dialogs().RunModal(*dialog);
  dialog_ = nullptr;
}

QDialog* PanoramaWindow::OpenDialog() const { return dialog_; }

void PanoramaWindow::Close() {
  if (dialog_) dialog_->reject();
}

bool PanoramaWindow::HandleKey(int key) {
  switch (key) {
    case Qt::Key_Backspace: Post(CMD_PREVIOUS); break;
    case Qt::Key_Space: Post(CMD_NEXT); break;
    case Qt::Key_Escape:
    case Qt::Key_Q:
      if (Viewer.FullScreen && fullScreenForViewer_) {
        fullScreenForViewer_ = false;
        Post(CMD_FULL_SCREEN_CHOSEN);  // leaves full screen
      }
      Post(CMD_LEAVE_360);
      break;
    default:
      return false;  // the page's own keys
  }
  Close();
  return true;
}

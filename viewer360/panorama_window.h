// The 360-degree viewer as the main window uses it: writes the page files
// for an item into the viewer's private folder and shows the page in the
// hosted viewer, or in the user's own browser when that is chosen or the
// program was built without Qt WebEngine.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "shell/later_features.h"

class MainWindow;
#include "viewer360/hosted_viewer_library.h"

class QDialog;

class PanoramaWindow : public PanoramaViewer {
 public:
  explicit PanoramaWindow(MainWindow& window);
  ~PanoramaWindow() override;

  void Show(const std::string& path, bool swap) override;
  void ShowFullScreen(const std::string& path, bool swap) override;
  void Close() override;
  QWidget* CreateOptionsPanel(QWidget* parent) override;

  // Show in the user's browser rather than the hosted view; for this run
  // only.  Always so without WebEngine.
  bool UseBrowser = false;

  // The hosted viewer's library; empty: libduoramic_hosted360.so beside
  // the program or in the installed library folder, loaded on first use.
  std::string HostedViewerLibrary;

  // Where the page files go (ending in "/"); by default ViewerFolder().
  std::string Folder;
  // How commands reach the main window ("send" runs one now, "post" once
  // control is back in the event loop) and how the browser is started;
  // tests record them instead.
  std::function<void(int)> Send;
  std::function<void(int)> Post;
  std::function<bool(const std::string& page)> OpenInBrowser;

  // The hosted viewer while it is open, else null.
  QDialog* OpenDialog() const;

 private:
  void ShowItem(const std::string& path, bool swap, bool fullScreenSwitch);
  void OpenHostedViewer(const std::string& page);
  bool HandleKey(int key);

  MainWindow& window_;
  // Full screen was entered for the viewer, and is left with it.
  bool fullScreenForViewer_ = false;
  QDialog* dialog_ = nullptr;
  OpenHostedViewerFunction openHostedViewer_ = nullptr;
};

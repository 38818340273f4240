// The shutter-glasses output: a full-screen window of its own, titled
// "QRX 3D Vision", that shows the current item page-flipped through the
// stereo driver.  It runs modally until the window is closed; the main
// window stays alive meanwhile, and its commands keep working.
#pragma once

#include <QWindow>
#include <functional>
#include <memory>
#include <string>

#include "shell/later_features.h"
#include "stereo/stereo_driver.h"

class MainWindow;
class QEventLoop;
class QTimer;
class Vision3dOutput;

// The window: keys and mouse as the output's table says.
class Vision3dWindow : public QWindow {
 public:
  explicit Vision3dWindow(Vision3dOutput& output);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void exposeEvent(QExposeEvent* event) override;

 private:
  Vision3dOutput& output_;
  int modifiers_ = 0;  // Shift 1, Ctrl 2, both 3
};

using StereoDriverFactory =
    std::function<std::unique_ptr<StereoDriver>(QWindow& window)>;

class Vision3dOutput : public StereoOutput {
 public:
  // Without a factory the output drives quad-buffered OpenGL.
  explicit Vision3dOutput(MainWindow& main, StereoDriverFactory factory = {});
  ~Vision3dOutput() override;

  void RunStereoOutput(const std::string& left, const std::string& right,
                       int still) override;
  bool StereoWindowActive() const override;
  void CloseStereoWindow() override;

  // How often a still is drawn again while nothing else happens; 0 leaves
  // the pace to the driver's swap, which waits for the display's refresh.
  void SetRedrawIntervalMs(int ms) { redrawMs_ = ms; }
  // The open window, or null.
  Vision3dWindow* Window() const { return window_.get(); }

  // What the window's events do.
  MainWindow& Main() { return main_; }
  void PresentAgain();
  void ShowFirstItem();
  void Closing();

 private:
  bool Start(int eyeWidth, int eyeHeight);
  void Finish();

  MainWindow& main_;
  StereoDriverFactory factory_;
  std::unique_ptr<Vision3dWindow> window_;
  std::unique_ptr<StereoDriver> driver_;
  QEventLoop* loop_ = nullptr;
  std::string left_, right_;
  bool still_ = true;
  int redrawMs_ = 0;
};

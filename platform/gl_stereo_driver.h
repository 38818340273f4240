// Page-flipped stereo through quad-buffered OpenGL: the way shutter-glasses
// drivers on Linux show one picture per eye.  The window is asked for a
// stereo context; what the driver grants is confirmed before use.
#pragma once

#include <QObject>
#include <memory>
#include <mutex>
#include <vector>

#include "stereo/stereo_driver.h"

class QOpenGLContext;
class QWindow;

class GlStereoDriver : public StereoDriver {
 public:
  // Draws into `window`, which must outlive the driver and not be shown
  // yet: its surface format is set here.
  explicit GlStereoDriver(QWindow& window);
  ~GlStereoDriver() override;

  StereoStatus Start(int eyeWidth, int eyeHeight) override;
  void DrawEye(StereoEye eye, const EyeImage& image) override;
  void Swap() override;
  bool Stop() override;

 private:
  bool MakeContext(bool stereo);
  bool StereoGranted();
  void DrawPending();

  QWindow& window_;
  std::unique_ptr<QOpenGLContext> context_;
  bool stereo_ = false;
  // The eyes' pictures wait here until the GUI thread draws them: movie
  // frames arrive on a streaming thread, where the context cannot be used.
  std::mutex mutex_;
  std::vector<uint32_t> pending_[2];
  int pendingWidth_ = 0, pendingHeight_ = 0;
  // Queued draws die with it.
  QObject guard_;
};

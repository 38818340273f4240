// Programs without a window (duoramic-cli, the tests) still need a
// QGuiApplication before fonts and painting work.
#pragma once

#include <memory>

// Creates a QGuiApplication on the offscreen platform, unless
// QT_QPA_PLATFORM names another, and installs the Qt text painter; the
// destructor uninstalls the painter and ends the application.  With `lazy`
// the application is created only when text is first drawn, so a run that
// draws no text does not pay for font set-up; the application is then
// created on the thread that draws first, so use `lazy` only in programs
// that draw on their main thread.  One at a time.
class HeadlessGui {
 public:
  HeadlessGui(int& argc, char** argv, bool lazy = false);
  ~HeadlessGui();
  HeadlessGui(const HeadlessGui&) = delete;
  HeadlessGui& operator=(const HeadlessGui&) = delete;

  // Creates the application now if it does not exist yet.
  void Start();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

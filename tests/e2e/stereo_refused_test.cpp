// The shutter-glasses output on a real X server whose OpenGL (Mesa under
// Xvfb) has no stereo visual: the driver says so, F8 shows the message box,
// and the main window is left exactly as it was.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QOpenGLContext>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "platform/gl_stereo_driver.h"
#include "shell/command_table.h"
#include "shell/main_window.h"
#include "shell/startup.h"
#include "core/viewer_state.h"
#include "shell/vision3d_output.h"
#include "stereo/stereo_format.h"
#include "tests/window_test_support.h"

namespace {

TEST(StereoRefused, TheDriverReportsNoStereoAndKeepsAPlainContext) {
  QWindow window;
  GlStereoDriver driver(window);
  StereoStatus status = driver.Start(320, 200);
  if (status == StereoStatus::NoDevice)
    GTEST_SKIP() << "no OpenGL on this display";
  if (status == StereoStatus::Enabled)
    GTEST_SKIP() << "this display grants stereo: nothing refused to test";
  EXPECT_EQ(status, StereoStatus::Unavailable);
  EXPECT_FALSE(window.requestedFormat().stereo());  // rebuilt plain
  EXPECT_TRUE(driver.Stop());
}

TEST(StereoRefused, F8SaysSoAndLeavesTheMainWindowAsItWas) {
  Viewer = ViewerState();
  MainWindow window;
  Vision3dOutput output(window);
  window.SetOutput(&output);
  window.resize(640, 400);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  Viewer.OpenPath = kSamples + "scene.mpo";
  window.DispatchCommand(CMD_SHOW_FILE);
  QTest::qWait(200);
  QImage before = window.grab().toImage();
  QString title = window.windowTitle();

  QString text, caption;
  QTimer::singleShot(0, [&] {
    QMessageBox* box = nullptr;
    (void)QTest::qWaitFor([&] {
      box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      return box != nullptr;
    }, 10000);
    if (!box) return;
    QTest::qWait(300);  // painted, for a screenshot of the message
    if (QByteArray shot = qgetenv("DUORAMIC_SHOT"); !shot.isEmpty())
      window.screen()->grabWindow(0).save(QString::fromUtf8(shot));
    text = box->text();
    caption = box->windowTitle();
    box->accept();
  });
  // F8's command: without a window manager the window may never become
  // active, and shortcuts only fire in an active window.
  window.DispatchCommand(CMD_FORMAT_FIRST + NvidiaStereo);
  EXPECT_EQ(caption.toStdString(), "Stereo not available");
  EXPECT_EQ(text.toStdString(),
            "Stereo is not available\n"
            "Make sure the stereo driver is installed correctly");
  EXPECT_EQ(Viewer.StereoType, NvidiaStereo);
  EXPECT_FALSE(output.StereoWindowActive());
  EXPECT_EQ(window.windowTitle(), title);
  QTest::qWait(200);
  EXPECT_EQ(window.grab().toImage(), before);
  window.SetOutput(nullptr);
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv, true); }

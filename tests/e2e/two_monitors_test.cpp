// Full screen on a real X server with two monitors side by side (started by
// two_monitors.sh, root painted magenta): both chosen in the monitor dialog,
// Enter covers both; Alt+Enter covers the window's monitor only.  What the
// window covers is read back from the screens themselves.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "shell/command_table.h"
#include "shell/full_screen.h"
#include "shell/main_window.h"
#include "shell/monitor_dialog.h"
#include "shell/monitors.h"
#include "core/viewer_state.h"
#include "tests/window_test_support.h"

namespace {

const QRgb kRoot = qRgb(255, 0, 255);

// Pixels of screen `index` still showing the root window.
int RootPixels(int index) {
  QScreen* screen = QGuiApplication::screens().at(index);
  QImage shot = screen->grabWindow(0).toImage().convertToFormat(
      QImage::Format_RGB32);
  int count = 0;
  for (int y = 0; y < shot.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
    for (int x = 0; x < shot.width(); ++x)
      count += (row[x] & 0xffffff) == (kRoot & 0xffffff);
  }
  return count;
}

bool Covered(int index) {
  return QTest::qWaitFor([&] { return RootPixels(index) == 0; }, 5000);
}
bool Uncovered(int index) {
  return QTest::qWaitFor([&] { return RootPixels(index) > 0; }, 5000);
}

void ChooseBothInTheDialog(MainWindow& window) {
  MonitorDialog dialog(&window);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QWidget* area = dialog.findChild<QWidget*>("1315");
  ASSERT_NE(area, nullptr);
  MonitorLayout layout =
      LayOutMonitors(KnownMonitors(), area->width(), area->height());
  auto middle = [&](int i) {
    DesktopRect r = DrawnRect(layout, KnownMonitors()[i]);
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  };
  QTest::mouseClick(area, Qt::LeftButton, Qt::NoModifier, middle(0));
  QTest::mouseClick(area, Qt::LeftButton, Qt::ShiftModifier, middle(1));
  dialog.findChild<QPushButton*>("1")->click();
}

TEST(TwoMonitors, EnterCoversBothChosenAndAltEnterOnlyTheWindowsOwn) {
  ASSERT_EQ(QGuiApplication::screens().size(), 2);
  Viewer = ViewerState();
  MainWindow window;
  window.setGeometry(100, 100, 640, 480);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_TRUE(Uncovered(0));
  ASSERT_TRUE(Uncovered(1));

  EnumerateMonitors();
  ASSERT_EQ(Viewer.MonitorCount, 2);
  EXPECT_EQ(Viewer.MonitorTable[1], (DesktopRect{1280, 0, 2560, 720}));
  ChooseBothInTheDialog(window);
  ASSERT_EQ(Viewer.MonitorSelected, (std::array<bool, 9>{true, true}));

  // Keys reach the accelerators of the active window only.
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QTest::keyClick(&window, Qt::Key_Return);
  ASSERT_TRUE(Viewer.FullScreen);
  EXPECT_EQ(Viewer.FullScreenRect, (DesktopRect{0, 0, 2560, 720}));
  EXPECT_TRUE(Covered(0));
  EXPECT_TRUE(Covered(1));
  EXPECT_EQ(window.geometry(), QRect(0, 0, 2560, 720));
  // The window left the monitor it was on: the panel stays there.
  EXPECT_EQ(Viewer.WindowMonitorRect, (DesktopRect{0, 0, 1280, 720}));
  EXPECT_TRUE(Viewer.ControlPanelVisible);

  QTest::keyClick(&window, Qt::Key_Return);
  ASSERT_FALSE(Viewer.FullScreen);
  EXPECT_TRUE(Uncovered(0));
  EXPECT_TRUE(Uncovered(1));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return window.geometry() == QRect(100, 100, 640, 480); }, 5000));

  // On the second monitor Alt+Enter covers that one alone.
  window.setGeometry(1500, 100, 640, 480);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.x() == 1500; }, 5000));
  QTest::keyClick(&window, Qt::Key_Return, Qt::AltModifier);
  ASSERT_TRUE(Viewer.FullScreen);
  EXPECT_EQ(Viewer.FullScreenRect, (DesktopRect{1280, 0, 2560, 720}));
  EXPECT_TRUE(Covered(1));
  EXPECT_TRUE(Uncovered(0));
  QTest::keyClick(&window, Qt::Key_Return, Qt::AltModifier);
  EXPECT_FALSE(Viewer.FullScreen);
}

}  // namespace

// Skipped (77) without the X server that two_monitors.sh starts.
int main(int argc, char** argv) {
  return RunWindowTests(argc, argv, /*needsDisplay=*/true);
}

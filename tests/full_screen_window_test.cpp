// Full screen and the monitor dialog, driven offscreen: the window covers
// its rectangle without frame or menu and comes back as it was; the dialog
// turns clicks into a choice and keeps or restores it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <vector>

#include "shell/command_table.h"
#include "shell/full_screen.h"
#include "shell/main_window.h"
#include "shell/monitor_dialog.h"
#include "shell/monitors.h"
#include "core/viewer_state.h"
#include "stereo/stereo_format.h"
#include "tests/window_test_support.h"

namespace {

struct FakeStereoWindow : NotBuiltFeatures {
  FakeStereoWindow() : NotBuiltFeatures([](std::string_view) {}) {}
  bool active = true;
  int closed = 0;
  bool StereoWindowActive() const override { return active; }
  void CloseStereoWindow() override {
    ++closed;
    active = false;
  }
};

class FullScreenTest : public WindowTest {
 protected:
  void PrepareWindow() override { window_->setGeometry(40, 50, 500, 400); }
};

TEST_F(FullScreenTest, TheWindowsMonitorIsCoveredWithoutFrameMenuOrCursor) {
  QRect before = window_->geometry();
  QRect screen = window_->screen()->geometry();
  Run(CMD_FULL_SCREEN_HERE);
  QCoreApplication::processEvents();
  EXPECT_TRUE(Viewer.FullScreen);
  EXPECT_EQ(ToQRect(Viewer.FullScreenRect), screen);
  EXPECT_EQ(window_->geometry(), screen);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(window_->menuBar()->isVisible());
  EXPECT_EQ(window_->centralWidget()->cursor().shape(), Qt::BlankCursor);
  EXPECT_EQ(window_->centralWidget()->size(), screen.size());

  // A format change puts a window that was moved back on its rectangle.
  window_->setGeometry(10, 10, 300, 200);
  Run(CMD_FORMAT_FIRST + DuboisAnaglyph);
  EXPECT_EQ(window_->geometry(), screen);

  // The keys still work without the menu bar: Alt+Enter leaves.
  Key(Qt::Key_Return, Qt::AltModifier);
  QCoreApplication::processEvents();
  EXPECT_FALSE(Viewer.FullScreen);
  EXPECT_EQ(window_->geometry(), before);
  EXPECT_FALSE(window_->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(window_->menuBar()->isVisible());
  EXPECT_NE(window_->centralWidget()->cursor().shape(), Qt::BlankCursor);

  // Outside full screen a format change leaves the window where it is.
  Run(CMD_FORMAT_FIRST + SideBySide);
  EXPECT_EQ(window_->geometry(), before);
}

TEST_F(FullScreenTest, AMaximisedWindowLeavesThatStateAndGetsItBack) {
  QRect normal = window_->geometry();
  window_->showMaximized();
  QCoreApplication::processEvents();
  ASSERT_TRUE(window_->isMaximized());
  Run(CMD_FULL_SCREEN_HERE);
  QCoreApplication::processEvents();
  // Still maximised, a window manager would keep the work area's size.
  EXPECT_FALSE(window_->windowState() & Qt::WindowMaximized);
  EXPECT_EQ(window_->geometry(), ToQRect(Viewer.FullScreenRect));
  Run(CMD_FULL_SCREEN_HERE);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window_->isMaximized());
  // Un-maximising then gives the size from before maximising.
  window_->showNormal();
  QCoreApplication::processEvents();
  EXPECT_EQ(window_->geometry().size(), normal.size());
}

TEST_F(FullScreenTest, ChosenMonitorsAreEnumeratedAndThePrimaryStandsIn) {
  Run(CMD_FULL_SCREEN_CHOSEN);
  QCoreApplication::processEvents();
  ASSERT_EQ(Viewer.MonitorCount,
            static_cast<int>(QGuiApplication::screens().size()));
  EXPECT_TRUE(Viewer.MonitorSelected[0]);
  EXPECT_EQ(window_->geometry(), ToQRect(Viewer.FullScreenRect));
  // The window came from the monitor it now covers: no panel needed.
  EXPECT_EQ(Viewer.WindowMonitorRect, Viewer.FullScreenRect);
  EXPECT_FALSE(Viewer.ControlPanelVisible);
  Run(CMD_FULL_SCREEN_CHOSEN);
  EXPECT_FALSE(Viewer.FullScreen);
}

TEST_F(FullScreenTest, WithTheShutterGlassesWindowOpenTheKeyClosesIt) {
  FakeStereoWindow output;
  window_->SetOutput(&output);
  Viewer.StereoType = NvidiaStereo;
  Key(Qt::Key_Return);
  EXPECT_EQ(output.closed, 1);
  EXPECT_FALSE(Viewer.FullScreen);
  // Once it is closed the key means full screen again.
  Key(Qt::Key_Return);
  EXPECT_EQ(output.closed, 1);
  EXPECT_TRUE(Viewer.FullScreen);
  window_->SetOutput(nullptr);
}

class MonitorDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    SetMonitorTable(monitors_);
    Viewer.MonitorSelected[0] = true;
    dialog_ = std::make_unique<MonitorDialog>();
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    area_ = dialog_->findChild<QWidget*>("1315");
    ASSERT_NE(area_, nullptr);
  }

  // The middle of monitor `i` as the dialog draws it.
  QPoint Middle(int i) {
    MonitorLayout layout =
        LayOutMonitors(monitors_, area_->width(), area_->height());
    return ToQRect(DrawnRect(layout, monitors_[i])).center();
  }
  void Click(int i, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::mouseClick(area_, Qt::LeftButton, mods, Middle(i));
  }
  QPushButton* Button(const char* id) {
    return dialog_->findChild<QPushButton*>(id);
  }
  QColor Shown(QPoint at) { return area_->grab().toImage().pixelColor(at); }

  std::vector<DesktopRect> monitors_{{0, 0, 1920, 1080},
                                     {1920, 0, 3840, 1080},
                                     {-1280, 200, 0, 1224}};
  std::unique_ptr<MonitorDialog> dialog_;
  QWidget* area_ = nullptr;
};

TEST_F(MonitorDialogTest, ClicksChooseShiftClicksAddAndChosenOnesAreCyan) {
  EXPECT_EQ(Shown(Middle(0)), QColor(0, 255, 255));
  EXPECT_EQ(Shown(Middle(1)), QColor(Qt::white));

  Click(1);
  EXPECT_EQ(Viewer.MonitorSelected, (std::array<bool, 9>{false, true}));
  Click(2, Qt::ShiftModifier);
  EXPECT_EQ(Viewer.MonitorSelected, (std::array<bool, 9>{false, true, true}));
  EXPECT_EQ(Shown(Middle(0)), QColor(Qt::white));
  EXPECT_EQ(Shown(Middle(2)), QColor(0, 255, 255));
  // The red frame runs along the top of the union, the third monitor's top
  // being lower than the others'.
  MonitorLayout layout =
      LayOutMonitors(monitors_, area_->width(), area_->height());
  DesktopRect frame = DrawnRect(layout, {-1280, 0, 3840, 1224});
  EXPECT_EQ(Shown(QPoint(Middle(1).x(), frame.top)), QColor(Qt::red));
  EXPECT_EQ(Shown(QPoint(Middle(0).x(), frame.top)), QColor(Qt::red));

  Button("1")->click();
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(Viewer.MonitorSelected, (std::array<bool, 9>{false, true, true}));
}

TEST_F(MonitorDialogTest, EnterDoesNothingAndCancelRestoresTheChoice) {
  Click(1, Qt::ShiftModifier);
  Click(2, Qt::ShiftModifier);
  EXPECT_EQ(Viewer.MonitorSelected, (std::array<bool, 9>{true, true, true}));

  // Not even with the focus on OK.
  Button("1")->setFocus();
  QTest::keyClick(Button("1"), Qt::Key_Return);
  QTest::keyClick(dialog_.get(), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(Viewer.MonitorSelected, (std::array<bool, 9>{true, true, true}));

  EXPECT_EQ(dialog_->windowTitle().toStdString(), "マルチモニタ設定");
  EXPECT_EQ(Button("2")->text().toStdString(), "キャンセル");
  Button("2")->click();
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_EQ(Viewer.MonitorSelected, (std::array<bool, 9>{true}));
}

TEST(MonitorSetupCommand, ReEnumeratesAndOpensTheDialog) {
  Viewer = ViewerState();
  MainWindow window;
  window.show();
  std::string opened;
  QTimer::singleShot(0, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      opened = modal->objectName().toStdString();
      static_cast<QDialog*>(modal)->reject();
    }
  });
  window.DispatchCommand(CMD_MONITOR_SETUP);
  EXPECT_EQ(opened, "MULTIMONI");
  EXPECT_EQ(Viewer.MonitorCount,
            static_cast<int>(QGuiApplication::screens().size()));
}

}  // namespace

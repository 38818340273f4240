// The settings dialog, the about box and the control panel, driven offscreen
// with a scripted dialog runner and a stand-in movie.
#include "shell/dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTranslator>
#include <QUrl>
#include <QWheelEvent>
#include <vector>

#include "platform/qt_translations.h"
#include "shell/app_icon.h"
#include "shell/command_table.h"
#include "shell/control_panel.h"
#include "shell/later_features.h"
#include "shell/main_window.h"
#include "shell/settings_store.h"
#include "core/viewer_state.h"
#include "stereo/movie_frame.h"
#include "tests/window_test_support.h"

namespace {

// Counts pauses, records seeks and reports `position`; the rest of the
// player does nothing.
struct FakeMovie : NotBuiltFeatures {
  FakeMovie() : NotBuiltFeatures([](std::string_view) {}) {}
  std::vector<int> seeks;
  int pauses = 0;
  double position = 0;
  int OpenMovie(const std::string&, const std::string&) override { return 1; }
  void TogglePause() override { ++pauses; }
  void SeekMovie(int ms) override { seeks.push_back(ms); }
  double PositionSeconds() const override { return position; }
};

template <typename T>
T* Control(QWidget& dialog, int id) {
  T* control = dialog.findChild<T*>(QString::number(id));
  EXPECT_NE(control, nullptr) << id;
  return control;
}

// Clicks a button the way the user would and reports how the dialog ended.
int Press(QDialog& dialog, int id) {
  Control<QPushButton>(dialog, id)->click();
  return dialog.result();
}

class DialogsTest : public WindowTest {
 protected:
  void PrepareWindow() override { window_->SetMovie(&movie_); }
  void TearDown() override {
    WindowTest::TearDown();
    SetGrabbedFrame({});
    ResetMovieFrameState();
  }

  ControlPanel& Panel() { return window_->Panel(); }
  std::string Status() { return Panel().StatusText().toStdString(); }
  bool PanelMarked() {
    emit window_->Menu(1)->aboutToShow();
    return window_->MenuAction(CMD_CONTROL_PANEL)->isChecked();
  }
  void OpenLongMovie() {
    Viewer.MovieOpen = true;
    Viewer.MovieState = 2;
    Viewer.MovieDurationMs = 2 * 3600 * 1000;
    Viewer.FrameStepMs = 40;
    Viewer.FrameDuration = 400000;
    Panel().HandleCommand(CMD_PANEL_RANGE);
  }

  FakeMovie movie_;
};

TEST_F(DialogsTest, SettingsOkStoresTheFieldsAndCancelKeepsThem) {
  Viewer.nDispX = 7;  // carried along although the dialog does not show it
  dialogs_.run = [](QDialog& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "設定");
    EXPECT_EQ(Control<QLineEdit>(d, 1204)->text(), "30");
    QComboBox* effect = Control<QComboBox>(d, 1205);
    EXPECT_EQ(effect->count(), 7);
    EXPECT_EQ(effect->itemText(6).toStdString(), "巻取り切替");
    EXPECT_EQ(effect->currentIndex(), 1);
    Control<QLineEdit>(d, 1204)->setText("15");
    effect->setCurrentIndex(3);
    Control<QCheckBox>(d, 1207)->setChecked(true);
    return Press(d, IDOK);
  };
  Run(CMD_SETTINGS);
  EXPECT_EQ(Viewer.nInterval, 15);
  EXPECT_EQ(Viewer.nEFType, 3);
  EXPECT_EQ(Viewer.nRepeat, 1);
  EXPECT_EQ(Viewer.nRGB, 0);
  EXPECT_EQ(ReadSetting("nInterval"), "15");
  EXPECT_EQ(ReadSetting("nEFType"), "3");
  EXPECT_EQ(ReadSetting("nRepeat"), "1");
  EXPECT_EQ(ReadSetting("nRGB"), "0");
  EXPECT_EQ(ReadSetting("nDispX"), "7");

  // The new interval applies when the slideshow is next switched on.
  Run(CMD_SLIDESHOW);
  EXPECT_EQ(window_->SlideshowTimer().interval(), 1500);
  Run(CMD_SLIDESHOW);

  dialogs_.run = [](QDialog& d) {
    Control<QLineEdit>(d, 1204)->setText("99");
    Control<QComboBox>(d, 1205)->setCurrentIndex(0);
    Control<QCheckBox>(d, 1208)->setChecked(true);
    return Press(d, IDCANCEL);
  };
  Run(CMD_SETTINGS);
  EXPECT_EQ(Viewer.nInterval, 15);
  EXPECT_EQ(Viewer.nEFType, 3);
  EXPECT_EQ(Viewer.nRGB, 0);
  EXPECT_EQ(ReadSetting("nInterval"), "15");
}

TEST_F(DialogsTest, AnUnreadableIntervalIsZeroAndTheTimerStillWaits) {
  EXPECT_EQ(ParseIntervalField(" 42 "), 42);
  EXPECT_EQ(ParseIntervalField("-5"), 0);
  EXPECT_EQ(ParseIntervalField("99999999999"), 0);
  dialogs_.run = [](QDialog& d) {
    Control<QLineEdit>(d, 1204)->setText("abc");
    return Press(d, IDOK);
  };
  Run(CMD_SETTINGS);
  EXPECT_EQ(Viewer.nInterval, 0);
  EXPECT_EQ(ReadSetting("nInterval"), "0");
  Run(CMD_SLIDESHOW);
  // A 0 ms timer would fire on every pass of the event loop.
  EXPECT_GE(window_->SlideshowTimer().interval(), 1);
}

TEST_F(DialogsTest, AboutBoxNamesTheVersionBesideTheProgramsIcon) {
  std::vector<std::string> texts;
  QImage shown;
  dialogs_.run = [&](QDialog& d) {
    if (auto* icon = d.findChild<QLabel*>("DUORAMIC"))
      shown = icon->pixmap().toImage();
    texts.push_back(d.windowTitle().toStdString());
    for (QLabel* label : d.findChildren<QLabel*>())
      if (!label->text().isEmpty())
        texts.push_back(label->text().toStdString());
    return Press(d, IDOK);
  };
  Run(CMD_ABOUT);
  EXPECT_EQ(texts, (std::vector<std::string>{"Duoramic の バージョン情報",
                                             "Duoramic", "Version 1.10"}));
  // Our own icon from the built-in resources, not a stock one.
  QImage ours = DuoramicIcon().pixmap(32, 32).toImage();
  ASSERT_FALSE(ours.isNull());
  EXPECT_EQ(shown, ours);
}

TEST_F(DialogsTest, CTogglesThePanelAndItsCloseButtonClearsTheMark) {
  EXPECT_FALSE(Panel().isVisible());
  Key(Qt::Key_C);
  EXPECT_TRUE(Panel().isVisible());
  EXPECT_TRUE(PanelMarked());

  Control<QPushButton>(Panel(), IDC_PANEL_CLOSE)->click();
  EXPECT_FALSE(Panel().isVisible());
  EXPECT_FALSE(Viewer.ControlPanelVisible);
  EXPECT_FALSE(PanelMarked());

  Key(Qt::Key_C);
  EXPECT_TRUE(Panel().isVisible());
  Panel().close();  // the window's own close box
  EXPECT_FALSE(Panel().isVisible());
  EXPECT_FALSE(PanelMarked());
  Key(Qt::Key_C);
  EXPECT_TRUE(PanelMarked());
  // The main window's keys work on the panel too.
  QApplication::setActiveWindow(&Panel());
  QTest::keyClick(&Panel(), Qt::Key_C);
  EXPECT_FALSE(Panel().isVisible());
  EXPECT_FALSE(PanelMarked());
}

TEST_F(DialogsTest, PanelButtonsWheelAndDropsReachTheMainWindow) {
  window_->ShowControlPanel();
  Control<QPushButton>(Panel(), IDC_PANEL_SWAP)->click();
  EXPECT_TRUE(Viewer.SwapLR);
  Control<QPushButton>(Panel(), IDC_PANEL_WIDTH)->click();
  EXPECT_EQ(Viewer.WidthMode, 6);

  Viewer.ZoomPercent = 100;
  QWheelEvent away(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&Panel(), &away);
  EXPECT_EQ(Viewer.ZoomPercent, 110);

  QMimeData files;
  files.setUrls(
      {QUrl::fromLocalFile(QString::fromStdString(kSamples + "scene.mpo"))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton,
                        Qt::NoModifier);
  QApplication::sendEvent(&Panel(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton,
                  Qt::NoModifier);
  QApplication::sendEvent(&Panel(), &drop);
  QCoreApplication::processEvents();
  EXPECT_EQ(Viewer.OpenPath, kSamples + "scene.mpo");
  EXPECT_TRUE(Viewer.CurrentLeft);
  // Showing the still told the panel.
  EXPECT_EQ(Status(), "静止画表示中");
}

TEST_F(DialogsTest, TheMainTitleIsMirroredToThePanel) {
  window_->SetTitleText("(a.mpo) 1/3  ");
  EXPECT_EQ(Panel().windowTitle().toStdString(), "(a.mpo) 1/3  ");
  Key(Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(Panel().windowTitle().toStdString(), "High Quality Mode");
}

TEST_F(DialogsTest, FrameCopyWithoutAMovieSaysStillsCannotBeCopied) {
  QGuiApplication::clipboard()->setText("untouched");
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(Status(), "静止画はキャプチャできません");
  EXPECT_EQ(Title(), "静止画はキャプチャできません");
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "untouched");
}

TEST_F(DialogsTest, SliderStepsInFramesWithinTheMovie) {
  // 7,199,999 / 40 is above 64000: the scroll bar counts tens of frames.
  OpenLongMovie();
  EXPECT_EQ(Viewer.PanelMultiplier, 10);
  QScrollBar* slider = Control<QScrollBar>(Panel(), IDC_PANEL_SLIDER);
  EXPECT_EQ(slider->maximum(), 7199999 / 400);

  slider->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(Viewer.MovieSeekMs, 0);
  slider->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(Viewer.MovieSeekMs, 7199999);
  slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(Viewer.MovieSeekMs, 7199999);
  slider->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(Viewer.MovieSeekMs, 7199999 - 719999);
  EXPECT_EQ(slider->value(), 6480000 / 400);
  slider->setSliderPosition(100);  // thumb dragged
  EXPECT_EQ(Viewer.MovieSeekMs, 100 * 10 * 40);
  EXPECT_EQ(movie_.seeks,
            (std::vector<int>{0, 7199999, 7199999, 7199999, 6480000, 40000}));

  Control<QPushButton>(Panel(), IDC_PANEL_LAST)->click();
  Control<QPushButton>(Panel(), IDC_PANEL_FIRST)->click();
  EXPECT_EQ(movie_.seeks.back(), 0);
  EXPECT_EQ(movie_.seeks.end()[-2], 7199999);

  // The multiplier starts where the range would leave 16 bits.
  Viewer.MovieDurationMs = 64001 * 40;
  Panel().HandleCommand(CMD_PANEL_RANGE);
  EXPECT_EQ(Viewer.PanelMultiplier, 1);
  Viewer.MovieDurationMs = 64001 * 40 + 1;
  Panel().HandleCommand(CMD_PANEL_RANGE);
  EXPECT_EQ(Viewer.PanelMultiplier, 10);
  // A shorter movie pulls the position back into its range.
  Viewer.PanelPosition = 9000000;
  Viewer.MovieDurationMs = 60000;
  Panel().HandleCommand(CMD_PANEL_RANGE);
  EXPECT_EQ(Viewer.PanelPosition, 59999);
}

TEST_F(DialogsTest, TimerShowsFramesRateAndPauseStateOnlyWithAMovie) {
  std::string before = Status();
  Panel().Tick();
  EXPECT_EQ(Status(), before);

  OpenLongMovie();
  movie_.position = 2.0;
  Viewer.MovieState = 1;
  Panel().Tick();
  EXPECT_EQ(Viewer.MovieSeekMs, 2000);
  EXPECT_EQ(Control<QScrollBar>(Panel(), IDC_PANEL_SLIDER)->value(), 5);
  // Frame numbers of a two-hour movie overflow 32 bits on the way.
  EXPECT_EQ(Status(), "51/180001 - 25fps ");
  EXPECT_EQ(
      Control<QPushButton>(Panel(), IDC_PANEL_PAUSE)->text().toStdString(),
      "再開");
  Viewer.MovieState = 2;
  Panel().Tick();
  EXPECT_EQ(
      Control<QPushButton>(Panel(), IDC_PANEL_PAUSE)->text().toStdString(),
      "停止");
  Control<QPushButton>(Panel(), IDC_PANEL_PAUSE)->click();
  EXPECT_EQ(movie_.pauses, 1);
}

TEST_F(DialogsTest, FrameCopyPutsTheFrameAndItsNameOnTheClipboard) {
  // A 4 x 2 frame, bottom-up: blue bottom row, red top row.
  std::vector<uint8_t> rows = {255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0,
                               255, 0, 0, 255, 0, 0, 255, 0, 0, 255};
  SetGrabbedFrame({4, 2, FrameRgb24, rows.data(), 12, {}});
  Viewer.CommentOn = false;
  OpenLongMovie();
  Viewer.ShownLeftPath = "/movies/clip.avi";
  Viewer.MovieSeekMs = 0;
  Run(CMD_FRAME_COPY);

  const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(copied->text().toStdString(), "clip_1.jpg");
  QImage image = qvariant_cast<QImage>(copied->imageData());
  ASSERT_EQ(image.size(), QSize(4, 2));
  EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(3, 1), QColor(Qt::blue));
  const std::string message =
      "表示画像(clip - 1 フレーム目)をクリップボードに取り込みました";
  EXPECT_EQ(Title(), message);
  Panel().Tick();
  EXPECT_EQ(Status(), "1/180001 - 25fps " + message);
}

}  // namespace

namespace {

// Wherever the main window is, the panel opens on the screen and clear of
// the window when the screen has room for both; a window that fills the
// screen gets the panel in the corner, over the picture's edge.
TEST(ControlPanelPlaceTest, ClearOfTheWindowWhereverThereIsRoom) {
  const QRect screen(0, 0, 1920, 1050);  // free area, above a panel bar
  const QSize panel(560, 180);
  const QRect windows[] = {
      {100, 100, 800, 600},  {1000, 100, 800, 600},  // room below
      {100, 300, 1000, 700}, {700, 300, 1100, 700},  // beside: right, left
      {0, 0, 1920, 1050}};                           // no room anywhere
  for (const QRect& window : windows) {
    QRect placed(ControlPanelPlace(window, panel, screen), panel);
    SCOPED_TRACE(testing::PrintToString(window.x()) + "," +
                 testing::PrintToString(window.y()));
    EXPECT_TRUE(screen.contains(placed));
    if (window != screen) EXPECT_FALSE(placed.intersects(window));
    else EXPECT_EQ(placed.bottomRight(), screen.bottomRight());
  }
  // Crowded: no room below or beside, but above the window there is.
  QRect crowded(400, 200, 1120, 760);
  EXPECT_FALSE(QRect(ControlPanelPlace(crowded, panel, screen), panel)
                   .intersects(crowded));
  // No room anywhere: it covers no more of the window than the corner
  // would.
  QRect full(300, 100, 1320, 900);
  QRect over(ControlPanelPlace(full, panel, screen), panel);
  QRect corner(QPoint(1920 - 560, 1050 - 180), panel);
  auto area = [](const QRect& r) { return r.isEmpty() ? 0 : r.width() * r.height(); };
  EXPECT_TRUE(screen.contains(over));
  EXPECT_LE(area(over.intersected(full)), area(corner.intersected(full)));
  // A screen that does not start at 0,0 (the second monitor).
  QRect right(1920, 0, 1280, 1024);
  QRect placed(ControlPanelPlace({2000, 50, 900, 600}, panel, right), panel);
  EXPECT_TRUE(right.contains(placed));
  EXPECT_EQ(placed.top(), 650);
}

}  // namespace

namespace {

// Qt's own buttons and file-dialog labels speak the window's language.
TEST(QtTranslationsTest, QtsOwnDialogTextsAreJapanese) {
  QTranslator* translator = InstallQtTranslations(*qApp, "ja");
  if (!translator) GTEST_SKIP() << "Qt's Japanese catalogue is not installed";
  QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
  QString lookIn = QCoreApplication::translate("QFileDialog", "Look in:");
  QCoreApplication::removeTranslator(translator);
  delete translator;
  EXPECT_EQ(cancel, QString::fromUtf8("キャンセル"));
  EXPECT_NE(lookIn, "Look in:");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
}

}  // namespace

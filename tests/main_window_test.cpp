// The main window driven offscreen: commands and keys change the viewer
// state, the menus carry their texts and marks, drops open what they name.
// Widgets need a QApplication: this binary's main() is RunWindowTests().
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "shell/command_table.h"
#include "shell/file_history.h"
#include "shell/main_window.h"
#include "shell/settings_store.h"
#include "core/viewer_state.h"
#include "stereo/geometry.h"
#include "stereo/stereo_format.h"
#include "stereo/text_overlay.h"
#include "tests/window_test_support.h"

namespace {

class MainWindowTest : public WindowTest {
 protected:
  QAction* Item(int id) { return window_->MenuAction(id); }
  void OpenMenus() {
    for (int i = 0; i < 4; ++i) emit window_->Menu(i)->aboutToShow();
  }
};

TEST(CommandTable, EveryKeyParsesAndSendsOneCommand) {
  std::set<QKeySequence> seen;
  for (const AcceleratorRow& row : Accelerators()) {
    QKeySequence key(QString::fromLatin1(row.key), QKeySequence::PortableText);
    EXPECT_FALSE(key.isEmpty()) << row.key;
    EXPECT_TRUE(seen.insert(key).second) << "bound twice: " << row.key;
  }
  for (const StereoFormatEntry& f : StereoFormats()) {
    QKeySequence key(QString::fromLatin1(f.key), QKeySequence::PortableText);
    EXPECT_TRUE(seen.count(key)) << f.key;
  }
}

TEST_F(MainWindowTest, MenusCarryTitlesTextsHintsAndNumericNames) {
  QList<QAction*> bar = window_->menuBar()->actions();
  ASSERT_EQ(bar.size(), 4);
  EXPECT_EQ(bar[0]->text().toStdString(), "ファイル");
  EXPECT_EQ(bar[1]->text().toStdString(), "操作");
  EXPECT_EQ(bar[2]->text().toStdString(), "ステレオ形式");
  EXPECT_EQ(bar[3]->text().toStdString(), "ヘルプ");
  EXPECT_EQ(Item(4002)->text().toStdString(), "ステレオ映像を開く\tW");
  EXPECT_EQ(Item(4006)->text().toStdString(), "終了\tESC");
  EXPECT_EQ(Item(1019)->text().toStdString(), "縦インターレース表示\tAlt+F4");
  EXPECT_EQ(Item(4018)->objectName().toStdString(), "4018");

  // The format menu: every catalogue item in order, six separators.
  std::vector<int> ids;
  int separators = 0;
  for (QAction* a : window_->Menu(2)->actions()) {
    if (a->isSeparator()) ++separators;
    else ids.push_back(a->objectName().toInt());
  }
  ASSERT_EQ(ids.size(), 25u);  // codes 0-7, 9-24 and 27
  EXPECT_EQ(separators, 6);
  EXPECT_EQ(ids[12], 1015);  // Dubois comes before the other colour anaglyphs
  EXPECT_EQ(ids.back(), 1027);
}

TEST_F(MainWindowTest, FormatKeysSelectAndStoreTheFormat) {
  Key(Qt::Key_F4, Qt::AltModifier);  // column interlace, not a close
  EXPECT_EQ(Viewer.StereoType, 19);
  EXPECT_EQ(ReadSetting("StereoType"), "19");
  EXPECT_TRUE(window_->isVisible());

  Key(Qt::Key_F9, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Viewer.StereoType, 3);
  Key(Qt::Key_F11, Qt::ShiftModifier);
  EXPECT_EQ(Viewer.StereoType, 27);
  EXPECT_EQ(ReadSetting("StereoType"), "27");

  Run(1008);  // no format has code 8
  EXPECT_EQ(Viewer.StereoType, 27);
}

TEST_F(MainWindowTest, SecondKeysSelectTheFormatsWhoseKeysDesktopsTake) {
  struct { Qt::Key key; Qt::KeyboardModifiers mods; int code; } keys[] = {
      {Qt::Key_F4, Qt::ControlModifier | Qt::AltModifier, 21},
      {Qt::Key_F4, Qt::ControlModifier | Qt::ShiftModifier, 21},
      {Qt::Key_F7, Qt::ControlModifier | Qt::AltModifier, 17},
      {Qt::Key_F7, Qt::ControlModifier | Qt::ShiftModifier, 17},
      {Qt::Key_F7, Qt::AltModifier, 16},
      {Qt::Key_F7, Qt::AltModifier | Qt::ShiftModifier, 16},
      {Qt::Key_F10, Qt::AltModifier, 6},
      {Qt::Key_F10, Qt::AltModifier | Qt::ShiftModifier, 6}};
  for (const auto& k : keys) {
    Key(Qt::Key_F9);  // side by side between, so each key must change it
    ASSERT_EQ(Viewer.StereoType, 0);
    Key(k.key, k.mods);
    EXPECT_EQ(Viewer.StereoType, k.code) << k.key << " " << k.mods.toInt();
  }
}

TEST_F(MainWindowTest, EscapeCloses) {
  Key(Qt::Key_Escape);
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(MainWindowTest, SwapIsRefusedInSourceView) {
  Key(Qt::Key_X);
  EXPECT_TRUE(Viewer.SwapLR);
  Key(Qt::Key_X);
  EXPECT_FALSE(Viewer.SwapLR);
  EXPECT_TRUE(dialogs_.messages.empty());

  Run(1027);
  Key(Qt::Key_X);
  EXPECT_FALSE(Viewer.SwapLR);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_NE(dialogs_.messages[0].find("入替できません"), std::string::npos);
}

TEST_F(MainWindowTest, ZoomStepsByKeyAndWheel) {
  Viewer.ZoomPercent = 5;
  Key(Qt::Key_PageUp);
  EXPECT_EQ(Viewer.ZoomPercent, 6);
  EXPECT_FALSE(Viewer.FitToWindow);

  Viewer.ZoomPercent = 12;
  QWidget* canvas = window_->centralWidget();
  for (int notch = 0; notch < 3; ++notch) {
    QWheelEvent toward(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &toward);
  }
  EXPECT_EQ(Viewer.ZoomPercent, 10);

  Key(Qt::Key_J);
  EXPECT_EQ(Viewer.ZoomPercent, 100);
  Key(Qt::Key_F);
  EXPECT_EQ(Viewer.ZoomPercent, 0);
  EXPECT_TRUE(Viewer.FitToWindow);
}

TEST_F(MainWindowTest, ZoomingInStopsGrowingBeforeTheLayoutsOverflow) {
  ShowFile(kSamples + "scene.mpo");
  Run(1027);  // the source view lays out four widths
  Key(Qt::Key_M, Qt::ShiftModifier);
  Key(Qt::Key_J);
  Key(Qt::Key_PageUp);
  EXPECT_EQ(Viewer.ZoomPercent, 110);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(Viewer.ZoomPercent, 100);

  // Every step presents the pair; the width x zoom products must stay ints.
  for (int step = 0; step < 150; ++step) Run(CMD_ZOOM_IN);
  EXPECT_EQ(Viewer.ZoomPercent, kMaxZoomInPercent);
  Run(CMD_ZOOM_OUT);
  EXPECT_LT(Viewer.ZoomPercent, kMaxZoomInPercent);

  // A larger zoom set by fitting is not shrunk by zooming in.
  Viewer.ZoomPercent = 3 * kMaxZoomInPercent;
  ZoomIn();
  EXPECT_EQ(Viewer.ZoomPercent, 3 * kMaxZoomInPercent);
}

TEST_F(MainWindowTest, WidthModesToggleAndAreStoredOutsideLaunchModes) {
  Key(Qt::Key_M, Qt::ShiftModifier);
  EXPECT_EQ(Viewer.WidthMode, 5);
  EXPECT_EQ(ReadSetting("nDisp"), "5");
  Key(Qt::Key_M, Qt::ControlModifier);  // only from normal width
  EXPECT_EQ(Viewer.WidthMode, 0);
  Key(Qt::Key_M);
  EXPECT_EQ(Viewer.WidthMode, 6);
  Key(Qt::Key_M);
  EXPECT_EQ(Viewer.WidthMode, 5);

  Viewer.LaunchMode = 3;
  Key(Qt::Key_M);
  EXPECT_EQ(Viewer.WidthMode, 0);
  EXPECT_EQ(ReadSetting("nDisp"), "5");
}

TEST_F(MainWindowTest, ArrowsFirstStopASlideshowThenMoveTheFloatingWindow) {
  Key(Qt::Key_A);
  EXPECT_TRUE(Viewer.SlideShowOn);
  EXPECT_TRUE(window_->SlideshowTimer().isActive());
  EXPECT_EQ(window_->SlideshowTimer().interval(), 3000);
  Key(Qt::Key_Left);
  EXPECT_FALSE(Viewer.SlideShowOn);
  EXPECT_FALSE(window_->SlideshowTimer().isActive());
  EXPECT_EQ(Viewer.FloatOffset, 0);
  Key(Qt::Key_Left);
  Key(Qt::Key_Left);
  EXPECT_EQ(Viewer.FloatOffset, -2);
  Key(Qt::Key_Right);
  EXPECT_EQ(Viewer.FloatOffset, -1);
  Key(Qt::Key_Down);
  EXPECT_EQ(Viewer.FloatOffset, 0);
}

TEST_F(MainWindowTest, CheckMarksFollowTheStateOnEveryOpening) {
  Run(1015);
  Viewer.SwapLR = true;
  Viewer.CommentOn = false;
  Viewer.SmoothingOn = true;
  Viewer.WidthMode = 6;
  OpenMenus();
  for (int id = 1000; id <= 1027; ++id) {
    if (QAction* a = Item(id)) {
      EXPECT_EQ(a->isChecked(), id == 1015) << id;
    }
  }
  EXPECT_TRUE(Item(CMD_SWAP)->isChecked());
  EXPECT_FALSE(Item(CMD_COMMENT)->isChecked());
  EXPECT_TRUE(Item(CMD_SMOOTHING)->isChecked());
  EXPECT_TRUE(Item(CMD_HALF_WIDTH)->isChecked());
  EXPECT_FALSE(Item(CMD_DOUBLE_WIDTH)->isChecked());
  EXPECT_TRUE(Item(CMD_FIT)->isChecked());

  Key(Qt::Key_X);
  Key(Qt::Key_PageDown);
  OpenMenus();
  EXPECT_FALSE(Item(CMD_SWAP)->isChecked());
  EXPECT_FALSE(Item(CMD_FIT)->isChecked());
}

TEST_F(MainWindowTest, ToggleKeysFlipTheirFlags) {
  Key(Qt::Key_F1);
  EXPECT_TRUE(Viewer.HelpOverlayOn);
  EXPECT_TRUE(Viewer.CurrentLeft);  // the overlay draws over a blank pair
  Key(Qt::Key_H);
  EXPECT_FALSE(Viewer.HelpOverlayOn);
  Key(Qt::Key_T);
  EXPECT_FALSE(Viewer.CommentOn);
  Key(Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(Viewer.SmoothingOn);
  EXPECT_EQ(Title(), "High Quality Mode");
  Key(Qt::Key_P);
  EXPECT_EQ(Viewer.ActualSizeToggle, 1);
  EXPECT_EQ(Viewer.ZoomPercent, 100);
}

// L and V (free in every window) turn automatic alignment and convergence
// on and off: stored with the settings, checked in the 操作 menu, the item
// read again.  What was done to it shows after its title until the note's
// timer ends; with nothing on display the title only says the mode is on.
// Two presentations of one item, with and without the canvas note: they
// differ, and only in the lower part of the client area.
void ExpectOnlyTheBottomDiffers(const Framebuffer& a, const Framebuffer& b) {
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  int firstRow = a.height, changed = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      if (a.Row(y)[x] != b.Row(y)[x]) {
        firstRow = std::min(firstRow, y);
        ++changed;
      }
  EXPECT_GT(changed, 0);
  EXPECT_GE(firstRow, a.height / 2);
}

TEST_F(MainWindowTest, LAndVToggleAlignmentAndConvergenceWithABriefNote) {
  EXPECT_EQ(Item(CMD_AUTO_ALIGN)->text().toStdString(),
            "自動位置合わせON/OFF\tL");
  EXPECT_EQ(Item(CMD_AUTO_CONVERGE)->text().toStdString(),
            "自動視差調整ON/OFF\tV");
  Key(Qt::Key_V);
  EXPECT_EQ(Title(), "Auto Convergence ON");
  Key(Qt::Key_V);

  ShowFile(kSamples + "scene.mpo");
  const std::string itemTitle = window_->TitleText();
  std::string noteAfter = itemTitle;  // its trailing spaces give way
  while (!noteAfter.empty() && noteAfter.back() == ' ') noteAfter.pop_back();
  noteAfter += "  ";
  struct Toggle {
    Qt::Key key;
    int id;
    int* on;
    const char* setting;
    const char* noteStart[2];  // measured, or why not
    const char* offNote;
  };
  const Toggle toggles[] = {
      {Qt::Key_L, CMD_AUTO_ALIGN, &Viewer.AutoAlign, "AutoAlign",
       {"補正: 回転 ", "自動位置合わせ: 測定できません（"},
       "Auto Alignment OFF"},
      // The sample MPO records a camera parallax, which is kept.
      {Qt::Key_V, CMD_AUTO_CONVERGE, &Viewer.AutoConverge, "AutoConverge",
       {"視差調整なし（カメラの視差情報で表示）",
        "視差調整なし（カメラの視差情報で表示）"},
       "Auto Convergence OFF"},
  };
  for (const Toggle& t : toggles) {
    SCOPED_TRACE(t.setting);
    Key(t.key);
    EXPECT_EQ(*t.on, 1);
    EXPECT_EQ(ReadSetting(t.setting), "1");
    EXPECT_TRUE(Viewer.CurrentLeft && Viewer.CurrentRight);
    OpenMenus();
    EXPECT_TRUE(Item(t.id)->isChecked());
    ASSERT_TRUE(window_->TitleNoteShowing()) << Title();
    ASSERT_EQ(Title().rfind(noteAfter, 0), 0u) << Title();
    std::string note = Title().substr(noteAfter.size());
    EXPECT_TRUE(note.rfind(t.noteStart[0], 0) == 0 ||
                note.rfind(t.noteStart[1], 0) == 0)
        << note;
    // Also on the canvas, where full screen has no title: the same text,
    // drawn near the bottom and nowhere else.
    EXPECT_EQ(CanvasNote(), note);
    const Framebuffer withNote = Presentation.frame;
    // The note's time is up: the item's own title is back.
    window_->TitleNoteTimer().start(0);
    window_->CanvasNoteTimer().start(0);
    for (int i = 0; i < 100 && (window_->TitleNoteTimer().isActive() ||
                                window_->CanvasNoteTimer().isActive());
         ++i)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(Title(), itemTitle);
    EXPECT_EQ(CanvasNote(), "");
    ExpectOnlyTheBottomDiffers(withNote, Presentation.frame);
    // Turned off, it says so too.
    Key(t.key);
    EXPECT_EQ(*t.on, 0);
    EXPECT_EQ(ReadSetting(t.setting), "0");
    EXPECT_EQ(Title(), noteAfter + t.offNote);
    EXPECT_EQ(CanvasNote(), t.offNote);
    OpenMenus();
    EXPECT_FALSE(Item(t.id)->isChecked());
  }
}

// A side-by-side JPEG cut short is shown as far as it goes, and the title
// says that the file ends early; the whole file says nothing of the kind.
TEST_F(MainWindowTest, AStillCutShortIsShownWithANoteInTheTitle) {
  std::ifstream sample(kSamples + "scene.jps", std::ios::binary);
  std::string whole((std::istreambuf_iterator<char>(sample)),
                    std::istreambuf_iterator<char>());
  ASSERT_GT(whole.size(), 1000u);
  auto folder = std::filesystem::temp_directory_path() /
                ("duoramic-cut-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream((folder / "whole.jps").string(), std::ios::binary) << whole;
  std::ofstream((folder / "cut.jps").string(), std::ios::binary)
      << whole.substr(0, whole.size() * 2 / 3);
  ShowFile((folder / "cut.jps").string());
  EXPECT_TRUE(Viewer.CurrentLeft && Viewer.CurrentRight);
  EXPECT_NE(Title().find("一部のみ表示: the file ends early"), std::string::npos)
      << Title();
  ShowFile((folder / "whole.jps").string());
  EXPECT_EQ(Title().find("一部のみ表示"), std::string::npos) << Title();
  // The next item, read ahead while this one was on display, says it too.
  for (int i = 0; i < 200 && window_->Prefetch().Reading(); ++i)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  Key(Qt::Key_Space);
  EXPECT_NE(Title().find("cut.jps"), std::string::npos) << Title();
  EXPECT_NE(Title().find("一部のみ表示: the file ends early"), std::string::npos)
      << Title();
  std::filesystem::remove_all(folder);
}

TEST_F(MainWindowTest, CommandsStillToComeSayItInTheTitle) {
  for (int id : {CMD_MAKE_LIST, CMD_SHOW_360, 1022 + 1}) {
    window_->SetTitleText("before");
    Run(id);
    if (id == 1023) continue;  // iZ3D is a format: it is selected, not refused
    EXPECT_NE(Title().find("not built yet"), std::string::npos) << id;
  }
}

TEST_F(MainWindowTest, DroppedFilesOpenAsFilePairOrList) {
  HandleDroppedFiles(*window_, {kSamples + "scene.mpo"});
  QCoreApplication::processEvents();
  EXPECT_TRUE(Viewer.CurrentLeft);
  EXPECT_TRUE(Viewer.CurrentRight);
  EXPECT_EQ(Viewer.SourceKind, 1);
  EXPECT_NE(Title().find("(" + kSamples + "scene.mpo) "), std::string::npos);
  EXPECT_EQ(RecentFiles[0].left, kSamples + "scene.mpo");

  // Three files: the first two, ordered by name, make the pair.
  HandleDroppedFiles(*window_, {kSamples + "scene_R.jpg",
                                kSamples + "scene_L.jpg",
                                kSamples + "scene.jps"});
  QCoreApplication::processEvents();
  EXPECT_EQ(Viewer.LeftPath, kSamples + "scene_L.jpg");
  EXPECT_EQ(Viewer.RightPath, kSamples + "scene_R.jpg");
  EXPECT_EQ(Viewer.SourceKind, 2);
  EXPECT_TRUE(Viewer.CurrentLeft);
  EXPECT_NE(Title().find("左映像("), std::string::npos);

  HandleDroppedFiles(*window_, {kSamples + "duoramic.txt"});
  QCoreApplication::processEvents();
  EXPECT_TRUE(Viewer.ListMode);
  EXPECT_GT(Viewer.ItemCount, 0);
  EXPECT_TRUE(Viewer.CurrentLeft);
}

TEST_F(MainWindowTest, OpeningALeftImageOffersItsPartnerBeforeAskingForIt) {
  Viewer.OpenPath = "previous.mpo";
  window_->SetTitleText("previous item");
  dialogs_.chosenFiles = {kSamples + "scene_L.jpg", kSamples + "scene_R.jpg"};
  Run(CMD_OPEN_PAIR);
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.questions[0],
            "確認: " + kSamples + "scene_R.jpgをステレオペアとして開きますか？");
  // Declined: the right dialog starts in the left file's folder with its
  // name, and the title shows the left file until the pair is shown.
  ASSERT_EQ(dialogs_.opened.size(), 2u);
  EXPECT_EQ(dialogs_.opened[0].title, "左画像を開く");
  EXPECT_EQ(dialogs_.opened[0].preset, "previous.mpo");
  EXPECT_EQ(dialogs_.opened[1].title, "右画像を開く");
  EXPECT_EQ(dialogs_.opened[1].preset, "scene_L.jpg");
  EXPECT_EQ(dialogs_.opened[1].folder, kSamples);
  EXPECT_EQ(Viewer.RightPath, kSamples + "scene_R.jpg");
  EXPECT_EQ(Viewer.OpenPath, kSamples + "scene_R.jpg");
  EXPECT_TRUE(Viewer.CurrentLeft);
  EXPECT_EQ(RecentFiles[0].left, kSamples + "scene_L.jpg");

  // Accepted: no right dialog; the last left file pre-fills the left one.
  // A cancelled right dialog would have left the item's title in place.
  dialogs_ = ScriptedDialogs();
  dialogs_.answer = true;
  dialogs_.chosenFiles = {kSamples + "scene_L.jpg"};
  Run(CMD_OPEN_PAIR);
  ASSERT_EQ(dialogs_.opened.size(), 1u);
  EXPECT_EQ(dialogs_.opened[0].preset, kSamples + "scene_L.jpg");
  EXPECT_EQ(Viewer.RightPath, kSamples + "scene_R.jpg");
  EXPECT_EQ(Viewer.OpenPath, kSamples + "scene_L.jpg");

  dialogs_ = ScriptedDialogs();
  window_->SetTitleText("shown item");
  dialogs_.chosenFiles = {kSamples + "scene_L.jpg"};
  Run(CMD_OPEN_PAIR);
  EXPECT_EQ(dialogs_.opened.size(), 2u);
  EXPECT_EQ(Title(), "左画像(scene_L.jpg)");
  window_->ResetTitles();
  EXPECT_EQ(Title(), "shown item");

  // A cancelled left dialog changes nothing.
  Viewer.OpenPath = "kept.mpo";
  Run(CMD_OPEN_PAIR);
  EXPECT_EQ(Viewer.OpenPath, "kept.mpo");
}

TEST_F(MainWindowTest, APairOfNeighboursTakesTheRightOnesPosition) {
  // Folder order: scene.jps, scene.pns, scene_L.jpg, scene_R.jpg.
  ShowPair(kSamples + "scene_L.jpg", kSamples + "scene_R.jpg");
  EXPECT_EQ(Viewer.ItemIndex, 3);
  EXPECT_NE(Title().find(" 4/4"), std::string::npos);

  // The last name's neighbour is the first: the check stays in the list.
  ShowPair(kSamples + "scene_R.jpg", kSamples + "scene.jps");
  EXPECT_EQ(Viewer.ItemIndex, 0);
  EXPECT_EQ(RecentFiles[0].right, kSamples + "scene.jps");
}

TEST_F(MainWindowTest, TheCanvasShowsTheFramebufferPixelForPixel) {
  window_->resize(500, 400);
  QCoreApplication::processEvents();
  QWidget* canvas = window_->centralWidget();
  EXPECT_EQ(ClientWidth(), canvas->width());
  EXPECT_EQ(ClientHeight(), canvas->height());

  ShowFile(kSamples + "scene.mpo");
  Run(1000 + RowInterlace);
  QImage shown = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.width(), Presentation.frame.width);
  int differing = 0;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x)
      differing += shown.pixel(x, y) != Presentation.frame.At(x, y);
  EXPECT_EQ(differing, 0);
}

// The menu titles must be readable: drawn in a colour well apart from the
// bar's background, while the canvas under the bar stays black.
TEST_F(MainWindowTest, TheMenuBarTextsStandOutFromItsBackground) {
  QImage bar = window_->menuBar()->grab().toImage().convertToFormat(
      QImage::Format_RGB32);
  ASSERT_FALSE(bar.isNull());
  std::map<QRgb, int> counts;
  for (int y = 0; y < bar.height(); ++y)
    for (int x = 0; x < bar.width(); ++x) ++counts[bar.pixel(x, y)];
  QRgb background = std::max_element(counts.begin(), counts.end(),
                                     [](auto& a, auto& b) {
                                       return a.second < b.second;
                                     })->first;
  int contrasting = 0;
  for (auto& [colour, count] : counts)
    if (std::abs(qGray(colour) - qGray(background)) > 96) contrasting += count;
  EXPECT_GT(contrasting, 50) << "background " << std::hex << background;
  EXPECT_EQ(window_->centralWidget()->palette().color(QPalette::Window),
            QColor(Qt::black));
}

TEST_F(MainWindowTest, HistoryItemsAppearAboveClearAndReopen) {
  OpenMenus();
  EXPECT_FALSE(Item(CMD_CLEAR_HISTORY)->isEnabled());
  ShowFile(kSamples + "scene.jps");
  OpenMenus();
  EXPECT_TRUE(Item(CMD_CLEAR_HISTORY)->isEnabled());
  QAction* entry = Item(2151);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->text().toStdString(), kSamples + "scene.jps");
  QList<QAction*> file = window_->Menu(0)->actions();
  EXPECT_EQ(file.indexOf(entry) + 1, file.indexOf(Item(CMD_CLEAR_HISTORY)));

  FreePicture(Viewer.CurrentLeft);
  Viewer.OpenPath.clear();
  Run(2151);
  EXPECT_EQ(Viewer.OpenPath, kSamples + "scene.jps");
  EXPECT_TRUE(Viewer.CurrentLeft);

  dialogs_.answer = true;
  Run(CMD_CLEAR_HISTORY);
  EXPECT_EQ(Item(2151), nullptr);
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }

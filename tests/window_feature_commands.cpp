// Commands that the window hands to features outside the shell (movies, the
// 360-degree viewer, the 3D Vision output, JPEG comments, the list maker),
// driven by keys and clicks with recording stand-ins for the features.
#include <gtest/gtest.h>

#include <QTest>
#include <QUrl>
#include <algorithm>
#include <string>
#include <vector>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>
#include "shell/command_table.h"
#include "shell/file_history.h"
#include "shell/command_table.h"
#include "shell/main_window.h"
#include "core/viewer_state.h"
#include "tests/window_test_support.h"

namespace {

struct RecordingFeatures : MoviePlayer,
                           PanoramaViewer,
                           StereoOutput,
                           CommentEditor,
                           ListMaker {
  std::vector<std::string> calls;
  bool stepPending = false;
  int commentResult = 0;

  int OpenMovie(const std::string& l, const std::string& r) override {
    calls.push_back("OpenMovie " + l + "|" + r);
    return 0;
  }
  void CloseMovie() override {
    calls.push_back("CloseMovie");
    Viewer.MovieOpen = false;
  }
  void TogglePause() override { calls.push_back("TogglePause"); }
  void RestartToggle() override { calls.push_back("RestartToggle"); }
  bool StepPending() const override { return stepPending; }
  void StepForward() override { calls.push_back("StepForward"); }
  void StepBackward() override { calls.push_back("StepBackward"); }
  void ChangeRate(double d) override {
    calls.push_back("ChangeRate " + std::to_string(d));
  }
  void SetRate(double r) override {
    calls.push_back("SetRate " + std::to_string(r));
  }
  void SeekMovie(int) override {}
  void Show(const std::string& path, bool swap) override {
    calls.push_back("Show " + path + (swap ? " swapped" : ""));
  }
  void Close() override {}
  void RunStereoOutput(const std::string& l, const std::string& r,
                       int still) override {
    calls.push_back("RunStereoOutput " + l + "|" + r + "|" +
                    std::to_string(still));
  }
  bool StereoWindowActive() const override { return false; }
  void CloseStereoWindow() override {}
  int EditComment(QWidget*, const std::string& path) override {
    calls.push_back("EditComment " + path);
    return commentResult;
  }
  void MakeList(QWidget* owner) override {
    calls.push_back(owner ? "MakeList" : "MakeList without owner");
  }
};

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

class FeatureCommandsTest : public WindowTest {
 protected:
  void PrepareWindow() override {
    window_->SetMovie(&features_);
    window_->SetPanorama(&features_);
    window_->SetOutput(&features_);
    window_->SetComments(&features_);
    window_->SetLists(&features_);
  }
  void SetUp() override {
    WindowTest::SetUp();
    window_->SetTitleText("before");
  }

  void Click(Qt::MouseButton button) {
    QTest::mouseClick(window_->centralWidget(), button);
  }
  void PressMovieKeysAndClick() {
    const auto pad = Qt::ControlModifier | Qt::KeypadModifier;
    Key(Qt::Key_F2);
    Key(Qt::Key_F3);
    Key(Qt::Key_Space, Qt::ControlModifier);
    Key(Qt::Key_Backspace, Qt::ControlModifier);
    Key(Qt::Key_Plus, pad);
    Key(Qt::Key_Minus, pad);
    Key(Qt::Key_5, pad);
    Key(Qt::Key_9, pad);
    Click(Qt::LeftButton);
    Click(Qt::RightButton);
  }
  // The calls since the last look.
  std::vector<std::string> Calls() {
    return std::exchange(features_.calls, {});
  }

  RecordingFeatures features_;
};

TEST_F(FeatureCommandsTest, MovieKeysAndClicksActOnlyOnAnOpenMovie) {
  PressMovieKeysAndClick();
  EXPECT_EQ(Calls(), Strings{});
  EXPECT_EQ(Title(), "before");

  Viewer.MovieOpen = true;
  PressMovieKeysAndClick();
  EXPECT_EQ(Calls(), (Strings{"TogglePause", "RestartToggle", "StepForward",
                              "StepBackward", "ChangeRate 0.250000",
                              "ChangeRate -0.250000", "SetRate 5.000000",
                              "SetRate 9.000000", "TogglePause",
                              "RestartToggle"}));

  // A step asked for and not yet shown holds further steps back.
  features_.stepPending = true;
  Key(Qt::Key_Space, Qt::ControlModifier);
  Key(Qt::Key_Backspace, Qt::ControlModifier);
  EXPECT_EQ(Calls(), Strings{});
}

TEST_F(FeatureCommandsTest, KeysBoundToNoCommandAreTakenWithoutEffect) {
  const int unused[] = {3010, 4025, 4026, 4027, 4028, 4035, 4040};
  for (int id : unused) {
    auto keys = Accelerators();
    EXPECT_TRUE(std::any_of(keys.begin(), keys.end(),
                            [id](const AcceleratorRow& r) { return r.id == id; }))
        << id;
    Run(id);
  }
  for (Qt::Key key : {Qt::Key_B, Qt::Key_D, Qt::Key_G}) Key(key);
  for (Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down})
    Key(key, Qt::ControlModifier);
  EXPECT_EQ(Title(), "before");
  EXPECT_EQ(Viewer.FloatOffset, 0);
  EXPECT_EQ(Calls(), Strings{});
}

TEST_F(FeatureCommandsTest, JpegCommentIsOfferedForAShownJpegOnly) {
  Key(Qt::Key_K);  // nothing shown
  ShowFile(kSamples + "scene.mpo");
  Key(Qt::Key_K);  // an MPO cannot take a comment
  EXPECT_EQ(Calls(), Strings{});
  // Each refusal says why; the MPO's names the file.
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_NE(dialogs_.messages[0].find("表示中のファイルがありません"),
            std::string::npos);
  EXPECT_NE(dialogs_.messages[1].find("JPEGファイル"), std::string::npos);
  EXPECT_NE(dialogs_.messages[1].find(kSamples + "scene.mpo"), std::string::npos);
  dialogs_.messages.clear();

  ShowPair(kSamples + "scene_L.jpg", kSamples + "scene_R.jpg");
  FreePicture(Viewer.CurrentLeft);
  Key(Qt::Key_K);  // cancelled: the item is not read again
  EXPECT_EQ(Calls(), Strings{"EditComment " + kSamples + "scene_L.jpg"});
  EXPECT_FALSE(Viewer.CurrentLeft);

  features_.commentResult = 1;
  Key(Qt::Key_K);  // written: the item is read again with its new comment
  EXPECT_EQ(Calls().size(), 1u);
  EXPECT_TRUE(Viewer.CurrentLeft);

  EXPECT_TRUE(dialogs_.messages.empty());
  Viewer.MovieOpen = true;
  Key(Qt::Key_K);
  EXPECT_EQ(Calls(), Strings{});
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_NE(dialogs_.messages[0].find("動画"), std::string::npos);
}

TEST_F(FeatureCommandsTest, ThreeDVisionTakesTheItemOnDisplay) {
  Key(Qt::Key_F8);  // nothing shown yet: the format is only selected
  EXPECT_EQ(Viewer.StereoType, 22);
  EXPECT_EQ(Calls(), Strings{});

  // Showing an item while the format is on hands it over too.
  ShowFile(kSamples + "scene.jps");
  EXPECT_EQ(Calls(),
            Strings{"RunStereoOutput " + kSamples + "scene.jps||1"});
  Key(Qt::Key_F9);
  Viewer.SlideShowOn = true;
  window_->StartSlideshowTimer();
  Key(Qt::Key_F8);
  EXPECT_FALSE(Viewer.SlideShowOn);
  EXPECT_FALSE(window_->SlideshowTimer().isActive());
  EXPECT_EQ(Calls(),
            Strings{"RunStereoOutput " + kSamples + "scene.jps||1"});

  Viewer.LeftPath = kSamples + "scene_L.jpg";
  Viewer.RightPath = kSamples + "scene_R.jpg";
  Key(Qt::Key_F9);
  Run(CMD_SHOW_PAIR);
  Key(Qt::Key_F8);
  EXPECT_EQ(Calls(), Strings{"RunStereoOutput " + kSamples + "scene_L.jpg|" +
                             kSamples + "scene_R.jpg|1"});

  // A movie is let go for the output and taken up again after it.
  Viewer.MovieOpen = true;
  Viewer.ShownKind = 1;
  Viewer.ShownLeftPath = "/movies/trip.mp4";
  Viewer.ShownRightPath.clear();
  Key(Qt::Key_F8);
  EXPECT_EQ(Calls(), (Strings{"CloseMovie", "RunStereoOutput /movies/trip.mp4||0",
                              "OpenMovie /movies/trip.mp4|"}));
}

TEST_F(FeatureCommandsTest, PanoramaCommandsShowTheChosenFile) {
  Viewer.OpenPath = "/pictures/room.jpg";
  Viewer.n360swap = 1;
  Viewer.MovieOpen = true;
  Key(Qt::Key_P, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(Calls(), (Strings{"CloseMovie", "Show /pictures/room.jpg swapped"}));

  // The open dialog marks the next show as 360 even when it is cancelled.
  Run(CMD_OPEN_360);
  EXPECT_TRUE(Viewer.View360);
  ASSERT_EQ(dialogs_.opened.size(), 1u);
  EXPECT_EQ(dialogs_.opened[0].title, "全天球画像を開く");
  EXPECT_EQ(dialogs_.opened[0].filters,
            (Strings{"3D 360Files(jpg,mp4)", "*.jpg;*.mp4;*.webm;"}));
  EXPECT_EQ(Viewer.OpenPath, "/pictures/room.jpg");

  // A chosen file is shown once the dialog's command has returned.
  dialogs_.chosenFiles = {kSamples + "scene_L.jpg"};
  Run(CMD_OPEN_360);
  EXPECT_EQ(Viewer.OpenPath, kSamples + "scene_L.jpg");
  EXPECT_EQ(Viewer.OpenFolder, "");
  QCoreApplication::processEvents();
  EXPECT_EQ(Viewer.OpenFolder, kSamples);
}

// Leaving a panorama opened over a picture with Esc returns to that
// picture, drawn, and stepping goes on from it, not from the panorama.
TEST_F(FeatureCommandsTest, LeavingThe360ViewerReturnsToThePictureBefore) {
  ShowFile(kSamples + "scene.jps");
  const std::string title = Title();
  const std::string item = Viewer.ItemPath;
  const int index = Viewer.ItemIndex;
  Calls();

  dialogs_.chosenFiles = {kSamples + "scene_L.jpg"};
  Run(CMD_OPEN_360);
  QCoreApplication::processEvents();
  EXPECT_EQ(Calls(), Strings{"Show " + kSamples + "scene_L.jpg"});
  ASSERT_TRUE(Viewer.View360);

  Run(CMD_LEAVE_360);
  EXPECT_FALSE(Viewer.View360);
  EXPECT_EQ(Viewer.ItemPath, item);
  EXPECT_EQ(Viewer.ItemIndex, index);
  EXPECT_EQ(Title(), title);
  EXPECT_TRUE(Viewer.CurrentLeft && Viewer.CurrentRight);  // drawn again

  Key(Qt::Key_Space);
  EXPECT_EQ(Calls(), Strings{});  // no panorama opened
  EXPECT_EQ(Viewer.ItemIndex, (index + 1) % Viewer.ItemCount);
  EXPECT_NE(Viewer.ItemPath, item);

  // A second leave, with no place kept, only repaints.
  std::string now = Title();
  Run(CMD_LEAVE_360);
  EXPECT_EQ(Title(), now);
}

TEST_F(FeatureCommandsTest, ListMakerAndHelpPagesAreHandedOnOrSayWhyNot) {
  Run(CMD_MAKE_LIST);
  EXPECT_EQ(Calls(), Strings{"MakeList"});

  // A stand-in xdg-open records what it was given and answers with the
  // status in `status`, as the real one does (3: no browser found).
  QTemporaryDir bin;
  ASSERT_TRUE(bin.isValid());
  const std::string dir = bin.path().toStdString();
  {
    std::ofstream script(dir + "/xdg-open");
    script << "#!/bin/sh\necho \"$1\" >> '" << dir << "/opened'\n"
           << "exit $(cat '" << dir << "/status')\n";
  }
  fs::permissions(dir + "/xdg-open", fs::perms::owner_all);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(dir) + ":" + path);
  auto answer = [&](int status) {
    std::ofstream(dir + "/status") << status << "\n";
  };
  auto opened = [&] {
    std::ifstream in(dir + "/opened");
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  auto settle = [&](auto done) {
    for (int i = 0; i < 100 && !done(); ++i) QTest::qWait(50);
    QTest::qWait(300);  // time for a late, wrong message
  };

  answer(0);
  Run(CMD_WEB_HELP);
  settle([&] { return !opened().empty(); });
  EXPECT_EQ(opened(), std::string(LoadText(9)) + "\n");
  EXPECT_TRUE(dialogs_.messages.empty());

  answer(3);
  Run(CMD_WEB_HELP);
  settle([&] { return !dialogs_.messages.empty(); });
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_NE(dialogs_.messages[0].find(LoadText(9)), std::string::npos);

  // The help file: missing, the message comes at once; present but with
  // nothing to show it, once xdg-open has said so.
  dialogs_.messages.clear();
  window_->HelpFilePath = dir + "/missing.html";
  Run(CMD_HELP_FILE);
  EXPECT_EQ(dialogs_.messages, Strings{"ヘルプファイルが表示できません"});
  window_->HelpFilePath = dir + "/status";  // any file that exists
  Run(CMD_HELP_FILE);
  settle([&] { return dialogs_.messages.size() == 2; });
  EXPECT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_NE(opened().find(dir + "/status"), std::string::npos);

  qputenv("PATH", path);
  EXPECT_EQ(Title(), "before");
}

}  // namespace


// The shutter-glasses window over a fake stereo driver: refused and
// disabled stereo, the first item per eye, its keys, and leaving it.
#include <QTest>
#include <QTimer>

#include "fake_stereo_driver.h"
#include "shell/command_table.h"
#include "shell/vision3d_output.h"
#include "core/viewer_state.h"
#include "stereo/movie_frame.h"
#include "stereo/stereo_format.h"
#include "stereo/vision3d_surface.h"
#include "tests/window_test_support.h"

namespace {

class Vision3dOutputTest : public WindowTest {
 protected:
  void PrepareWindow() override {
    output_ = std::make_unique<Vision3dOutput>(*window_, [this](QWindow&) {
      auto fake = std::make_unique<FakeStereoDriver>();
      fake->grant = grant_;
      driver_ = fake.get();
      return fake;
    });
    output_->SetRedrawIntervalMs(200);
    window_->SetOutput(output_.get());
  }
  void TearDown() override {
    window_->SetOutput(nullptr);
    output_.reset();
    WindowTest::TearDown();
  }
  // Runs `step` once the output's loop is going, then lets it end.
  void WhileOpen(std::function<void()> step) {
    QTimer::singleShot(0, [this, step] {
      bool shown = QTest::qWaitFor(
          [this] { return driver_ && driver_->swaps > 0; }, 5000);
      EXPECT_TRUE(shown);
      if (shown) step();
      if (output_->Window()) output_->Window()->close();
    });
  }
  std::vector<uint32_t> Eye(StereoEye eye) {
    const auto* copy = driver_->Last(eye);
    return copy ? copy->pixels : std::vector<uint32_t>();
  }

  StereoStatus grant_ = StereoStatus::Enabled;
  FakeStereoDriver* driver_ = nullptr;
  std::unique_ptr<Vision3dOutput> output_;
};

TEST_F(Vision3dOutputTest, RefusedStereoSaysSoAndChangesNothing) {
  grant_ = StereoStatus::Unavailable;
  ShowFile(kSamples + "scene.mpo");
  std::string title = Title();
  Key(Qt::Key_F8);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0],
            "Stereo is not available\n"
            "Make sure the stereo driver is installed correctly");
  EXPECT_EQ(Viewer.StereoType, NvidiaStereo);
  EXPECT_EQ(Title(), title);
  EXPECT_TRUE(Viewer.CurrentLeft);
  EXPECT_FALSE(output_->StereoWindowActive());
  EXPECT_EQ(output_->Window(), nullptr);
}

TEST_F(Vision3dOutputTest, ShowsTheItemPerEyeAndItsKeysActOnIt) {
  ShowPair(kSamples + "scene_L.jpg", kSamples + "scene_R.jpg");
  std::vector<uint32_t> leftEye, rightEye;
  WhileOpen([&] {
    EXPECT_TRUE(output_->StereoWindowActive());
    EXPECT_EQ(output_->Window()->title(), "QRX 3D Vision");
    EXPECT_EQ(driver_->calls[0].rfind("start ", 0), 0u);
    leftEye = Eye(StereoEye::Left);
    rightEye = Eye(StereoEye::Right);
    QTest::keyClick(output_->Window(), Qt::Key_X);
    EXPECT_TRUE(Viewer.SwapLR);
    EXPECT_TRUE(Eye(StereoEye::Left) == rightEye);
    EXPECT_TRUE(Eye(StereoEye::Right) == leftEye);
    QTest::keyClick(output_->Window(), Qt::Key_J);
    EXPECT_EQ(Viewer.ZoomPercent, 100);
    EXPECT_FALSE(Viewer.FitToWindow);
    QTest::keyClick(output_->Window(), Qt::Key_F);
    EXPECT_TRUE(Viewer.FitToWindow);
    QTest::keyClick(output_->Window(), Qt::Key_M);  // only with Shift
    EXPECT_EQ(Viewer.WidthMode, 0);
    QTest::keyClick(output_->Window(), Qt::Key_M, Qt::ShiftModifier);
    EXPECT_EQ(Viewer.WidthMode, 5);
    QTest::keyClick(output_->Window(), Qt::Key_H);
    EXPECT_TRUE(Viewer.HelpOverlayOn);
  });
  Key(Qt::Key_F8);  // runs the output until the step above closes it
  EXPECT_FALSE(leftEye.empty());
  EXPECT_TRUE(leftEye != rightEye);  // the two views of the pair differ
  EXPECT_FALSE(output_->StereoWindowActive());
  EXPECT_EQ(output_->Window(), nullptr);
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(Vision3dOutputTest, DisabledStereoIsEnabledAfterOneMessage) {
  grant_ = StereoStatus::Disabled;
  ShowFile(kSamples + "scene.mpo");
  std::vector<std::string> calls;
  WhileOpen([&] { calls = driver_->calls; });
  Key(Qt::Key_F8);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0],
            "Stereo is available but not enabled\nLet's enable it");
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[1], "enable");
}

TEST_F(Vision3dOutputTest, EscapeAndTheFullScreenKeyLeaveIt) {
  ShowFile(kSamples + "scene.mpo");
  Viewer.StereoType = NvidiaStereo;
  for (auto leave : {std::function<void()>([this] {
                       QTest::keyClick(output_->Window(), Qt::Key_Escape);
                     }),
                     std::function<void()>([this] {
                       window_->DispatchCommand(CMD_FULL_SCREEN_CHOSEN);
                     })}) {
    bool closed = false;
    QTimer::singleShot(0, [&] {
      ASSERT_TRUE(QTest::qWaitFor([this] { return output_->StereoWindowActive(); },
                                  5000));
      leave();
      closed = true;
    });
    output_->RunStereoOutput(Viewer.ItemPath, "", 1);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(output_->StereoWindowActive());
  }
}

}  // namespace

#include "stereo/vision3d_surface.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "fake_stereo_driver.h"
#include "pixel_support.h"
#include "core/viewer_state.h"
#include "stereo/movie_frame.h"
#include "stereo/movie_views.h"

namespace {

class Vision3dTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    Viewer.StereoType = NvidiaStereo;
    Viewer.CommentOn = false;
    SetClientSize(200, 100);
    Vision3d.EyeWidth = 100;
    Vision3d.EyeHeight = 50;
    Vision3d.SurfaceNeeded = true;
    Vision3d.driver = &driver;
    Vision3d.StereoWindowActive = true;
  }
  void TearDown() override {
    Vision3d.StereoWindowActive = false;
    Vision3d.driver = nullptr;
    ReleaseStereoSurface();
    SetGrabbedFrame({});
    ResetMovieFrameState();
  }
  static Rgb3 Colour(uint32_t v) { return {RedOf(v), GreenOf(v), BlueOf(v)}; }
  FakeStereoDriver driver;
};

TEST_F(Vision3dTest, SignatureRowHoldsTheHeaderThenFFBytes) {
  Vision3d.EyeWidth = 7;
  Vision3d.EyeHeight = 3;
  ASSERT_TRUE(CreateStereoSurface());
  const Framebuffer& s = Vision3d.StereoSurface;
  ASSERT_EQ(s.width, 14);
  ASSERT_EQ(s.height, 4);
  const uint8_t* row = reinterpret_cast<const uint8_t*>(s.Row(3));
  const uint8_t header[20] = {'N', 'V', '3', 'D', 14, 0, 0, 0, 3, 0,
                              0,   0,   32,  0,   0, 0, 2, 0, 0, 0};
  EXPECT_EQ(std::memcmp(row, header, 20), 0);
  for (int i = 20; i < 14 * 4; ++i) EXPECT_EQ(row[i], 0xFF) << i;
  // The help overlay is drawn over the top-left of a surface lower than its
  // text; the signature survives it.
  Viewer.HelpOverlayOn = true;
  Picture l = Solid(7, 3, {9, 9, 9}), r = Solid(7, 3, {9, 9, 9});
  PresentStereoPair(l, r);
  EXPECT_EQ(std::memcmp(s.Row(3), header, 20), 0);
}

TEST_F(Vision3dTest, EachEyeGetsItsHalfInOrderWithOneSwapAndSwapExchanges) {
  Picture left = Solid(100, 50, {255, 0, 0}), right = Solid(100, 50, {0, 0, 255});
  ASSERT_EQ(PresentStereoPair(left, right), 0);
  EXPECT_EQ(driver.calls, (std::vector<std::string>{"left", "right", "swap"}));
  ASSERT_EQ(driver.eyes.size(), 2u);
  EXPECT_EQ(driver.eyes[0].width, 100);
  EXPECT_EQ(driver.eyes[0].height, 50);  // never the signature row
  EXPECT_EQ(Colour(driver.eyes[0].At(50, 25)), (Rgb3{255, 0, 0}));
  EXPECT_EQ(Colour(driver.eyes[1].At(50, 25)), (Rgb3{0, 0, 255}));
  // The main window's picture is left alone while the output is active.
  EXPECT_EQ(Pixel(100, 50), (Rgb3{0, 0, 0}));

  Viewer.SwapLR = true;
  PresentStereoPair(left, right);
  EXPECT_EQ(Colour(driver.Last(StereoEye::Left)->At(50, 25)), (Rgb3{0, 0, 255}));
  EXPECT_EQ(Colour(driver.Last(StereoEye::Right)->At(50, 25)), (Rgb3{255, 0, 0}));
  EXPECT_EQ(driver.swaps, 2);
}

TEST_F(Vision3dTest, StillsAreFittedAsSideBySideWithinOneEye) {
  // A 50 x 50 pair on 100 x 50 eyes: fitted to the height, centred.
  Picture left = Solid(50, 50, {255, 0, 0}), right = Solid(50, 50, {0, 255, 0});
  PresentStereoPair(left, right);
  const auto* eye = driver.Last(StereoEye::Right);
  EXPECT_EQ(Colour(eye->At(24, 25)), (Rgb3{0, 0, 0}));
  EXPECT_EQ(Colour(eye->At(25, 0)), (Rgb3{0, 255, 0}));
  EXPECT_EQ(Colour(eye->At(74, 49)), (Rgb3{0, 255, 0}));
  EXPECT_EQ(Colour(eye->At(75, 25)), (Rgb3{0, 0, 0}));
  EXPECT_EQ(Viewer.ZoomPercent, 100);
}

TEST_F(Vision3dTest, WithoutItsWindowTheFormatShowsOneSide) {
  Vision3d.StereoWindowActive = false;
  Picture left = Solid(100, 50, {255, 0, 0}), right = Solid(100, 50, {0, 0, 255});
  PresentStereoPair(left, right);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_EQ(Pixel(100, 50), (Rgb3{255, 0, 0}));
}

// Movie frames: stored row y of the grabbed frame carries y + 1 in blue and
// its column in green, so each eye's rows tell where they came from.
class Vision3dMovieTest : public Vision3dTest {
 protected:
  void Grab(int w, int h) {
    stride = (3 * w + 3) & ~3;
    bytes.assign(size_t(stride) * h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* px = bytes.data() + y * stride + 3 * x;
        px[0] = uint8_t(y + 1), px[1] = uint8_t(x), px[2] = 7;
      }
    SetGrabbedFrame({w, h, FrameRgb24, bytes.data(), stride, {}});
  }
  // The frame rows (stored, from 0) that an eye shows.
  std::set<int> RowsSeen(StereoEye which) {
    std::set<int> rows;
    const auto* eye = driver.Last(which);
    for (uint32_t v : eye->pixels)
      if (RedOf(v) == 7) rows.insert(BlueOf(v) - 1);
    return rows;
  }
  std::vector<uint8_t> bytes;
  int stride = 0;
};

TEST_F(Vision3dMovieTest, WidthModesCutTheFrameIntoEyeViews) {
  Vision3d.EyeWidth = 8;
  Vision3d.EyeHeight = 40;
  Grab(8, 40);
  struct Case {
    int mode, leftFirst, leftLast, rightFirst, rightLast;
  } cases[] = {
      {1, 0, 19, 20, 39},
      {4, 0, 19, 20, 39},  // after the row de-interleave of the frame build
      // The middle 5 % of the rows (19 and 20) reach neither eye.
      {3, 0, 18, 21, 39},
  };
  for (const Case& c : cases) {
    Viewer.WidthMode = c.mode;
    Viewer.BackgroundDirty = true;
    ASSERT_EQ(PresentMovieFrame(), 0);
    std::set<int> left = RowsSeen(StereoEye::Left);
    std::set<int> right = RowsSeen(StereoEye::Right);
    if (c.mode == 4) {
      // The frame build put the even rows below the odd ones.
      EXPECT_EQ(left.size(), 20u);
      EXPECT_EQ(*left.begin() % 2, 0);
      EXPECT_EQ(*right.begin() % 2, 1);
      continue;
    }
    ASSERT_FALSE(left.empty());
    ASSERT_FALSE(right.empty());
    EXPECT_EQ(*left.begin(), c.leftFirst) << c.mode;
    EXPECT_EQ(*left.rbegin(), c.leftLast) << c.mode;
    EXPECT_EQ(*right.begin(), c.rightFirst) << c.mode;
    EXPECT_EQ(*right.rbegin(), c.rightLast) << c.mode;
  }
}

TEST_F(Vision3dMovieTest, HalvesFitByWidthModeAndUnknownModesDrawNothing) {
  Grab(40, 10);  // two 20 x 10 views
  Vision3d.EyeWidth = 80;
  Vision3d.EyeHeight = 10;
  // Mode 0 fits the 20-pixel view width, 5 twice that, 6 half of it.
  for (auto [mode, width] : {std::pair{0, 20}, {5, 40}, {6, 10}}) {
    Viewer.WidthMode = mode;
    Viewer.BackgroundDirty = true;
    PresentMovieFrame();
    const auto* eye = driver.Last(StereoEye::Right);
    int drawn = 0;
    for (int x = 0; x < 80; ++x) drawn += RedOf(eye->At(x, 5)) == 7;
    EXPECT_EQ(drawn, width) << mode;
    // The right eye's first drawn column comes from the frame's right half.
    EXPECT_GE(GreenOf(eye->At((80 - width) / 2, 5)), 20) << mode;
    EXPECT_EQ(RedOf(eye->At((80 - width) / 2 - 1, 5)), 0) << mode;
  }
  Viewer.WidthMode = 7;
  Viewer.BackgroundDirty = true;
  ReleaseStereoSurface();
  PresentMovieFrame();
  for (uint32_t v : driver.Last(StereoEye::Left)->pixels) ASSERT_EQ(v, kBlack);
}

TEST(LineDoubledCopy, InterleavesAveragesAndRepeatsTheLastRow) {
  Picture frame = PaintStoredRows(2, 3, [](int, int row) {
    return Rgb3{row * 100, 0, 0};
  });
  Picture copy = LineDoubledCopy(ViewOf(frame));
  ASSERT_EQ(PictureHeight(copy), 6);
  int expected[] = {0, 50, 100, 150, 200, 200};
  for (int row = 0; row < 6; ++row)
    EXPECT_EQ(PictureRow(copy.get(), row)[3 * 1 + 2], expected[row]) << row;
}

}  // namespace

#include "stereo/panorama.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/viewer_state.h"

namespace {

// A clock that moves on by `stepMs` at every reading, a key queue, and a
// record of what the left edge of each half showed at every flush.
class FakeHost : public PresentationHost {
 public:
  uint32_t now = 5000;
  uint32_t stepMs = 1000;
  int pendingKeys = 0;
  int keyAfterFlushes = -1;  // a key arrives after this many flushes
  int discards = 0;
  int flushes = 0;
  std::vector<uint32_t> elapsed;  // clock readings after the start tick
  std::vector<std::vector<uint32_t>> shots;

  uint32_t NowMs() override {
    uint32_t t = now;
    now += stepMs;
    return t;
  }
  bool KeyWaiting() override { return pendingKeys > 0; }
  void DiscardKeyDowns() override {
    ++discards;
    pendingKeys = 0;
  }
  void Flush(const Framebuffer& fb) override {
    ++flushes;
    shots.push_back(fb.pixels);
    if (flushes == keyAfterFlushes) ++pendingKeys;
  }
};

// Column c of a view shows red c % 256, green c / 256, blue `tag`.
Picture Columns(int w, int h, uint8_t tag) {
  Picture p = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = PictureRow(p.get(), y) + 3 * x;
      px[0] = tag, px[1] = uint8_t(x / 256), px[2] = uint8_t(x % 256);
    }
  return p;
}

uint32_t ColumnColour(int c, uint8_t tag) { return Rgb(c % 256, c / 256, tag); }

TEST(PanoramaOffset, WrapAroundPassesTheWholeWidthEveryTwentySeconds) {
  EXPECT_EQ(PanoramaOffset(1, 0, 1000, 400), 0);
  EXPECT_EQ(PanoramaOffset(1, 10000, 1000, 400), 500);
  EXPECT_EQ(PanoramaOffset(1, 19999, 1000, 400), 999);  // 7199 x 1000 / 7200
  EXPECT_EQ(PanoramaOffset(1, 20000, 1000, 400), 0);
  EXPECT_EQ(PanoramaOffset(1, 45000, 1000, 400), 250);
  // Narrow pictures wrap too; the offset always stays inside the picture.
  EXPECT_EQ(PanoramaOffset(1, 15000, 100, 400), 75);
}

TEST(PanoramaOffset, BackAndForthReflectsAtTheEndAndStopsWhenThePictureFits) {
  // 360 columns a second; the picture's end is 600 columns away.
  EXPECT_EQ(PanoramaOffset(2, 1000, 1000, 400), 360);
  EXPECT_EQ(PanoramaOffset(2, 2000, 1000, 400), 480);   // 720 reflected
  EXPECT_EQ(PanoramaOffset(3, 3333, 1000, 400), 1);     // 1199, nearly back
  EXPECT_EQ(PanoramaOffset(2, 3334, 1000, 400), 0);     // 1200 = a full span
  EXPECT_EQ(PanoramaOffset(2, 1000000, 1000, 400), 0);  // no overflow: 360000 % 1200
  EXPECT_EQ(PanoramaOffset(2, 5000, 400, 400), 0);
  EXPECT_EQ(PanoramaOffset(2, 5000, 300, 400), 0);
}

class PanoramaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    Viewer.StereoType = SideBySide;
    SetClientSize(200, 50);  // halves of 100
    SetPresentationHost(&host);
    left = Columns(300, 20, 7);
    right = Columns(300, 20, 9);
  }
  void TearDown() override { SetPresentationHost(nullptr); }
  uint32_t Shot(size_t i, int x, int y) { return host.shots[i][y * 200 + x]; }
  FakeHost host;
  Picture left, right;
};

TEST_F(PanoramaTest, FullScreenScrollsBothHalvesTogetherUntilAKeyIsPressed) {
  Viewer.ActualSizeToggle = 1;
  Viewer.FullScreen = true;
  host.pendingKeys = 2;  // pressed before the pan: dropped, not a stop
  host.keyAfterFlushes = 3;
  ASSERT_EQ(PresentStereoPair(left, right), 0);
  EXPECT_EQ(host.discards, 1);
  // Three steps, then the presentation's own flush.
  ASSERT_EQ(host.flushes, 4);
  // The start tick is 5000; each step reads the clock once more, 1000 later.
  for (int step = 0; step < 3; ++step) {
    int o = PanoramaOffset(1, 1000 * (step + 1), 300, 100);
    EXPECT_EQ(o, 15 * (step + 1));
    EXPECT_EQ(Shot(step, 0, 5), ColumnColour(o, 7)) << step;
    EXPECT_EQ(Shot(step, 99, 5), ColumnColour(o + 99, 7)) << step;
    EXPECT_EQ(Shot(step, 100, 5), ColumnColour(o, 9)) << step;
    EXPECT_EQ(Shot(step, 100, 19), ColumnColour(o, 9)) << step;
    EXPECT_EQ(Shot(step, 100, 20), kBlack) << step;  // unscaled: 20 rows only
  }
}

TEST_F(PanoramaTest, WrapAroundContinuesWithColumnZeroPastThePicturesEnd) {
  Viewer.ActualSizeToggle = 1;
  Viewer.SwapLR = true;
  host.stepMs = 17000;  // offset 255 of 300: 45 columns left, then column 0
  ASSERT_EQ(PresentStereoPair(left, right), 0);
  ASSERT_EQ(host.flushes, 2);  // in a window: one step
  EXPECT_EQ(Shot(0, 0, 0), ColumnColour(255, 9));  // swapped: right view first
  EXPECT_EQ(Shot(0, 44, 0), ColumnColour(299, 9));
  EXPECT_EQ(Shot(0, 45, 0), ColumnColour(0, 9));
  EXPECT_EQ(Shot(0, 99, 0), ColumnColour(54, 9));
  EXPECT_EQ(Shot(0, 145, 0), ColumnColour(0, 7));
}

TEST_F(PanoramaTest, BackAndForthNeverDrawsPastThePicturesEnd) {
  Viewer.ActualSizeToggle = 2;
  host.stepMs = 555;  // 555 ms: 199 columns, reach 200
  ASSERT_EQ(PresentStereoPair(left, right), 0);
  EXPECT_EQ(Shot(0, 0, 0), ColumnColour(199, 7));
  EXPECT_EQ(Shot(0, 99, 0), ColumnColour(298, 7));
  EXPECT_EQ(Shot(0, 199, 0), ColumnColour(298, 9));
}

TEST_F(PanoramaTest, PicturesNarrowerThanTheirHalfRepeatOnlyWhenWrapping) {
  left = Columns(60, 20, 7);
  right = Columns(60, 20, 9);
  Viewer.ActualSizeToggle = 2;
  ASSERT_EQ(PresentStereoPair(left, right), 0);
  EXPECT_EQ(Shot(0, 0, 0), ColumnColour(0, 7));
  EXPECT_EQ(Shot(0, 59, 0), ColumnColour(59, 7));
  EXPECT_EQ(Shot(0, 60, 0), kBlack);
  EXPECT_EQ(Shot(0, 160, 0), kBlack);
  Viewer.ActualSizeToggle = 1;
  host.stepMs = 5000;  // a quarter pass: offset 15
  ASSERT_EQ(PresentStereoPair(left, right), 0);
  EXPECT_EQ(Shot(2, 0, 0), ColumnColour(15, 7));
  EXPECT_EQ(Shot(2, 45, 0), ColumnColour(0, 7));
  EXPECT_EQ(Shot(2, 99, 0), ColumnColour(54, 7));
  EXPECT_EQ(Shot(2, 145, 0), ColumnColour(0, 9));
}

}  // namespace

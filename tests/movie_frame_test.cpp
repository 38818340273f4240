#include "stereo/movie_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "image/comment.h"
#include "core/viewer_state.h"

namespace {

using Bgr = std::array<uint8_t, 3>;
constexpr Bgr kBlackPx{0, 0, 0};

// Source pixel (x, stored row y) of the test frames: unique per position.
Bgr Coded(int x, int y) { return {uint8_t(x + 1), uint8_t(y + 1), 200}; }

// An RGB24 frame with every row followed by `pad` bytes of 0xEE.
std::vector<uint8_t> RgbFrame(int w, int h, int pad) {
  std::vector<uint8_t> bytes;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Bgr c = Coded(x, y);
      bytes.insert(bytes.end(), c.begin(), c.end());
    }
    bytes.insert(bytes.end(), pad, 0xEE);
  }
  return bytes;
}

Bgr FrameAt(int x, int y) {
  const uint8_t* px = PictureRow(FramePicture().get(), y) + 3 * x;
  return {px[0], px[1], px[2]};
}

int bandsMade = 0;

// A band whose pixels tell their column and row.
Picture CodedBand(int w, int h) {
  ++bandsMade;
  Picture band = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = PictureRow(band.get(), y) + 3 * x;
      px[0] = uint8_t(x + 1), px[1] = uint8_t(y + 1), px[2] = 77;
    }
  return band;
}

class MovieFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    Viewer.CommentOn = false;
    ClearCurrentComment();
    ResetMovieFrameState();
    SetCommentBandMaker(CodedBand);
    bandsMade = 0;
  }
  void TearDown() override {
    SetCommentBandMaker(nullptr);
    SetGrabbedFrame({});
    ResetMovieFrameState();
    ClearCurrentComment();
  }
  void Grab(const std::vector<uint8_t>& bytes, int w, int h, int stride,
            int format = FrameRgb24) {
    SetGrabbedFrame({w, h, format, bytes.data(), stride, {}});
  }
};

TEST_F(MovieFrameTest, FloatShiftIsEvenAndTakenInIntegerOrder) {
  Viewer.FloatOffset = 1;
  EXPECT_EQ(FloatShiftFor(1920), 8);
  Viewer.FloatOffset = -1;
  EXPECT_EQ(FloatShiftFor(1920), -8);
  // A single step on a frame narrower than 400 pixels moves nothing ...
  for (int step : {-1, 1}) {
    Viewer.FloatOffset = step;
    EXPECT_EQ(FloatShiftFor(399), 0) << step;
  }
  // ... and larger offsets are multiplied before the division.
  Viewer.FloatOffset = 3;
  EXPECT_EQ(FloatShiftFor(399), 4);  // 1197 / 400 = 2, times 2
}

TEST_F(MovieFrameTest, PositiveShiftMovesTheViewsTogetherNegativeApart) {
  std::vector<uint8_t> bytes = RgbFrame(8, 2, 0);
  Grab(bytes, 8, 2, 24);
  Viewer.FloatOffset = 50;  // 50 x 8 / 400 x 2 = 2
  ASSERT_TRUE(BuildFramePicture());
  ASSERT_EQ(PictureWidth(FramePicture()), 12);
  ASSERT_EQ(PictureHeight(FramePicture()), 2);
  EXPECT_EQ(AppliedFloatShift(), 2);
  for (int y = 0; y < 2; ++y) {
    // Halves of 6: left view = black, black, L0..L3; right = R0..R3, black, black.
    for (int x : {0, 1, 10, 11}) EXPECT_EQ(FrameAt(x, y), kBlackPx) << x;
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(FrameAt(2 + x, y), Coded(x, y));
      EXPECT_EQ(FrameAt(6 + x, y), Coded(4 + x, y));
    }
  }
  Viewer.FloatOffset = -50;
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_EQ(AppliedFloatShift(), -2);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(FrameAt(x, 1), Coded(x, 1));
    EXPECT_EQ(FrameAt(4 + x, 1), kBlackPx);
    EXPECT_EQ(FrameAt(8 + x, 1), Coded(4 + x, 1));
  }
}

TEST_F(MovieFrameTest, TheFrameIsRemadeOnlyWhenItsShapeChanges) {
  std::vector<uint8_t> bytes = RgbFrame(8, 2, 0);
  Grab(bytes, 8, 2, 24);
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_TRUE(Viewer.BackgroundDirty);
  Viewer.BackgroundDirty = false;
  const uint8_t* first = FramePicture().get();
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_EQ(FramePicture().get(), first);
  EXPECT_FALSE(Viewer.BackgroundDirty);
  Viewer.FloatOffset = 50;
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_TRUE(Viewer.BackgroundDirty);
  ResetMovieFrameState();
  EXPECT_EQ(AppliedFloatShift(), 0);
  EXPECT_FALSE(FramePicture());
}

TEST_F(MovieFrameTest, CommentBandHalvesSitUnderTheirViews) {
  std::vector<uint8_t> bytes = RgbFrame(8, 20, 0);
  Grab(bytes, 8, 20, 24);
  Viewer.CommentOn = true;
  Viewer.CommentSize = 10;  // 2 rows
  std::strcpy(CurrentComment, "abc");
  Viewer.FloatOffset = 50;
  ASSERT_TRUE(BuildFramePicture());
  ASSERT_EQ(PictureHeight(FramePicture()), 22);
  ASSERT_EQ(bandsMade, 1);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(FrameAt(2 + x, y), (Bgr{uint8_t(x + 1), uint8_t(y + 1), 77}));
      EXPECT_EQ(FrameAt(6 + x, y), (Bgr{uint8_t(x + 5), uint8_t(y + 1), 77}));
    }
  EXPECT_EQ(FrameAt(1, 0), kBlackPx);
  EXPECT_EQ(FrameAt(2, 2), Coded(0, 0));  // the picture sits on the band
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_EQ(bandsMade, 1);  // kept between frames
  Viewer.FloatOffset = 0;
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_EQ(bandsMade, 2);
  EXPECT_EQ(FrameAt(4, 0), (Bgr{5, 1, 77}));
  Viewer.FloatOffset = -50;
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_EQ(FrameAt(8, 1), (Bgr{5, 2, 77}));
  EXPECT_EQ(FrameAt(4, 1), kBlackPx);

  Viewer.CommentOn = false;
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_FALSE(CommentBand());
  EXPECT_EQ(PictureHeight(FramePicture()), 20);
  EXPECT_EQ(FrameAt(0, 0), Coded(0, 0));
}

TEST_F(MovieFrameTest, AnEmptyCommentAddsNoBand) {
  std::vector<uint8_t> bytes = RgbFrame(8, 20, 0);
  Grab(bytes, 8, 20, 24);
  Viewer.CommentOn = true;
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_EQ(bandsMade, 0);
  EXPECT_EQ(PictureHeight(FramePicture()), 20);
}

TEST_F(MovieFrameTest, RowsFollowTheStrideAndBadGeometryIsRefused) {
  std::vector<uint8_t> bytes = RgbFrame(5, 1, 5);  // odd width, one row
  Grab(bytes, 5, 1, 20);
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_EQ(FrameAt(1, 0), Coded(1, 0));
  EXPECT_EQ(FrameAt(3, 0), Coded(3, 0));
  EXPECT_EQ(FrameAt(4, 0), kBlackPx);  // a middle column belongs to neither view
  Grab(bytes, 5, 1, 14);  // stride shorter than a row
  EXPECT_FALSE(BuildFramePicture());
  Grab(bytes, 1, 1, 20);
  EXPECT_FALSE(BuildFramePicture());
  SetGrabbedFrame({});
  EXPECT_FALSE(BuildFramePicture());
}

// YUY2 pairs Y0 U Y1 V, given top row first.
std::vector<uint8_t> Yuy2(std::initializer_list<std::array<uint8_t, 4>> pairs) {
  std::vector<uint8_t> bytes;
  for (const auto& p : pairs) bytes.insert(bytes.end(), p.begin(), p.end());
  return bytes;
}

TEST_F(MovieFrameTest, Yuy2IsConvertedWithStudioRangeAndClamped) {
  std::vector<uint8_t> bytes = Yuy2({
      {16, 128, 235, 128}, {81, 90, 81, 240},  // top: black, white; red, red
      {235, 255, 16, 255}, {16, 0, 16, 0},     // bottom: over the top, clamped
  });
  Grab(bytes, 4, 2, 8, FrameYuy2);
  ASSERT_TRUE(BuildFramePicture());
  // Rows are top-down: the first row is the top stored row.
  EXPECT_EQ(FrameAt(0, 1), kBlackPx);
  EXPECT_EQ(FrameAt(1, 1), (Bgr{255, 255, 255}));
  EXPECT_EQ(FrameAt(2, 1), (Bgr{0, 0, 255}));
  EXPECT_EQ(FrameAt(3, 1), (Bgr{0, 0, 255}));
  // Y 235, U = V = 255: green 255 - 49.75 - 103.25 = 102, blue and red clamp.
  EXPECT_EQ(FrameAt(0, 0), (Bgr{255, 102, 255}));
  // Y 16: red 203, blue 256 -> 255, green below 0 -> 0.
  EXPECT_EQ(FrameAt(1, 0), (Bgr{255, 0, 203}));
  // Y 16, U = V = 0: green 50.1 + 104.1 = 154, the others clamp to 0.
  EXPECT_EQ(FrameAt(2, 0), (Bgr{0, 154, 0}));
}

TEST_F(MovieFrameTest, Yuy2HalfStartingInsideAPairTakesThatPairsChroma) {
  // Six pixels: the right view starts with the second pixel of pair 1,
  // whose V of 240 adds 1.596 x 112 = 178.75 red and takes 91 green.
  std::vector<uint8_t> bytes = Yuy2({{235, 128, 235, 128},
                                     {235, 128, 16, 240},
                                     {235, 128, 235, 128}});
  Grab(bytes, 6, 1, 12, FrameYuy2);
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_EQ(FrameAt(1, 0), (Bgr{255, 255, 255}));
  EXPECT_EQ(FrameAt(2, 0), (Bgr{255, 164, 255}));  // last of the left view
  EXPECT_EQ(FrameAt(3, 0), (Bgr{0, 0, 179}));      // first of the right view
  EXPECT_EQ(FrameAt(4, 0), (Bgr{255, 255, 255}));
}

TEST(ConvertYuy2Row, LongRunsConvertAsEachPixelDoesAlone) {
  // 256 pairs take every Y, U and V value, in orders that differ so that
  // each pixel mixes unrelated values; single pixels take the table loop,
  // longer runs the wide one where the processor has it.
  std::vector<uint8_t> row(4 * 256 + 64);
  for (int i = 0; i < 256; ++i) {
    row[4 * i] = uint8_t(i);
    row[4 * i + 1] = uint8_t(i * 97 + 13);
    row[4 * i + 2] = uint8_t(255 - i);
    row[4 * i + 3] = uint8_t(i * 61 + 200);
  }
  std::vector<uint8_t> whole(3 * 512 + 3), alone(3);
  for (auto [first, count] : {std::pair{0, 512}, {1, 511}, {3, 37}, {16, 15}}) {
    std::fill(whole.begin(), whole.end(), 0xEE);
    ConvertYuy2Row(row.data(), first, count, whole.data());
    for (int x = 0; x < count; ++x) {
      ConvertYuy2Row(row.data(), first + x, 1, alone.data());
      ASSERT_TRUE(std::equal(alone.begin(), alone.end(), &whole[3 * x]))
          << "first " << first << " pixel " << x;
    }
    EXPECT_EQ(whole[3 * count], 0xEE) << "wrote past the run from " << first;
  }
}

TEST_F(MovieFrameTest, WidthMode4SplitsInterlacedRowsIntoTwoHalves) {
  Viewer.WidthMode = 4;
  Viewer.FloatOffset = 50;  // ignored: whole rows, no shift
  Viewer.CommentOn = true;
  std::strcpy(CurrentComment, "abc");
  for (int h : {4, 5}) {
    std::vector<uint8_t> bytes = RgbFrame(4, h, 0);
    Grab(bytes, 4, h, 12);
    ASSERT_TRUE(BuildFramePicture());
    ASSERT_EQ(PictureWidth(FramePicture()), 4);
    ASSERT_EQ(PictureHeight(FramePicture()), h);
    int evenRows = (h + 1) / 2;
    for (int i = 0; i < h; ++i) {
      int stored = i % 2 == 0 ? i / 2 : evenRows + i / 2;
      EXPECT_EQ(FrameAt(3, stored), Coded(3, i)) << "h " << h << " row " << i;
    }
  }
  EXPECT_EQ(bandsMade, 0);
  // YUY2 counts its rows bottom-up as well: the top source row is row h - 1.
  std::vector<uint8_t> bytes = Yuy2({{16, 128, 16, 128},     // row 2
                                     {235, 128, 235, 128},   // row 1
                                     {126, 128, 126, 128}}); // row 0
  Grab(bytes, 2, 3, 4, FrameYuy2);
  ASSERT_TRUE(BuildFramePicture());
  EXPECT_EQ(FrameAt(0, 0), (Bgr{128, 128, 128}));  // row 0
  EXPECT_EQ(FrameAt(0, 1), kBlackPx);                // row 2
  EXPECT_EQ(FrameAt(0, 2), (Bgr{255, 255, 255}));   // row 1
}

}  // namespace

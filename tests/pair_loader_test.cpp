#include "stereo/pair_loader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "image/comment.h"
#include "core/viewer_state.h"
#include "stereo/text_overlay.h"
#include "stereo/text_painter.h"
#include "tests/test_support.h"

namespace {

using Bgr = std::array<uint8_t, 3>;
constexpr Bgr kBlackPx{0, 0, 0};
constexpr Bgr kRedPx{0, 0, 200};
constexpr Bgr kBluePx{200, 0, 0};

// A 24-bit picture with each pixel given by (x, y counted from the top).
Picture Paint(int w, int h, const std::function<Bgr(int, int)>& colour) {
  Picture p = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Bgr c = colour(x, y);
      std::memcpy(PictureRow(p.get(), h - 1 - y) + 3 * x, c.data(), 3);
    }
  return p;
}

// Left half red, right half blue.
Picture Halves(int w, int h) {
  return Paint(w, h, [w](int x, int) { return x < w / 2 ? kRedPx : kBluePx; });
}

Bgr At(const Picture& p, int x, int y) {
  const uint8_t* px = PictureRow(p.get(), PictureHeight(p) - 1 - y) + 3 * x;
  return {px[0], px[1], px[2]};
}

// True when every pixel of columns [x0, x1) x rows [y0, y1) is `c`.
bool AllOf(const Picture& p, int x0, int x1, int y0, int y1, Bgr c) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (At(p, x, y) != c) return false;
  return true;
}

// The same with each channel within 2 of `c`: scaling a flat colour can
// lose a step of brightness.
bool AllNear(const Picture& p, int x0, int x1, int y0, int y1, Bgr c) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      for (int ch = 0; ch < 3; ++ch)
        if (std::abs(At(p, x, y)[ch] - c[ch]) > 2) return false;
  return true;
}

// The picture block as a BMP file: a 14-byte file header in front of it.
std::string WriteBmp(const std::string& name, const Picture& p) {
  size_t block = 40 + size_t(RowStride(PictureWidth(p), 24)) * PictureHeight(p);
  std::vector<uint8_t> bytes(14 + block);
  uint32_t fileSize = uint32_t(bytes.size()), offset = 54;
  bytes[0] = 'B', bytes[1] = 'M';
  std::memcpy(&bytes[2], &fileSize, 4);
  std::memcpy(&bytes[10], &offset, 4);
  std::memcpy(&bytes[14], p.get(), block);
  std::string path = ScratchDir() + "/" + name;
  WriteTestFile(path, bytes);
  return path;
}

void SetComment(const std::string& text) {
  SetCurrentComment(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

class PairLoader : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    ClearCurrentComment();
    Viewer.CommentOn = true;
    Viewer.CommentSize = 5;
    Viewer.FloatOffset = 0;
    Viewer.ActualSizeToggle = 0;
    Viewer.ZoomPercent = 0;
    Viewer.FitToWindow = true;
    Viewer.LeftPicture.reset();
    Viewer.RightPicture.reset();
  }
};

TEST_F(PairLoader, UnreadableFilesAndEmptyPathsShowABlack600Square) {
  std::string garbage = ScratchDir() + "/garbage.jpg";
  WriteTestFile(garbage, std::vector<uint8_t>(5000, 0x5A));
  for (const std::string& path :
       {garbage, ScratchDir() + "/missing.png", std::string()}) {
    ParallaxShiftX = ParallaxShiftY = 7;
    Picture p = LoadPicture(path);
    ASSERT_TRUE(p) << path;
    EXPECT_EQ(PictureWidth(p), 600);
    EXPECT_EQ(PictureHeight(p), 600);
    EXPECT_EQ(PictureBits(p), 24);
    EXPECT_TRUE(AllOf(p, 0, 600, 0, 600, kBlackPx)) << path;
    if (!path.empty()) {
      EXPECT_EQ(ParallaxShiftX + ParallaxShiftY, 0);
    }
  }
}

TEST_F(PairLoader, APairLoadsBothFilesAndRecordsThemAsShown) {
  std::string left = WriteBmp("pair_l.bmp", Halves(8, 4));
  std::string garbage = ScratchDir() + "/pair_r.bmp";
  WriteTestFile(garbage, {'B', 'M', 1, 2, 3});
  Picture l, r;
  ASSERT_EQ(LoadPicturePair(left, garbage, l, r), 1);
  EXPECT_EQ(PictureWidth(l), 8);
  EXPECT_EQ(At(l, 0, 0), kRedPx);
  EXPECT_EQ(PictureWidth(r), 600);  // unreadable right file: black
  EXPECT_EQ(Viewer.ShownKind, 2);
  EXPECT_EQ(Viewer.ShownLeftPath, left);
  EXPECT_EQ(Viewer.ShownRightPath, garbage);
}

// A side-by-side file's views as the loader cuts them for one screen.
struct SideBySideCase {
  int w, h;
  ScreenSize screen;
  bool comment;
  int panorama;
  int viewWidth, viewHeight, totalHeight;
};

TEST_F(PairLoader, SideBySideFilesFitTwiceTheScreenWidthOrItsHeight) {
  const SideBySideCase cases[] = {
      // Height governs: 200 x 100 into 384 x 108 becomes 216 x 108.
      {200, 100, {192, 108}, false, 0, 108, 108, 108},
      // Width governs: 400 x 100 into 384 x 108 becomes 384 x 96.
      {400, 100, {192, 108}, false, 0, 192, 96, 96},
      // The band takes 108 x 5 / 105 = 5 rows of the screen; 103 are left
      // for the picture and the band is 5 % of them.
      {200, 100, {192, 108}, true, 0, 103, 103, 108},
      // Panorama: always the full height, however wide.
      {400, 100, {192, 108}, false, 1, 216, 108, 108},
  };
  for (const SideBySideCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " band " << c.comment
                                    << " panorama " << c.panorama);
    Reset();
    Viewer.ActualSizeToggle = c.panorama;
    std::string path = WriteBmp("sbs.bmp", Halves(c.w, c.h));
    if (c.comment) SetComment("note");  // a file's own comment arrives first
    ASSERT_EQ(LoadSideBySideFile(path, c.screen), 1);
    const Picture& l = Viewer.LeftPicture;
    const Picture& r = Viewer.RightPicture;
    ASSERT_TRUE(l && r);
    EXPECT_EQ(PictureWidth(l), c.viewWidth);
    EXPECT_EQ(PictureWidth(r), c.viewWidth);
    EXPECT_EQ(PictureHeight(l), c.totalHeight);
    EXPECT_EQ(PictureHeight(r), c.totalHeight);
    int x = c.viewWidth / 2, y = c.viewHeight / 2;
    EXPECT_TRUE(AllNear(l, x, x + 1, y, y + 1, kRedPx));
    EXPECT_TRUE(AllNear(r, x, x + 1, y, y + 1, kBluePx));
    EXPECT_EQ(Viewer.ShownLeftPath, path);
    EXPECT_TRUE(Viewer.ShownRightPath.empty());
    EXPECT_EQ(Viewer.ZoomPercent, c.panorama ? 100 : 0);
    EXPECT_EQ(Viewer.FitToWindow, c.panorama == 0);
  }
}

// Column x of the source at its own column: blue carries the column number.
Picture Columns(int w, int h) {
  return Paint(w, h, [](int x, int) { return Bgr{uint8_t(x), 90, 90}; });
}

TEST_F(PairLoader, TheFloatingOffsetMovesOneViewAndLeavesBlackStrips) {
  Picture source = Columns(201, 4);  // the odd last column belongs to no view
  struct Case {
    int offset, side, column, width;
  } cases[] = {
      {10, 0, 10, 110}, {10, 1, 0, 110},    // positive: the left view moves
      {-10, 0, 0, 110}, {-10, 1, 10, 110},  // negative: the right view moves
      {0, 0, 0, 100},   {0, 1, 0, 100},
      {-1, 0, 0, 101},  {-1, 1, 1, 101},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " side " << c.side);
    Picture out = CutHalf(source, c.side, c.offset);
    ASSERT_TRUE(out);
    ASSERT_EQ(PictureWidth(out), c.width);
    EXPECT_EQ(PictureHeight(out), 4);
    EXPECT_TRUE(AllOf(out, 0, c.column, 0, 4, kBlackPx));
    EXPECT_TRUE(AllOf(out, c.column + 100, c.width, 0, 4, kBlackPx));
    for (int x = 0; x < 100; ++x)
      ASSERT_EQ(At(out, c.column + x, 2)[0], c.side * 100 + x) << x;
  }
  // A whole picture as a view: its own width, always from column 0.
  Picture whole = OffsetPicture(source, 1, -50);
  ASSERT_EQ(PictureWidth(whole), 301);
  EXPECT_TRUE(AllOf(whole, 0, 100, 0, 4, kBlackPx));
  EXPECT_EQ(At(whole, 100, 0)[0], 0);
  EXPECT_EQ(At(whole, 300, 0)[0], 200);
  EXPECT_EQ(PictureWidth(source), 201);  // the input is left alone
}

TEST_F(PairLoader, TheCommentBandIsAddedOnlyWithCommentOnAndAComment) {
  Picture source = Halves(400, 200);
  EXPECT_EQ(PictureHeight(CutHalf(source, 0, 0)), 200);  // no comment yet
  SetComment("立体写真");
  Viewer.CommentOn = false;
  EXPECT_EQ(PictureHeight(CutHalf(source, 0, 0)), 200);
  Viewer.CommentOn = true;
  Viewer.CommentSize = 10;
  Picture out = CutHalf(source, 1, -20);  // the right view 40 columns in
  ASSERT_EQ(PictureHeight(out), 220);
  ASSERT_EQ(PictureWidth(out), 240);
  EXPECT_TRUE(AllOf(out, 0, 40, 0, 200, kBlackPx));
  EXPECT_TRUE(AllOf(out, 40, 240, 0, 200, kBluePx));
  // The band is black but for grey text, and only under the view.
  int lit = 0;
  for (int y = 200; y < 220; ++y)
    for (int x = 0; x < 240; ++x) {
      Bgr c = At(out, x, y);
      if (c == kBlackPx) continue;
      ++lit;
      EXPECT_GE(x, 40);
      EXPECT_TRUE(c[0] == c[1] && c[1] == c[2]) << x << "," << y;
    }
  if (CurrentTextPainter()) {
    EXPECT_GT(lit, 20);
  }
}

TEST_F(PairLoader, PairsOfDifferentSizesShareOneScreenFittedCanvas) {
  Picture l = Paint(60, 45, [](int, int) { return kRedPx; });
  Picture r = Paint(64, 48, [](int, int) { return kBluePx; });
  ASSERT_EQ(FitPairToScreen({128, 72}, l, r), 1);  // 64 x 48 box to 96 x 72
  EXPECT_EQ(PictureWidth(l), 96);
  EXPECT_EQ(PictureHeight(l), 72);
  EXPECT_EQ(PictureWidth(r), 96);
  EXPECT_EQ(PictureHeight(r), 72);
  EXPECT_TRUE(AllNear(l, 0, 96, 0, 72, kRedPx));

  // Different shapes: the box is the larger width by the larger height, and
  // each picture is centred in it with black around.
  l = Paint(60, 45, [](int, int) { return kRedPx; });
  r = Paint(40, 80, [](int, int) { return kBluePx; });
  Viewer.FloatOffset = 5;  // 5 % of 60: the left view 3 columns in
  ASSERT_EQ(FitPairToScreen({120, 80}, l, r), 1);
  ASSERT_EQ(PictureWidth(l), 63);
  ASSERT_EQ(PictureHeight(l), 80);
  ASSERT_EQ(PictureWidth(r), 63);
  EXPECT_TRUE(AllOf(l, 0, 3, 0, 80, kBlackPx));
  EXPECT_TRUE(AllOf(l, 3, 63, 0, 18, kBlackPx));
  EXPECT_TRUE(AllNear(l, 3, 63, 18, 63, kRedPx));
  EXPECT_TRUE(AllOf(l, 3, 63, 63, 80, kBlackPx));
  EXPECT_TRUE(AllOf(r, 0, 10, 0, 80, kBlackPx));
  EXPECT_TRUE(AllNear(r, 10, 50, 0, 80, kBluePx));
  EXPECT_TRUE(AllOf(r, 50, 63, 0, 80, kBlackPx));

  // Width governs on a tall screen; the band shortens the screen first.
  l = Paint(64, 48, [](int, int) { return kRedPx; });
  r = Paint(64, 48, [](int, int) { return kBluePx; });
  Viewer.FloatOffset = 0;
  SetComment("c");
  ASSERT_EQ(FitPairToScreen({100, 200}, l, r), 1);
  EXPECT_EQ(PictureWidth(l), 100);
  EXPECT_EQ(PictureHeight(l), 75 + 75 * 5 / 100);
  Picture missing;
  EXPECT_EQ(FitPairToScreen({100, 200}, l, missing), 0);
}

}  // namespace

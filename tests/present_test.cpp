#include "stereo/present.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/viewer_state.h"
#include "stereo/framebuffer.h"

namespace {

// A picture of one colour whose leftmost column is marked green, so that a
// mirrored draw is visible.
Picture Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  Picture p = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = PictureRow(p.get(), y) + 3 * x;
      bool mark = x == 0;
      px[0] = mark ? 0 : b, px[1] = mark ? 255 : g, px[2] = mark ? 0 : r;
    }
  return p;
}

class PresentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    SetClientSize(200, 100);
    left = Solid(100, 100, 255, 0, 0);
    right = Solid(100, 100, 0, 0, 255);
  }
  uint32_t At(int x, int y) { return Presentation.frame.At(x, y); }
  Picture left, right;
};

TEST_F(PresentTest, SideBySidePutsEachViewInItsHalfAndSwapExchangesThem) {
  Viewer.StereoType = SideBySide;
  ASSERT_EQ(PresentStereoPair(left, right), 0);
  EXPECT_EQ(At(50, 50), Rgb(255, 0, 0));
  EXPECT_EQ(At(150, 50), Rgb(0, 0, 255));
  EXPECT_EQ(At(0, 50), Rgb(0, 255, 0));  // marked column on the left edge
  Viewer.SwapLR = true;
  PresentStereoPair(left, right);
  EXPECT_EQ(At(50, 50), Rgb(0, 0, 255));
  EXPECT_EQ(At(150, 50), Rgb(255, 0, 0));
}

TEST_F(PresentTest, MirroredHalvesAreDrawnFromTheirRightEdge) {
  Viewer.StereoType = SideBySideMirrorBoth;
  PresentStereoPair(left, right);
  EXPECT_EQ(At(99, 50), Rgb(0, 255, 0));
  EXPECT_EQ(At(199, 50), Rgb(0, 255, 0));
  EXPECT_EQ(At(0, 50), Rgb(255, 0, 0));
}

TEST_F(PresentTest, OverUnderPutsTheLeftViewOnTopAndFlipsWhereAsked) {
  SetClientSize(100, 200);
  Viewer.StereoType = OverUnder;
  PresentStereoPair(left, right);
  EXPECT_EQ(At(50, 50), Rgb(255, 0, 0));
  EXPECT_EQ(At(50, 150), Rgb(0, 0, 255));
}

TEST_F(PresentTest, UnknownCodesDrawSideBySideAndResetTheState) {
  for (int code : {8, 25, 26, -3, 99}) {
    Viewer.StereoType = code;
    PresentStereoPair(left, right);
    EXPECT_EQ(Viewer.StereoType, 0) << code;
    EXPECT_EQ(At(150, 50), Rgb(0, 0, 255)) << code;
  }
}

TEST_F(PresentTest, OneSideShowsTheFirstViewAndSourceNeverSwaps) {
  Viewer.StereoType = OneSide;
  Viewer.SwapLR = true;
  PresentStereoPair(left, right);
  EXPECT_EQ(At(100, 50), Rgb(0, 0, 255));
  Viewer.StereoType = Source;
  Viewer.BackgroundDirty = true;
  PresentStereoPair(left, right);
  EXPECT_EQ(At(50, 50), Rgb(255, 0, 0));
  EXPECT_EQ(At(150, 50), Rgb(0, 0, 255));
}

TEST_F(PresentTest, ABusyPresentationDropsTheCallAndMissingPicturesDrawNothing) {
  EXPECT_EQ(PresentStereoPair(left, Picture()), 1);
  Presentation.PresentBusy.test_and_set();
  EXPECT_EQ(PresentStereoPair(left, right), 1);
  Presentation.PresentBusy.clear();
  EXPECT_EQ(PresentStereoPair(left, right), 0);
}

TEST_F(PresentTest, AHostThatPresentsAgainWhileFlushingIsTurnedAwayNotBlocked) {
  // A flush that asks for the client size and presents once more on the
  // same thread (a window painting at once) gets the size, and the nested
  // presentation draws nothing.
  struct ReenteringHost : PresentationHost {
    const Picture* left = nullptr;
    const Picture* right = nullptr;
    int nested = -1, width = 0;
    void Flush(const Framebuffer&) override {
      if (nested != -1) return;
      width = ClientWidth();
      nested = PresentStereoPair(*left, *right);
    }
  } host;
  host.left = &left;
  host.right = &right;
  Presentation.host = &host;
  EXPECT_EQ(PresentStereoPair(left, right), 0);
  Presentation.host = nullptr;
  EXPECT_EQ(host.width, 200);
  EXPECT_EQ(host.nested, 1);
}

TEST(StereoFormatCatalogue, NamesAndCodesLookUpCaseInsensitively) {
  ASSERT_NE(FindStereoFormatByName("duboisanaglyph"), nullptr);
  EXPECT_EQ(FindStereoFormatByName("duboisanaglyph")->code, 15);
  EXPECT_EQ(FindStereoFormatByName("21")->code, DlpCheckerboard);
  EXPECT_EQ(FindStereoFormatByName("8"), nullptr);
  EXPECT_EQ(FindStereoFormatByName("Anaglyph"), nullptr);
  EXPECT_EQ(StereoFormats().size(), 25u);
}

}  // namespace

// Unscaled rows take the vector paths where the processor has them: every
// width, with the run's tail, gives each pixel its own bytes and nothing
// beyond the drawn rectangle changes.
TEST(StretchDrawStraight, EveryWidthCopiesEachPixelAndNoMore) {
  for (int width : {1, 2, 3, 8, 9, 10, 11, 17, 18, 19, 33, 64, 257}) {
    Picture p = CreatePicture(width, 2, 24);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < width; ++x) {
        uint8_t* px = PictureRow(p.get(), y) + 3 * x;
        px[0] = uint8_t(7 * x + y), px[1] = uint8_t(11 * x), px[2] = uint8_t(x ^ 0x5A);
      }
    Framebuffer fb;
    fb.Resize(width + 4, 4);
    std::fill(fb.pixels.begin(), fb.pixels.end(), 0x12345678u);
    StretchDraw(fb, 2, 1, width, 2, ViewOf(p), StretchMode::Nearest);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < width + 4; ++x) {
        bool inside = x >= 2 && x < width + 2 && y >= 1 && y < 3;
        uint32_t expected = 0x12345678u;
        if (inside) {
          const uint8_t* px = PictureRow(p.get(), 2 - y) + 3 * (x - 2);  // bottom-up
          expected = Rgb(px[2], px[1], px[0]);
        }
        ASSERT_EQ(fb.At(x, y), expected) << "width " << width << " at " << x << "," << y;
      }
  }
}

// A part of the source, clipped on the left by the buffer's edge, in both
// modes (smoothing at one to one samples the same pixels).
TEST(StretchDrawStraight, ClippedSourcePartsStartAtTheirOwnColumn) {
  for (StretchMode mode : {StretchMode::Nearest, StretchMode::Halftone})
    for (int width : {5, 12, 40}) {
      Picture p = CreatePicture(width, 3, 24);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3 * width; ++x) PictureRow(p.get(), y)[x] = uint8_t(5 * x + 31 * y);
      Framebuffer fb;
      fb.Resize(width, 3);
      // Source columns 1.. and rows 1..2, placed two columns left of the edge.
      StretchDraw(fb, -2, 0, width - 1, 2, ViewOf(p), 1, 1, width - 1, 2, mode);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < width - 3; ++x) {
          const uint8_t* px = PictureRow(p.get(), 3 - 1 - (1 + y)) + 3 * (x + 3);
          ASSERT_EQ(fb.At(x, y), Rgb(px[2], px[1], px[0]))
              << "width " << width << " at " << x << "," << y;
        }
    }
}

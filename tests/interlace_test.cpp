// Row and column interlace, the 3D DLP checkerboard and the Sharp 3D LCD
// sub-pixel layout: where each view's pixels land on the client.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "core/viewer_state.h"
#include "stereo/present.h"
#include "tests/pixel_support.h"

namespace {

constexpr Rgb3 kRed{200, 0, 0}, kBlue{0, 0, 200}, kGreen{0, 200, 0};
constexpr Rgb3 kNone{0, 0, 0};

class InterlaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    SetClientSize(100, 100);
  }
  void TearDown() override {
    FreeMarkerStrip();
    SetPresentationHost(nullptr);
  }
  // Presents with the framebuffer first painted white, so that drawn pixels
  // and margins are told apart from what was there.
  void Present(int format, const Picture& left, const Picture& right) {
    Viewer.StereoType = format;
    Viewer.BackgroundDirty = true;
    auto& px = Presentation.frame.pixels;
    px.assign(px.size(), kWhite);
    ASSERT_EQ(PresentStereoPair(left, right), 0);
  }
  // The client rows (or columns) that are neither white nor margin black.
  std::vector<int> DrawnRows(int x) {
    std::vector<int> rows;
    for (int y = 0; y < ClientHeight(); ++y)
      if (Pixel(x, y) != kNone && Pixel(x, y) != Rgb3{255, 255, 255})
        rows.push_back(y);
    return rows;
  }
  std::vector<int> DrawnColumns(int y) {
    std::vector<int> columns;
    for (int x = 0; x < ClientWidth(); ++x)
      if (Pixel(x, y) != kNone && Pixel(x, y) != Rgb3{255, 255, 255})
        columns.push_back(x);
    return columns;
  }
};

// --- Row interlace -------------------------------------------------------

// Which view lands where, at every client parity, is checked for all four
// formats together at the end of this file.
TEST_F(InterlaceTest, RowInterlaceEndsOnTheRightViewsBottomLineForAnyHeight) {
  // The right view's bottom line is green: the bottom composed row.
  Picture left = Solid(40, 20, kRed);
  Picture right = PaintStoredRows(40, 20, [](int, int row) { return row == 0 ? kGreen : kBlue; });
  for (int height : {98, 99, 100, 101}) {
    for (bool swap : {false, true}) {
      SetClientSize(100, height);
      Viewer.SwapLR = swap;
      Present(RowInterlace, swap ? right : left, swap ? left : right);
      std::vector<int> rows = DrawnRows(50);
      ASSERT_EQ(rows.size(), 50u) << height;  // H = 2 x floor(20 x 250 / 200)
      EXPECT_EQ(Pixel(50, rows.back()), kGreen) << height;
      EXPECT_EQ(rows.back() % 2, 0) << height;
    }
  }
}

TEST_F(InterlaceTest, RowInterlacePairsSampleSourceRowTwoKTimesHeightOverH) {
  // Green encodes the stored source row; left red, right blue.
  Picture left = PaintStoredRows(40, 20, [](int, int row) { return Rgb3{100, 10 * row, 0}; });
  Picture right = PaintStoredRows(40, 20, [](int, int row) { return Rgb3{0, 10 * row, 100}; });
  Present(RowInterlace, left, right);
  // H = 50 at y = 25: stored row j lies on client row 74 - j; pair k takes
  // source row (2k x 20) / 50.
  struct Case { int k, source; };
  for (Case c : {Case{0, 0}, Case{1, 0}, Case{2, 1}, Case{5, 4}, Case{24, 19}}) {
    EXPECT_EQ(Pixel(50, 74 - 2 * c.k), (Rgb3{0, 10 * c.source, 100})) << c.k;
    EXPECT_EQ(Pixel(50, 73 - 2 * c.k), (Rgb3{100, 10 * c.source, 0})) << c.k;
  }
  // Only the width is scaled: 40 columns drawn 100 wide.
  EXPECT_EQ(DrawnColumns(50).size(), 100u);
}

// --- Column interlace ----------------------------------------------------

TEST_F(InterlaceTest, ColumnInterlacePairsSampleSourceColumnTwoPTimesWidthOverW) {
  Picture left = PaintStoredRows(40, 20, [](int x, int) { return Rgb3{5 * x + 1, 0, 0}; });
  Picture right = PaintStoredRows(40, 20, [](int x, int) { return Rgb3{0, 0, 5 * x + 1}; });
  Present(ColumnInterlace, left, right);
  // W = 100 at x = 1 (x + W must be odd): pair p at client 1 + 2p takes
  // source column (2p x 40) / 100.
  struct Case { int p, source; };
  for (Case c : {Case{0, 0}, Case{1, 0}, Case{2, 1}, Case{4, 3}, Case{48, 38}}) {
    EXPECT_EQ(Pixel(1 + 2 * c.p, 50), (Rgb3{5 * c.source + 1, 0, 0})) << c.p;
    EXPECT_EQ(Pixel(2 + 2 * c.p, 50), (Rgb3{0, 0, 5 * c.source + 1})) << c.p;
  }
  // The height is scaled by the draw: 20 rows shown 50 high.
  EXPECT_EQ(DrawnRows(51).size(), 50u);
}

// --- 3D DLP checkerboard -------------------------------------------------

TEST_F(InterlaceTest, CheckerboardRowPairsSampleTwoSourceRowsAndOneColumn) {
  // Red or blue encodes the source column, green the stored source row.
  Picture left = PaintStoredRows(40, 20, [](int x, int row) { return Rgb3{5 * x, 10 * row, 0}; });
  Picture right = PaintStoredRows(40, 20, [](int x, int row) { return Rgb3{0, 10 * row, 5 * x}; });
  Present(DlpCheckerboard, left, right);
  // W = 100, H = 50 at (0, 25); stored row j on client row 74 - j.  Pair
  // p = 3 samples column (6 x 40) / 100 = 2.  Row pair k = 2: r0 = 80 / 50
  // = 1 (stored row 4, client row 70), r1 = 100 / 50 = 2 (client row 69).
  EXPECT_EQ(Pixel(6, 70), (Rgb3{0, 10, 10}));   // right(r0, c)
  EXPECT_EQ(Pixel(7, 70), (Rgb3{10, 10, 0}));   // left(r0, c)
  EXPECT_EQ(Pixel(6, 69), (Rgb3{10, 20, 0}));   // left(r1, c)
  EXPECT_EQ(Pixel(7, 69), (Rgb3{0, 20, 10}));   // right(r1, c)
}

TEST_F(InterlaceTest, CheckerboardDrawsTheClientAtTheHighestZoom) {
  // At 5000 % the shown picture is 40000 x 20000, past the picture size
  // limit: only what the client shows may be composed.
  Picture left = Solid(800, 400, kRed), right = Solid(800, 400, kBlue);
  Viewer.FitToWindow = false;
  for (int zoom : {1600, kMaxZoomInPercent}) {
    Viewer.ZoomPercent = zoom;
    Present(DlpCheckerboard, left, right);
    for (int y = 0; y < ClientHeight(); ++y)
      for (int x = 0; x < ClientWidth(); ++x)
        ASSERT_EQ(Pixel(x, y), ((x + y) & 1) ? kRed : kBlue)
            << zoom << "% at " << x << "," << y;
  }
}

// --- Sharp 3D LCD --------------------------------------------------------

TEST_F(InterlaceTest, SharpLcdSpreadsEachViewOverItsSubpixels) {
  SetClientSize(10, 10);
  Viewer.FitToWindow = false;
  Viewer.ZoomPercent = 200;  // W = 4, H = 2, at (3, 4)
  Picture right = PaintStoredRows(2, 1, [](int x, int) {
    return x == 0 ? Rgb3{11, 12, 13} : Rgb3{21, 22, 23};
  });
  Picture left = PaintStoredRows(2, 1, [](int x, int) {
    return x == 0 ? Rgb3{31, 32, 33} : Rgb3{41, 42, 43};
  });
  Present(Sharp3dLcd, left, right);
  // Sub-pixels R, G, B of client columns 3..6 in a row: the right view
  // (A) on 0, 2, 4 of each run of six, the left view (B) on 3, 5, 7; the
  // first green has no pair before it and the last B.green is dropped.
  const std::vector<int> expected = {11, 0, 13, 31, 12, 33,
                                     21, 32, 23, 41, 22, 43};
  for (int y : {4, 5}) {
    std::vector<int> subpixels;
    for (int x = 3; x < 7; ++x) {
      Rgb3 c = Pixel(x, y);
      subpixels.insert(subpixels.end(), {c.r, c.g, c.b});
    }
    EXPECT_EQ(subpixels, expected) << "row " << y;
  }
  EXPECT_EQ(Pixel(2, 4), kNone);
  EXPECT_EQ(Pixel(7, 4), kNone);
}

// A movie keeps its composition picture between frames, so nothing may rely
// on it starting black.
TEST_F(InterlaceTest, SharpLcdClearsTheFirstGreenEvenInAKeptComposition) {
  Picture frame = PaintStoredRows(80, 20, [](int x, int) {
    return x < 40 ? Rgb3{50, 60, 70} : Rgb3{80, 90, 100};
  });
  RenderInput in = MovieHalves(frame);
  RenderContext ctx{Presentation.frame, Presentation.client,
                    StretchMode::Nearest, Sharp3dLcd};
  RenderSharp3dLcd(ctx, in);
  Picture& kept = Presentation.CompositionPicture;
  ASSERT_TRUE(kept);
  int rows = PictureHeight(kept);
  std::fill(PictureRow(kept.get(), 0), PictureRow(kept.get(), rows - 1) +
                                           3 * PictureWidth(kept), 0xFF);
  RenderSharp3dLcd(ctx, in);
  ASSERT_TRUE(kept);
  for (int row = 0; row < rows; ++row)
    ASSERT_EQ(PictureRow(kept.get(), row)[1], 0) << row;
  EXPECT_EQ(Pixel(1, 50), (Rgb3{80, 0, 100}));
  EXPECT_EQ(Pixel(2, 50), (Rgb3{50, 90, 70}));
  kept.reset();
}

// Red encodes the source column of the right view (A), so the first pixel
// of each pair tells which column fed it.
std::vector<int> PairSourcesShown(int firstColumn, int pairs) {
  std::vector<int> sources;
  for (int q = 0; q < pairs; ++q)
    sources.push_back(Pixel(firstColumn + 2 * q, 9).r / 10 - 1);
  return sources;
}

TEST_F(InterlaceTest, SharpLcdColumnMapRepeatsOrSkipsColumnsToFillThePairs) {
  SetClientSize(20, 20);
  Viewer.FitToWindow = false;
  auto ramp = [](int w) {
    return PaintStoredRows(w, 1, [](int x, int) { return Rgb3{10 * (x + 1), 5, 5}; });
  };
  // Three columns into four pairs: (i + 1) x 4 / 3 - i x 4 / 3 = 1, 1, 2.
  Viewer.ZoomPercent = 300;  // W = 8 at x = 7
  Picture three = ramp(3);
  Present(Sharp3dLcd, three, three);
  EXPECT_EQ(PairSourcesShown(7, 4), (std::vector<int>{0, 1, 2, 2}));
  // Five columns into two pairs: k x 5 / 2 = 0, 2.
  Viewer.ZoomPercent = 100;  // W = 4 at x = 9
  Picture five = ramp(5);
  Present(Sharp3dLcd, five, five);
  EXPECT_EQ(PairSourcesShown(9, 2), (std::vector<int>{0, 2}));
}

TEST_F(InterlaceTest, SharpLcdFillsEveryPairWhenOneColumnFeedsHundreds) {
  SetClientSize(700, 700);
  Viewer.FitToWindow = false;
  Viewer.ZoomPercent = 60000;  // a 1-pixel view: W = 600 (300 pairs), H = 600
  Picture right = Solid(1, 1, {11, 12, 13}), left = Solid(1, 1, {31, 32, 33});
  Present(Sharp3dLcd, left, right);
  for (int q = 0; q < 300; ++q) {
    int x = 51 + 2 * q;
    ASSERT_EQ(Pixel(x, 60), (Rgb3{11, q == 0 ? 0 : 32, 13})) << q;
    ASSERT_EQ(Pixel(x + 1, 60), (Rgb3{31, 12, 33})) << q;
  }
}

TEST_F(InterlaceTest, SharpLcdShowsTheMarkerStripWhileAMovieIsOpen) {
  SetClientSize(100, 50);
  Picture left = Solid(10, 10, kRed), right = Solid(10, 10, kBlue);
  CreateMarkerStrip();
  Present(Sharp3dLcd, left, right);
  EXPECT_EQ(Pixel(0, 40), kNone);  // its top row is black
  EXPECT_EQ(Pixel(0, 41), (Rgb3{72, 0, 0}));
  EXPECT_EQ(Pixel(99, 49), (Rgb3{72, 0, 0}));
  FreeMarkerStrip();
  EXPECT_FALSE(Presentation.MarkerStrip);
  Present(Sharp3dLcd, left, right);
  EXPECT_EQ(Pixel(0, 45), kNone);
}

// --- All four formats ----------------------------------------------------

constexpr int kFormats[] = {RowInterlace, ColumnInterlace, Sharp3dLcd,
                            DlpCheckerboard};

TEST_F(InterlaceTest, SwapExchangesTheViewsInEveryFormat) {
  Picture a = PaintStoredRows(30, 16, [](int x, int y) { return Rgb3{8 * x, 15 * y, 90}; });
  Picture b = PaintStoredRows(30, 16, [](int x, int y) { return Rgb3{200, 7 * x, 14 * y}; });
  for (int format : kFormats) {
    Viewer.SwapLR = false;
    Present(format, b, a);
    std::vector<uint32_t> plain = Presentation.frame.pixels;
    Viewer.SwapLR = true;
    Present(format, a, b);
    EXPECT_EQ(Presentation.frame.pixels, plain) << format;
    Viewer.SwapLR = false;
    Present(format, a, b);
    EXPECT_NE(Presentation.frame.pixels, plain) << format;
  }
}

// Whole frames of two solid views in clients of every parity, swapped or
// not: every drawn pixel is the one its format promises at that place.
TEST_F(InterlaceTest, EachFormatPutsEachViewWhereItSaysForAnyClientAndSwap) {
  const Rgb3 l{200, 100, 40}, r{20, 150, 220};
  Picture left = Solid(40, 20, l), right = Solid(40, 20, r);
  for (int format : kFormats)
    for (int width : {98, 99, 100, 101, 102})
      for (int height : {97, 98, 99, 100, 101})
        for (bool swap : {false, true}) {
          SetClientSize(width, height);
          Viewer.SwapLR = swap;
          Present(format, swap ? right : left, swap ? left : right);
          SCOPED_TRACE(testing::Message() << "format " << format << " in " << width
                                          << "x" << height << " swap " << swap);
          std::vector<int> columns = DrawnColumns(50);
          ASSERT_GE(columns.size(), 95u);
          int x0 = columns.front(), drawn = 0;
          if (format == Sharp3dLcd) {
            EXPECT_EQ(x0 % 2, 1);  // drawn from an odd client column
          }
          for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
              Rgb3 c = Pixel(x, y);
              if (c == kNone) continue;
              ++drawn;
              Rgb3 want = l;
              switch (format) {
                case RowInterlace: want = (y & 1) ? l : r; break;
                case ColumnInterlace: want = (x & 1) ? l : r; break;
                case DlpCheckerboard: want = ((x + y) & 1) ? l : r; break;
                case Sharp3dLcd:  // the first green has no pair before it
                  want = ((x - x0) & 1) ? Rgb3{l.r, r.g, l.b}
                                        : Rgb3{r.r, x == x0 ? 0 : l.g, r.b};
                  break;
              }
              ASSERT_EQ(c, want) << "at " << x << "," << y;
            }
          EXPECT_GT(drawn, 4000);
        }
}

TEST_F(InterlaceTest, TinyViewsAndOddClientsStayInsideEveryBuffer) {
  const Rgb3 l{200, 100, 40}, r{20, 150, 220};
  Viewer.FitToWindow = false;
  for (int format : kFormats)
    for (auto [w, h] : {std::pair{1, 1}, {3, 1}, {1, 3}, {7, 5}})
      for (auto [cw, ch] : {std::pair{10, 10}, {11, 13}, {37, 10}})
        for (int zoom : {1, 10, 100, 333, 5000}) {
          SetClientSize(cw, ch);
          Viewer.ZoomPercent = zoom;
          Picture left = Solid(w, h, l), right = Solid(w, h, r);
          Present(format, left, right);
          if (format == Sharp3dLcd) continue;  // mixes channels
          for (uint32_t px : Presentation.frame.pixels) {
            Rgb3 c{RedOf(px), GreenOf(px), BlueOf(px)};
            ASSERT_TRUE(c == l || c == r || c == kNone)
                << format << " " << w << "x" << h << " in " << cw << "x" << ch
                << " at " << zoom << "%";
          }
        }
}

// A movie frame's halves are its views; the composition picture stays from
// one frame to the next.
TEST_F(InterlaceTest, MovieFramesInterleaveTheFrameHalvesAndKeepTheComposition) {
  Picture frame = PaintStoredRows(80, 20, [](int x, int) { return x < 40 ? kRed : kBlue; });
  RenderInput in = MovieHalves(frame);
  struct Case { int format; Renderer render; };
  const Case cases[] = {{RowInterlace, RenderRowInterlace},
                        {ColumnInterlace, RenderColumnInterlace},
                        {DlpCheckerboard, RenderDlpCheckerboard}};
  for (const Case& c : cases) {
    Viewer.BackgroundDirty = true;
    RenderContext ctx{Presentation.frame, Presentation.client,
                      StretchMode::Nearest, c.format};
    c.render(ctx, in);
    ASSERT_TRUE(Presentation.CompositionPicture) << c.format;
    const uint8_t* kept = Presentation.CompositionPicture.get();
    c.render(ctx, in);
    EXPECT_EQ(Presentation.CompositionPicture.get(), kept) << c.format;
    // Row 50 and column 50 are even: the right view in every format; the
    // left view on odd columns (column interlace, checkerboard) or rows.
    EXPECT_EQ(Pixel(50, 50), kBlue) << c.format;
    EXPECT_EQ(Pixel(51, 50), c.format == RowInterlace ? kBlue : kRed) << c.format;
    EXPECT_EQ(Pixel(50, 51), c.format == ColumnInterlace ? kBlue : kRed) << c.format;
  }
  Presentation.CompositionPicture.reset();
}

TEST_F(InterlaceTest, RowInterlacePanoramaKeepsTheRowParityUnscaled) {
  FixedClock clock(5000);
  SetPresentationHost(&clock);
  Viewer.ActualSizeToggle = 1;
  Picture left = PaintStoredRows(300, 20, [](int x, int) { return Rgb3{x % 250, 0, 0}; });
  Picture right = Solid(300, 20, kBlue);
  // Fit 33 percent: H = 6 at y = 47, the composed picture 300 wide unscaled.
  Present(RowInterlace, left, right);
  for (int x : {0, 57, 99}) {
    EXPECT_EQ(Pixel(x, 47), (Rgb3{x, 0, 0})) << x;
    EXPECT_EQ(Pixel(x, 48), kBlue) << x;
  }
  EXPECT_EQ(DrawnRows(57), (std::vector<int>{47, 48, 49, 50, 51, 52}));
}

}  // namespace

#include "stereo/anaglyph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/viewer_state.h"
#include "stereo/movie_frame.h"
#include "stereo/panorama.h"
#include "stereo/present.h"
#include "tests/pixel_support.h"

namespace {

// One pixel of each view through a format's row function.
Rgb3 Combine(int format, Rgb3 first, Rgb3 second) {
  uint8_t f[3] = {uint8_t(first.b), uint8_t(first.g), uint8_t(first.r)};
  uint8_t s[3] = {uint8_t(second.b), uint8_t(second.g), uint8_t(second.r)};
  uint8_t d[3] = {7, 7, 7};
  RowCombinerOf(format)(d, f, s, 1);
  return {d[2], d[1], d[0]};
}

class AnaglyphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    BuildAnaglyphTables();
    SetClientSize(100, 100);
  }
  void TearDown() override { Presentation.CompositionPicture.reset(); }
};

constexpr int kAnaglyphs[] = {9, 10, 11, 12, 13, 14, 15, 16, 17};

// The Dubois least-squares matrices and the luminance weights, as published:
// a swapped or mistyped coefficient changes every picture in that format.
constexpr double kDubois[3][6] = {
    // F.red, F.green, F.blue, S.red, S.green, S.blue
    {0.4561, 0.500484, 0.176381, -0.0434706, -0.0879388, -0.00155529},
    {-0.0400822, -0.0378246, -0.0157589, 0.378476, 0.73364, -0.0184503},
    {-0.0152161, -0.0205971, -0.00546856, -0.0721527, -0.112961, 1.2264},
};
constexpr double kLumaWeights[3] = {0.299, 0.587, 0.114};
constexpr int kLumaThousandths[3] = {299, 587, 114};

// Entry v of a coefficient's table: v x (coefficient x 1024) toward zero, so
// 0.4561 gives 255 x 467.0464 = 119096 and -0.0434706 gives -11351, not -11352.
TEST_F(AnaglyphTest, EveryTableHoldsItsCoefficientTimes1024TruncatedTowardZero) {
  for (int v = 0; v < 256; ++v) {
    for (int out = 0; out < 3; ++out)
      for (int in = 0; in < 6; ++in)
        ASSERT_EQ(AnaglyphTables.dubois[out][in][v],
                  static_cast<int32_t>(std::trunc(v * (kDubois[out][in] * 1024))))
            << "Dubois output " << out << " input " << in << " value " << v;
    for (int c = 0; c < 3; ++c) {
      ASSERT_EQ(AnaglyphTables.luma[c][v],
                static_cast<int32_t>(std::trunc(v * (kLumaWeights[c] * 1024))))
          << "Y2 weight " << c << " value " << v;
      // Y1: the weight rounded half up (exactly, in thousandths).
      const uint8_t* y1[3] = {LumaTables.red, LumaTables.green, LumaTables.blue};
      ASSERT_EQ(y1[c][v], (kLumaThousandths[c] * v + 500) / 1000)
          << "Y1 weight " << c << " value " << v;
    }
  }
  for (int i = 0; i < 456; ++i)
    ASSERT_EQ(AnaglyphTables.clamp[i], std::clamp(i - 100, 0, 255)) << i;
  for (int i = 0; i < 302; ++i)  // indexed by the Y1 sum plus 46
    ASSERT_EQ(LumaTables.clamp[i], std::clamp(i - 46 + 16, 0, 255)) << i;
}

// F = (200, 100, 50): Y1 = 60 + 59 + 6 + 16 = 141, Y2 = 127179 / 1024 = 124.
// S = (10, 220, 130): Y1 = 3 + 129 + 15 + 16 = 163, Y2 = 150475 / 1024 = 146.
TEST_F(AnaglyphTest, EachFormatTakesItsChannelsFromTheRightViewAndLuminance) {
  const Rgb3 f{200, 100, 50}, s{10, 220, 130};
  const Rgb3 black{0, 0, 0}, white{255, 255, 255};
  struct Case { int format; Rgb3 first, second, expected; };
  const Case cases[] = {
      {AnaglyphRedCyan, f, s, {141, 163, 163}},
      {AnaglyphRedGreen, f, s, {141, 163, 0}},
      {AnaglyphRedBlue, f, s, {141, 0, 163}},
      {AnaglyphYellowBlue, f, s, {146, 146, 124}},
      {ColorAnaglyphRedCyan, f, s, {200, 220, 130}},
      {ColorAnaglyphRedCyanRedCorrected, f, s, {141, 220, 130}},
      {ColorAnaglyphYellowBlue, f, s, {10, 220, 50}},
      {ColorAnaglyphYellowBlueBlueCorrected, f, s, {10, 220, 124}},
      // Monochrome black is lifted to sixteen; white stays white.
      {AnaglyphRedCyan, black, black, {16, 16, 16}},
      {AnaglyphRedCyan, white, white, white},
      {DuboisAnaglyph, {255, 0, 0}, black, {116, 0, 0}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Combine(c.format, c.first, c.second), c.expected)
        << "format " << c.format << " of " << c.first << " and " << c.second;
}

// The Dubois row function sums three channels at once in packed words; it
// must agree with the plain 18-table product for every pixel.
TEST_F(AnaglyphTest, DuboisRowMatchesTheEighteenTableProductForAnyPixels) {
  std::mt19937 random(7);
  const int n = 4096;
  std::vector<uint8_t> f(3 * n), s(3 * n), d(3 * n);
  for (auto& v : f) v = uint8_t(random());
  for (auto& v : s) v = uint8_t(random());
  // The extremes of every sum.
  for (int c = 0; c < 3; ++c) f[c] = 255, s[c] = 0, f[3 + c] = 0, s[3 + c] = 255;
  RowCombinerOf(DuboisAnaglyph)(d.data(), f.data(), s.data(), n);
  for (int i = 0; i < n; ++i) {
    // Inputs in table order: F.red, F.green, F.blue, S.red, S.green, S.blue.
    int in[6] = {f[3 * i + 2], f[3 * i + 1], f[3 * i], s[3 * i + 2],
                 s[3 * i + 1], s[3 * i]};
    for (int out = 0; out < 3; ++out) {
      int sum = 0;
      for (int k = 0; k < 6; ++k) sum += AnaglyphTables.dubois[out][k][in[k]];
      int expected = std::clamp((sum + 102400) / 1024 - 100, 0, 255);
      ASSERT_EQ(d[3 * i + 2 - out], expected) << "pixel " << i << " out " << out;
    }
  }
}

// Whole rows go through word-at-a-time and (where the processor has them)
// wide vector paths; single pixels through the plain one.  All must agree,
// and no row may be written past its end.
TEST_F(AnaglyphTest, RowsOfAnyLengthMatchPixelByPixelCombination) {
  std::mt19937 random(11);
  for (int format : kAnaglyphs) {
    for (int n : {1, 2, 7, 8, 9, 63, 64, 65, 127, 128, 200}) {
      std::vector<uint8_t> f(3 * n), s(3 * n), row(3 * n + 8, 0xA5);
      for (auto& v : f) v = uint8_t(random());
      for (auto& v : s) v = uint8_t(random());
      RowCombinerOf(format)(row.data(), f.data(), s.data(), n);
      // Where the format mixes into window words too, so must those.
      RowWordCombiner wordsOf = RowWordCombinerOf(format);
      std::vector<uint32_t> words(n + 2, 0xA5A5A5A5u);
      if (wordsOf) wordsOf(words.data(), f.data(), s.data(), n);
      for (int i = 0; i < n; ++i) {
        uint8_t one[3];
        RowCombinerOf(format)(one, &f[3 * i], &s[3 * i], 1);
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(row[3 * i + c], one[c])
              << "format " << format << " length " << n << " pixel " << i;
        if (wordsOf) {
          ASSERT_EQ(words[i], Rgb(one[2], one[1], one[0]))
              << "format " << format << " length " << n << " pixel " << i;
        }
      }
      for (int k = 0; k < 8; ++k)
        ASSERT_EQ(row[3 * n + k], 0xA5) << "format " << format << " length " << n;
      ASSERT_EQ(words[n], 0xA5A5A5A5u) << "format " << format << " length " << n;
    }
  }
}

// Straight from YUY2 rows, from any pixel of either row and at any length,
// the mix is that of the rows converted first, and no word goes past.
TEST_F(AnaglyphTest, DuboisFromYuy2RowsMatchesConvertingFirst) {
  Yuy2WordCombiner mix = Yuy2WordCombinerOf(DuboisAnaglyph);
  if (!mix) GTEST_SKIP() << "this processor has no wide Dubois mix";
  std::mt19937 random(5);
  std::vector<uint8_t> rowF(512), rowS(512);  // every Y, U, V value occurs
  for (auto& v : rowF) v = uint8_t(random());
  for (auto& v : rowS) v = uint8_t(random());
  for (int first : {0, 1, 2})
    for (int second : {0, 1, 4, 5})
      for (int n : {1, 15, 16, 17, 33, 130}) {
        std::vector<uint32_t> words(n + 1, 0xA5A5A5A5u);
        mix(words.data(), rowF.data(), first, rowS.data(), second, n);
        std::vector<uint8_t> f(3 * n), s(3 * n);
        ConvertYuy2Row(rowF.data(), first, n, f.data());
        ConvertYuy2Row(rowS.data(), second, n, s.data());
        for (int i = 0; i < n; ++i) {
          uint8_t one[3];
          RowCombinerOf(DuboisAnaglyph)(one, &f[3 * i], &s[3 * i], 1);
          ASSERT_EQ(words[i], Rgb(one[2], one[1], one[0]))
              << "from " << first << " and " << second << ", length " << n
              << ", pixel " << i;
        }
        ASSERT_EQ(words[n], 0xA5A5A5A5u) << "length " << n;
      }
}

TEST_F(AnaglyphTest, PresentedPairIsComposedAtSourceSizeThenStretched) {
  // 50 x 50 views fit 200 percent into 100 x 100: every source pixel is a
  // 2 x 2 block.  Left: red ramp across; right: green ramp down.
  Picture left = Paint(50, 50, [](int x, int) { return Rgb3{5 * x, 0, 0}; });
  Picture right = Paint(50, 50, [](int, int y) { return Rgb3{0, 5 * y, 9}; });
  Viewer.StereoType = ColorAnaglyphRedCyan;
  ASSERT_EQ(PresentStereoPair(left, right), 0);
  for (int y = 0; y < 100; y += 7)
    for (int x = 0; x < 100; x += 3)
      ASSERT_EQ(Pixel(x, y), (Rgb3{5 * (x / 2), 5 * (y / 2), 9})) << x << "," << y;
  EXPECT_FALSE(Presentation.CompositionPicture);  // stills release it
}

TEST_F(AnaglyphTest, SwapExchangesTheViewsInEveryAnaglyph) {
  Picture a = Paint(20, 10, [](int x, int y) { return Rgb3{12 * x, 20 * y, 90}; });
  Picture b = Paint(20, 10, [](int x, int y) { return Rgb3{200, 9 * x, 25 * y}; });
  for (int format : kAnaglyphs) {
    Viewer.StereoType = format;
    Viewer.SwapLR = false;
    PresentStereoPair(b, a);
    std::vector<uint32_t> plain = Presentation.frame.pixels;
    Viewer.SwapLR = true;
    PresentStereoPair(a, b);
    EXPECT_EQ(Presentation.frame.pixels, plain) << format;
    // And the views do matter: the unswapped pair differs.
    Viewer.SwapLR = false;
    PresentStereoPair(a, b);
    EXPECT_NE(Presentation.frame.pixels, plain) << format;
  }
}

TEST_F(AnaglyphTest, TheFitRectangleIsCentredWithBlackMargins) {
  SetClientSize(100, 60);
  Picture white = Solid(40, 40, {255, 255, 255});
  Presentation.frame.pixels.assign(Presentation.frame.pixels.size(), kWhite);
  Viewer.StereoType = AnaglyphRedCyan;
  PresentStereoPair(white, white);
  // Fit 150 percent: 60 x 60 at x = 20.
  EXPECT_EQ(Pixel(19, 30), (Rgb3{0, 0, 0}));
  EXPECT_EQ(Pixel(20, 30), (Rgb3{255, 255, 255}));
  EXPECT_EQ(Pixel(79, 30), (Rgb3{255, 255, 255}));
  EXPECT_EQ(Pixel(80, 30), (Rgb3{0, 0, 0}));
  EXPECT_FALSE(Viewer.BackgroundDirty);
}

// A movie frame holds both views side by side; its composition picture is
// kept from one frame to the next.
TEST_F(AnaglyphTest, MovieFramesMixTheFrameHalvesAndKeepTheComposition) {
  Picture frame = Paint(40, 20, [](int x, int) {
    return x < 20 ? Rgb3{220, 30, 40} : Rgb3{50, 60, 70};
  });
  RenderInput in = MovieHalves(frame);
  RenderContext ctx{Presentation.frame, Presentation.client,
                    StretchMode::Nearest, ColorAnaglyphRedCyan};
  RenderAnaglyph(ctx, in);
  EXPECT_EQ(Pixel(50, 50), (Rgb3{220, 60, 70}));
  ASSERT_TRUE(Presentation.CompositionPicture);
  const uint8_t* kept = Presentation.CompositionPicture.get();
  Viewer.SwapLR = true;
  RenderAnaglyph(ctx, in);
  EXPECT_EQ(Pixel(50, 50), (Rgb3{50, 30, 40}));
  EXPECT_EQ(Presentation.CompositionPicture.get(), kept);
}

// Large enough to be drawn in bands and strips: every pixel of a picture
// shown at its own size is the mix of the two pixels at its place, with the
// picture centred in a larger window and filling one of its own size.
TEST_F(AnaglyphTest, UnscaledPicturesAreMixedAtEveryPixel) {
  constexpr int kW = 640, kH = 601;
  auto colour = [](int x, int y, int seed) {
    return Rgb3{(x * 7 + y * seed) % 256, (x ^ y) % 256, (x + 3 * y + seed) % 256};
  };
  Picture left = Paint(kW, kH, [&](int x, int y) { return colour(x, y, 1); });
  Picture right = Paint(kW, kH, [&](int x, int y) { return colour(x, y, 5); });
  Viewer.StereoType = DuboisAnaglyph;
  Viewer.FitToWindow = false;
  Viewer.ZoomPercent = 100;
  // A negative margin: the window shows the middle of the picture.
  for (int margin : {0, 40, -40}) {
    SetClientSize(kW + 2 * margin, kH + 2 * margin);
    ASSERT_EQ(PresentStereoPair(left, right), 0);
    int inside = std::max(0, -margin);
    for (int y = inside; y < kH - inside; ++y)
      for (int x = inside; x < kW - inside; ++x)
        ASSERT_EQ(Pixel(margin + x, margin + y),
                  Combine(DuboisAnaglyph, colour(x, y, 1), colour(x, y, 5)))
            << x << "," << y << " margin " << margin;
    if (margin > 0) {
      EXPECT_EQ(Pixel(margin - 1, margin), (Rgb3{0, 0, 0}));
      EXPECT_EQ(Pixel(margin, margin + kH), (Rgb3{0, 0, 0}));
    }
  }
}

TEST_F(AnaglyphTest, PanoramaDrawsTheComposedPictureUnscaledFromTheTop) {
  FixedClock clock(1000);
  SetPresentationHost(&clock);
  Viewer.ActualSizeToggle = 1;
  Picture left = Paint(300, 40, [](int x, int) { return Rgb3{x % 200, 0, 0}; });
  Picture right = Solid(300, 40, {0, 33, 44});
  Viewer.StereoType = ColorAnaglyphRedCyan;
  PresentStereoPair(left, right);
  SetPresentationHost(nullptr);
  for (int x : {0, 1, 57, 99}) EXPECT_EQ(Pixel(x, 0), (Rgb3{x, 33, 44})) << x;
  EXPECT_EQ(Pixel(10, 39), (Rgb3{10, 33, 44}));
  EXPECT_EQ(Pixel(10, 40), (Rgb3{0, 0, 0}));
}

}  // namespace

// Anaglyph movie frames are converted from YUY2 strip by strip as they are
// mixed, or mixed from the YUY2 rows themselves where the frame is them
// unchanged: the window's picture is that of a frame converted whole, and
// once completed so is the display frame, also when a stale frame came
// before, when scaled, swapped, or clipped from an odd column.
TEST_F(AnaglyphTest, MovieFramesConvertedInStripsMatchTheWholeFrame) {
  constexpr int kW = 640, kH = 301;
  auto yuy2 = [](int seed) {
    std::vector<uint8_t> bytes(size_t{2} * kW * kH);
    std::mt19937 random(seed);
    for (uint8_t& b : bytes) b = uint8_t(random());
    return bytes;
  };
  std::vector<uint8_t> frame = yuy2(1), stale = yuy2(2);
  Viewer.StereoType = DuboisAnaglyph;
  Viewer.MovieOpen = true;
  auto rowsOf = [](const Picture& p) {
    std::vector<uint8_t> rows;
    for (int y = 0; y < PictureHeight(p); ++y)
      rows.insert(rows.end(), PictureRow(p.get(), y), PictureRow(p.get(), y) + 3 * PictureWidth(p));
    return rows;
  };
  struct Case {
    int floatOffset;  // 2: the views move apart, margins in the frame
    bool fit, swap;
    int clip;  // columns and rows the window lacks at its own size
  };
  for (Case c : {Case{2, false, false, 0}, Case{2, true, false, 0},
                 Case{0, false, false, 0}, Case{0, false, true, 2},
                 Case{0, true, false, 0}}) {
    Viewer.FloatOffset = c.floatOffset;
    Viewer.FitToWindow = c.fit;
    Viewer.SwapLR = c.swap;
    Viewer.ZoomPercent = 100;
    // Whole: the frame built at once, then mixed.
    SetGrabbedFrame({kW, kH, FrameYuy2, frame.data(), 2 * kW, {}});
    ASSERT_TRUE(BuildFramePicture());
    std::vector<uint8_t> wholeFrame = rowsOf(FramePicture());
    RenderInput in = MovieHalves(FramePicture());
    // At its own size (strips), then fitted into a smaller window (scaled).
    SetClientSize(in.left.width / (c.fit ? 2 : 1) - c.clip,
                  in.left.height / (c.fit ? 3 : 1) - c.clip);
    RenderContext ctx{Presentation.frame, Presentation.client,
                      StretchMode::Nearest, DuboisAnaglyph};
    RenderAnaglyph(ctx, in);
    std::vector<uint32_t> wholeWindow = Presentation.frame.pixels;
    // In strips, after a different frame, which the display frame holds.
    SetGrabbedFrame({kW, kH, FrameYuy2, stale.data(), 2 * kW, {}});
    ASSERT_EQ(PresentMovieFrame(), 0);
    ASSERT_TRUE(BuildFramePicture());
    SetGrabbedFrame({kW, kH, FrameYuy2, frame.data(), 2 * kW, {}});
    ASSERT_EQ(PresentMovieFrame(), 0);
    std::string name = "float " + std::to_string(c.floatOffset) + " fit " +
                       std::to_string(c.fit) + " swap " + std::to_string(c.swap);
    EXPECT_TRUE(Presentation.frame.pixels == wholeWindow) << name;
    CompleteFramePicture();
    EXPECT_TRUE(rowsOf(FramePicture()) == wholeFrame) << name;
  }
  SetGrabbedFrame({});
  ResetMovieFrameState();
}

namespace {

// A random 4:2:0 frame with padded rows, and the YUY2 frame a converter
// makes of it by giving each row its pair of rows' chroma (videoconvert
// packs I420 into YUY2 so): the frame that presentation showed before
// decoded planes reached it.
struct Yuv420Frame {
  int width, height, stride, chromaStride;
  std::vector<uint8_t> luma, u, v, nv12, yuy2;

  Yuv420Frame(int w, int h, int seed)
      : width(w), height(h), stride(w + 24), chromaStride((w + 1) / 2 + 8) {
    std::mt19937 random(seed);
    int chromaRows = (h + 1) / 2, pairs = (w + 1) / 2;
    luma.resize(size_t(stride) * h);
    u.resize(size_t(chromaStride) * chromaRows);
    v.resize(u.size());
    nv12.resize(size_t(2 * chromaStride) * chromaRows);
    for (auto* plane : {&luma, &u, &v})
      for (uint8_t& b : *plane) b = uint8_t(random());
    yuy2.resize(size_t(4 * pairs) * h);
    for (int y = 0; y < h; ++y)
      for (int p = 0; p < pairs; ++p) {
        uint8_t* pair = &yuy2[size_t(4 * pairs) * y + 4 * p];
        size_t c = size_t(chromaStride) * (y / 2) + p;
        pair[0] = luma[size_t(stride) * y + 2 * p];
        pair[1] = u[c];
        pair[2] = 2 * p + 1 < w ? luma[size_t(stride) * y + 2 * p + 1] : 0;
        pair[3] = v[c];
        nv12[size_t(2 * chromaStride) * (y / 2) + 2 * p] = u[c];
        nv12[size_t(2 * chromaStride) * (y / 2) + 2 * p + 1] = v[c];
      }
  }
  GrabbedFrame Planar() const {
    GrabbedFrame f{width, height, FrameYuv420, luma.data(), stride, {}};
    f.u = u.data();
    f.v = v.data();
    f.chromaStride = chromaStride;
    return f;
  }
  GrabbedFrame SemiPlanar() const {
    GrabbedFrame f = Planar();
    f.u = nv12.data();
    f.v = nv12.data() + 1;
    f.chromaStride = 2 * chromaStride;
    f.chromaStep = 2;
    return f;
  }
  GrabbedFrame Packed() const {
    return {width, height, FrameYuy2, yuy2.data(), 4 * ((width + 1) / 2), {}};
  }
};

// Straight from I420 or NV12 rows, from any pixel of either view and at any
// length, Dubois mixes what the same rows packed as YUY2 give.
TEST_F(AnaglyphTest, DuboisFrom420RowsMatchesTheirYuy2Packing) {
  YuvWordCombiner mix = YuvWordCombinerOf(DuboisAnaglyph);
  ASSERT_TRUE(mix);  // the table loop serves where the processor lacks AVX2
  Yuv420Frame frame(300, 2, 9);
  YuvRow packed = Yuy2Row(frame.yuy2.data());
  YuvRow planar{frame.luma.data(), frame.u.data(), frame.v.data(), 1, 1};
  YuvRow semi{frame.luma.data(), frame.nv12.data(), frame.nv12.data() + 1, 1, 2};
  for (int first : {0, 1, 2})
    for (int second : {0, 1, 4, 5, 150})
      for (int n : {1, 15, 16, 17, 33, 130}) {
        std::vector<uint32_t> expected(n);
        mix(expected.data(), packed, first, packed, second, n);
        for (const YuvRow& row : {planar, semi}) {
          std::vector<uint32_t> words(n + 1, 0xA5A5A5A5u);
          mix(words.data(), row, first, row, second, n);
          words.pop_back();
          ASSERT_EQ(words, expected) << "from " << first << " and " << second
                                     << ", length " << n << ", step "
                                     << row.chromaStep;
        }
      }
}

// A decoded frame's planes show in the window as its YUY2 packing did, in
// every anaglyph (Dubois mixes the planes themselves, the others convert
// strip by strip) and with the views moved apart, scaled, swapped or
// clipped from an odd column; the completed display frame is the same too.
TEST_F(AnaglyphTest, Movie420FramesShowAsTheirYuy2Packing) {
  Yuv420Frame frame(640, 301, 3);
  Viewer.MovieOpen = true;
  struct Case {
    int format, floatOffset;
    bool fit, swap;
    int clip;
  };
  for (Case c : {Case{DuboisAnaglyph, 0, false, false, 0},
                 Case{DuboisAnaglyph, 0, false, true, 3},
                 Case{DuboisAnaglyph, 2, false, false, 0},
                 Case{DuboisAnaglyph, 0, true, false, 0},
                 Case{AnaglyphRedCyan, 0, false, false, 1},
                 Case{ColorAnaglyphYellowBlue, 2, true, true, 0}}) {
    Viewer.StereoType = c.format;
    Viewer.FloatOffset = c.floatOffset;
    Viewer.FitToWindow = c.fit;
    Viewer.SwapLR = c.swap;
    Viewer.ZoomPercent = 100;
    std::string name = "format " + std::to_string(c.format) + " float " +
                       std::to_string(c.floatOffset) + " fit " +
                       std::to_string(c.fit) + " clip " + std::to_string(c.clip);
    std::vector<uint32_t> window;
    std::vector<uint8_t> display;
    for (const GrabbedFrame& grabbed :
         {frame.Packed(), frame.Planar(), frame.SemiPlanar()}) {
      ResetMovieFrameState();
      int shift = std::abs(FloatShiftFor(frame.width));
      SetClientSize((frame.width / 2 + shift) / (c.fit ? 2 : 1) - c.clip,
                    frame.height / (c.fit ? 3 : 1) - c.clip);
      ASSERT_EQ(PresentGrabbedFrame(grabbed), 0) << name;
      CompleteFramePicture();
      const Picture& p = FramePicture();
      ASSERT_TRUE(p) << name;
      std::vector<uint8_t> rows;
      for (int y = 0; y < PictureHeight(p); ++y)
        rows.insert(rows.end(), PictureRow(p.get(), y),
                    PictureRow(p.get(), y) + 3 * PictureWidth(p));
      if (grabbed.format == FrameYuy2) {
        window = Presentation.frame.pixels;
        display = rows;
        continue;
      }
      EXPECT_TRUE(Presentation.frame.pixels == window)
          << name << ", chroma step " << grabbed.chromaStep;
      EXPECT_TRUE(rows == display) << name << ", chroma step " << grabbed.chromaStep;
    }
  }
  SetGrabbedFrame({});
  ResetMovieFrameState();
}

}  // namespace

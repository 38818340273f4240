#include "stereo/scale.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using Bgr = std::array<uint8_t, 3>;

// A picture from rows of pixels given bottom (stored row 0) first.
Picture Make(int w, int h, const std::vector<Bgr>& pixels) {
  Picture p = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Bgr& c = pixels[static_cast<size_t>(y) * w + x];
      std::copy(c.begin(), c.end(), PictureRow(p.get(), y) + 3 * x);
    }
  return p;
}

Picture Pattern(int w, int h, int seed) {
  std::vector<Bgr> px;
  for (int i = 0; i < w * h; ++i)
    px.push_back({uint8_t(i * 37 + seed), uint8_t(i * 91 + 3 * seed),
                  uint8_t(255 - i * 13 - seed)});
  return Make(w, h, px);
}

Bgr At(const Picture& p, int x, int y) {
  const uint8_t* px = PictureRow(p.get(), y) + 3 * x;
  return {px[0], px[1], px[2]};
}

constexpr Bgr kBlackPx{0, 0, 0};

// Independent references: straight from the arithmetic, per pixel, with no
// plans, tables or row caches.
int Blend(int here, int next, int f) { return next * f / 255 + here * (255 - f) / 255; }

int EnlargedSample(const Picture& src, int fw, int fh, int x, int y, int ch) {
  int w = PictureWidth(src), h = PictureHeight(src);
  auto pos = [](int i, int s, int d) { return int64_t{i} * ((int64_t{s} << 14) / d); };
  auto rowValue = [&](int row) {
    int64_t p = pos(x, w, fw);
    int c = static_cast<int>(p >> 14), f = static_cast<int>((p >> 6) & 255);
    if (c >= w - 1) return int(At(src, w - 1, row)[ch]);
    return Blend(At(src, c, row)[ch], At(src, c + 1, row)[ch], f);
  };
  int64_t p = pos(y, h, fh);
  int r = static_cast<int>(p >> 14), f = static_cast<int>((p >> 6) & 255);
  if (r >= h - 1) return rowValue(h - 1);
  return Blend(rowValue(r), rowValue(r + 1), f);
}

// Weight of source pixel k in destination pixel i, in 1/8192.
int64_t Overlap(int k, int i, int s, int d) {
  int64_t from = int64_t{k} * d * 8192 / s, to = int64_t{k + 1} * d * 8192 / s;
  return std::max<int64_t>(0, std::min<int64_t>(to, (i + 1) * 8192LL) -
                                  std::max<int64_t>(from, i * 8192LL));
}

int ReducedSample(const Picture& src, int fw, int fh, int x, int y, int ch) {
  int w = PictureWidth(src), h = PictureHeight(src);
  int64_t sum = 0;
  for (int r = 0; r < h; ++r) {
    int64_t rowWeight = Overlap(r, y, h, fh);
    if (!rowWeight) continue;
    int64_t rowSum = 0;
    for (int c = 0; c < w; ++c) rowSum += At(src, c, r)[ch] * Overlap(c, x, w, fw);
    sum += (rowSum >> 13) * rowWeight;
  }
  return static_cast<int>(sum >> 13);
}

TEST(ScaleToFit, WidePicturesAreLetterboxedAndTallOnesPillarboxed) {
  // 0 and 255 survive a blend exactly; other plain colours can lose one.
  Picture wide = Make(4, 2, std::vector<Bgr>(8, {0, 255, 255}));
  Picture out = ScaleToFit(wide, 8, 7);
  ASSERT_TRUE(out);
  EXPECT_EQ(PictureWidth(out), 8);
  EXPECT_EQ(PictureHeight(out), 7);
  // Fitted 8 x 4; the spare row of the odd margin goes on top.
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(At(out, x, y), ((y >= 1 && y <= 4) ? Bgr{0, 255, 255} : kBlackPx))
          << x << "," << y;

  Picture tall = Make(2, 4, std::vector<Bgr>(8, {255, 255, 255}));
  out = ScaleToFit(tall, 9, 8);
  FittedPlacement fit = FitPlacement(2, 4, 9, 8);
  EXPECT_EQ(fit.width, 4);
  EXPECT_EQ(fit.height, 8);
  EXPECT_EQ(fit.x, 2);
  for (int x = 0; x < 9; ++x)
    EXPECT_EQ(At(out, x, 3), ((x >= 2 && x <= 5) ? Bgr{255, 255, 255} : kBlackPx))
        << x;
}

TEST(ScaleToFit, ZeroTargetsKeepThePictureItsOwnSizeAndPixels) {
  Picture src = Pattern(5, 3, 1);
  Picture out = ScaleToFit(src, 0, 0);
  ASSERT_TRUE(out);
  ASSERT_EQ(PictureWidth(out), 5);
  ASSERT_EQ(PictureHeight(out), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(At(out, x, y), At(src, x, y));
  out = ScaleToFit(src, 10, 0);  // height from the picture: fitted 5 x 3
  EXPECT_EQ(PictureHeight(out), 3);
  EXPECT_EQ(At(out, 2, 1), At(src, 0, 1));
  EXPECT_EQ(At(out, 1, 1), kBlackPx);
}

TEST(ScaleToFit, EnlargementBlendsNeighboursWithEightBitWeights) {
  // Two pixels to four: positions 0, 0.5, 1, 1.5; the last column copies.
  Picture src = Make(2, 1, {{0, 100, 10}, {255, 200, 250}});
  Picture out = ScaleToFit(src, 4, 2);
  ASSERT_TRUE(out);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(At(out, 0, y), (Bgr{0, 100, 10}));
    // 255 x 128 / 255 + 0; 200 x 128 / 255 + 100 x 127 / 255 = 100 + 49;
    // 250 x 128 / 255 + 10 x 127 / 255 = 125 + 4.
    EXPECT_EQ(At(out, 1, y), (Bgr{128, 149, 129}));
    EXPECT_EQ(At(out, 2, y), (Bgr{255, 200, 250}));
    EXPECT_EQ(At(out, 3, y), (Bgr{255, 200, 250}));
  }
  // Vertically the same: stored rows 0, 0.5, 1, 1.5.
  Picture column = Make(1, 2, {{0, 0, 0}, {255, 255, 255}});
  out = ScaleToFit(column, 2, 4);
  ASSERT_TRUE(out);
  EXPECT_EQ(At(out, 1, 0), kBlackPx);
  EXPECT_EQ(At(out, 1, 1), (Bgr{128, 128, 128}));
  EXPECT_EQ(At(out, 0, 2), (Bgr{255, 255, 255}));
  EXPECT_EQ(At(out, 0, 3), (Bgr{255, 255, 255}));
}

TEST(ScaleToFit, EnlargementMatchesAStraightforwardBilinearReference) {
  Picture src = Pattern(5, 3, 7);
  Picture out = ScaleToFit(src, 17, 11);  // fitted 17 x 10, one row below
  ASSERT_TRUE(out);
  FittedPlacement fit = FitPlacement(5, 3, 17, 11);
  ASSERT_EQ(fit.width, 17);
  ASSERT_EQ(fit.height, 10);
  ASSERT_EQ(fit.y, 0);
  for (int y = 0; y < fit.height; ++y)
    for (int x = 0; x < fit.width; ++x)
      for (int ch = 0; ch < 3; ++ch)
        ASSERT_EQ(At(out, x, y)[ch], EnlargedSample(src, 17, 10, x, y, ch))
            << x << "," << y << " ch " << ch;
  EXPECT_EQ(At(out, 0, 10), kBlackPx);
}

TEST(ScaleToFit, ReductionAveragesCoveredAreaInThirteenBitUnits) {
  // Three columns to two: (5461 x 0 + 2731 x 90) >> 13 = 30 and
  // (2730 x 90 + 5462 x 255) >> 13 = 200; the rows the same way.
  std::vector<Bgr> px;
  for (int y = 0; y < 3; ++y) {
    uint8_t row = y == 0 ? 0 : y == 1 ? 90 : 255;
    px.push_back({0, row, 255});
    px.push_back({90, row, 255});
    px.push_back({255, row, 255});
  }
  Picture out = ScaleToFit(Make(3, 3, px), 2, 2);
  ASSERT_TRUE(out);
  EXPECT_EQ(At(out, 0, 0), (Bgr{30, 30, 255}));
  EXPECT_EQ(At(out, 1, 0), (Bgr{200, 30, 255}));
  EXPECT_EQ(At(out, 0, 1), (Bgr{30, 200, 255}));
  EXPECT_EQ(At(out, 1, 1), (Bgr{200, 200, 255}));
}

TEST(ScaleToFit, ReductionMatchesAStraightforwardAreaReference) {
  for (auto [w, h, a, b] : {std::array{13, 11, 5, 4}, std::array{40, 9, 7, 7},
                            std::array{9, 23, 6, 10}}) {
    Picture src = Pattern(w, h, w);
    Picture out = ScaleToFit(src, a, b);
    ASSERT_TRUE(out);
    FittedPlacement fit = FitPlacement(w, h, a, b);
    for (int y = 0; y < fit.height; ++y)
      for (int x = 0; x < fit.width; ++x)
        for (int ch = 0; ch < 3; ++ch)
          ASSERT_EQ(At(out, fit.x + x, fit.y + y)[ch],
                    ReducedSample(src, fit.width, fit.height, x, y, ch))
              << w << "x" << h << " at " << x << "," << y;
  }
}

TEST(ScaleToFit, FittedSizeNeverLeavesTheCanvas) {
  // The thousandths test calls these "not wider" although they are a hair
  // wider: the width taken from the height would be one pixel too many.
  EXPECT_EQ(FitPlacement(1, 1, 36, 37).width, 36);
  EXPECT_EQ(FitPlacement(2, 1, 49, 25).width, 49);
  // A very long picture still gets one row.
  EXPECT_EQ(FitPlacement(1000, 1, 10, 10).height, 1);
  Picture out = ScaleToFit(Make(2, 1, {{9, 9, 9}, {9, 9, 9}}), 49, 25);
  ASSERT_TRUE(out);
  EXPECT_EQ(At(out, 48, 24), (Bgr{9, 9, 9}));
  out = ScaleToFit(Pattern(1000, 1, 0), 10, 10);
  ASSERT_TRUE(out);
  EXPECT_EQ(At(out, 0, 3), kBlackPx);
  EXPECT_NE(At(out, 0, 4), kBlackPx);
  EXPECT_EQ(At(out, 0, 5), kBlackPx);
}

TEST(ScaleToFit, RefusesMissingPicturesAndSizesThatAreNotAllowed) {
  Picture src = Pattern(3, 3, 0);
  EXPECT_FALSE(ScaleToFit(nullptr, 4, 4));
  EXPECT_FALSE(ScaleToFit(src, -1, 4));
  EXPECT_FALSE(ScaleToFit(src, 70000, 4));
  EXPECT_TRUE(ScaleToFit(src, 1, 1));
}

}  // namespace

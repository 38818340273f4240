#include "stereo/iz3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "pixel_support.h"
#include "core/viewer_state.h"
#include "stereo/movie_frame.h"

namespace {

Rgb3 ColourOf(int f, int s) {
  return {Iz3dColour(f, s, 2), Iz3dColour(f, s, 1), Iz3dColour(f, s, 0)};
}
Rgb3 BalanceOf(int f, int s) {
  return {Iz3dBalance(f, s, 2), Iz3dBalance(f, s, 1), Iz3dBalance(f, s, 0)};
}

// Pixel (x, y from the top) of a composed picture.
Rgb3 Composed(const Picture& p, int x, int y) {
  const uint8_t* px = PictureRow(p.get(), PictureHeight(p) - 1 - y) + 3 * x;
  return {px[2], px[1], px[0]};
}

TEST(Iz3dTable, ReproducesTheMonitorsMeasuredEntries) {
  EXPECT_EQ(Iz3dRaw().size(), 393216u);
  for (int v = 1; v < 256; ++v) ASSERT_EQ(ColourOf(v, v), (Rgb3{v, v, v})) << v;
  EXPECT_EQ(ColourOf(0, 0), (Rgb3{1, 1, 1}));
  for (int v = 0; v < 256; ++v)
    ASSERT_EQ(BalanceOf(v, v), (Rgb3{171, 170, 163})) << v;  // R, G, B
  EXPECT_EQ(ColourOf(255, 0), (Rgb3{167, 168, 151}));
  EXPECT_EQ(BalanceOf(255, 0), (Rgb3{1, 1, 1}));
  EXPECT_EQ(ColourOf(0, 255), (Rgb3{171, 170, 163}));
  EXPECT_EQ(BalanceOf(0, 255), (Rgb3{254, 254, 254}));
  // The balance moves one way as the light moves from the first view to
  // the second.
  for (int s = 1; s < 256; ++s)
    ASSERT_GE(Iz3dBalance(128, s, 1), Iz3dBalance(128, s - 1, 1)) << s;
}

TEST(Iz3dTable, LinearAndGammaGiveBackEveryTableByte) {
  auto raw = Iz3dRaw();
  auto linear = Iz3dLinear();
  auto gamma = Iz3dGamma();
  ASSERT_EQ(gamma.size(), 32641u);
  EXPECT_EQ(gamma[32640], 255);
  EXPECT_EQ(gamma[0], 0);
  // Every byte comes back through linear light, except 1, whose light
  // rounds to none: the colour half therefore reads the bytes themselves.
  for (size_t i = 0; i < raw.size(); ++i)
    ASSERT_EQ(gamma[linear[i]], raw[i] == 1 ? 0 : raw[i]) << i;
}

TEST(ComposeIz3d, IdenticalViewsGiveTheViewAndOneGrey) {
  // Grey levels, black among them.
  Picture view = Paint(4, 2, [](int x, int y) {
    int v = (x + 4 * y) * 30;
    return Rgb3{v, v, v};
  });
  Picture out = ComposeIz3d(ViewOf(view), ViewOf(view));
  ASSERT_EQ(PictureWidth(out), 8);
  EXPECT_EQ(Composed(out, 0, 0), (Rgb3{1, 1, 1}));
  EXPECT_EQ(Composed(out, 3, 1), (Rgb3{210, 210, 210}));
  Rgb3 grey = Composed(out, 4, 0);
  EXPECT_GE(grey.r, 163);
  EXPECT_LE(grey.r, 171);
  EXPECT_EQ(grey.g, grey.r);
  for (int y = 0; y < 2; ++y)
    for (int x = 4; x < 8; ++x) EXPECT_EQ(Composed(out, x, y), grey) << x;
}

// The balance half, worked out afresh in floating point from the table
// bytes: each channel's balance weighted by the light that channel carries
// in the colour half, the mean taken down to a whole step of linear light.
int BalanceByWeightedMean(Rgb3 first, Rgb3 second) {
  auto lin = [](int v) { return std::lround(std::pow(v / 255.0, 2.2) * 32640); };
  auto gam = [](long k) {
    return int(std::lround(std::pow(k / 32640.0, 1 / 2.2) * 255));
  };
  const int f[3] = {first.b, first.g, first.r};
  const int s[3] = {second.b, second.g, second.r};
  long weights = 0, mix = 0;
  for (int c = 0; c < 3; ++c) {
    long w = lin(Iz3dColour(f[c], s[c], c));
    weights += w;
    mix += w * lin(Iz3dBalance(f[c], s[c], c));
  }
  if (weights > 0) return gam(mix / weights);
  // No light at all: the balance of a white pair, averaged over the channels.
  double white = 0;
  for (int c = 0; c < 3; ++c) white += lin(Iz3dBalance(255, 255, c));
  return gam(std::lround(white / 3));
}

TEST(ComposeIz3d, TheBalanceIsTheLightWeightedMeanOfTheChannelBalances) {
  // Every combination of dark (0), bright (255) and random channels in
  // either view, so that any channel may carry all, some or none of the light.
  std::mt19937 random(23);
  auto value = [&](int kind) {
    return kind == 0 ? 0 : kind == 1 ? 255 : int(random() % 256);
  };
  std::vector<std::pair<Rgb3, Rgb3>> pairs;
  for (int kinds = 0; kinds < 729; ++kinds)
    for (int repeat = 0; repeat < 4; ++repeat) {
      int k = kinds, c[6];
      for (int& v : c) v = value(k % 3), k /= 3;
      pairs.push_back({{c[0], c[1], c[2]}, {c[3], c[4], c[5]}});
    }
  const int n = static_cast<int>(pairs.size());
  Picture first = Paint(n, 1, [&](int x, int) { return pairs[x].first; });
  Picture second = Paint(n, 1, [&](int x, int) { return pairs[x].second; });
  Picture out = ComposeIz3d(ViewOf(first), ViewOf(second));
  ASSERT_EQ(PictureWidth(out), 2 * n);
  for (int x = 0; x < n; ++x) {
    auto [f, s] = pairs[x];
    int grey = BalanceByWeightedMean(f, s);
    ASSERT_EQ(Composed(out, n + x, 0), (Rgb3{grey, grey, grey}))
        << "first " << f << " second " << s;
    ASSERT_EQ(Composed(out, x, 0),
              (Rgb3{Iz3dColour(f.r, s.r, 2), Iz3dColour(f.g, s.g, 1),
                    Iz3dColour(f.b, s.b, 0)}))
        << "first " << f << " second " << s;
  }
  // A black pair takes the white pair's balance; a red pair is weighed by
  // its red balance alone.
  Picture black = Solid(1, 1, {0, 0, 0}), white = Solid(1, 1, {255, 255, 255});
  EXPECT_EQ(Composed(ComposeIz3d(ViewOf(black), ViewOf(black)), 1, 0),
            Composed(ComposeIz3d(ViewOf(white), ViewOf(white)), 1, 0));
  Picture red = Solid(1, 1, {255, 0, 0});
  EXPECT_EQ(Composed(ComposeIz3d(ViewOf(red), ViewOf(red)), 1, 0),
            (Rgb3{171, 171, 171}));
}

class Iz3dPresentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    Viewer.StereoType = Iz3d;
    Viewer.CommentOn = false;
    SetClientSize(200, 100);
  }
  void TearDown() override {
    SetGrabbedFrame({});
    ResetMovieFrameState();
  }
};

TEST_F(Iz3dPresentTest, ColourLeftBalanceRightAndSwapReversesTheBalance) {
  // A left-only white pixel: balance 1, whose light rounds to none, so the
  // weighted balance is 0; swapped, the pixel is right-only: 254.
  Picture left = Solid(100, 100, {255, 255, 255}), right = Solid(100, 100, {0, 0, 0});
  PresentStereoPair(left, right);
  EXPECT_EQ(Pixel(50, 50), (Rgb3{167, 168, 151}));
  EXPECT_EQ(Pixel(150, 50), (Rgb3{0, 0, 0}));
  Viewer.SwapLR = true;
  PresentStereoPair(left, right);
  EXPECT_EQ(Pixel(150, 50), (Rgb3{254, 254, 254}));
  EXPECT_EQ(Pixel(50, 50), (Rgb3{171, 170, 163}));
}

TEST_F(Iz3dPresentTest, TakesTheFitWheneverTheZoomIsZeroOrLarger) {
  Picture left = Solid(50, 50, {90, 90, 90}), right = Solid(50, 50, {90, 90, 90});
  Viewer.FitToWindow = false;
  Viewer.ZoomPercent = 500;
  PresentStereoPair(left, right);
  EXPECT_EQ(Viewer.ZoomPercent, 200);
  // A smaller zoom stands even with fitting asked for.
  Viewer.FitToWindow = true;
  Viewer.ZoomPercent = 50;
  Viewer.BackgroundDirty = true;
  PresentStereoPair(left, right);
  EXPECT_EQ(Viewer.ZoomPercent, 50);
  EXPECT_EQ(Pixel(37, 37), (Rgb3{90, 90, 90}));
  EXPECT_EQ(Pixel(36, 37), (Rgb3{0, 0, 0}));
}

TEST_F(Iz3dPresentTest, MovieFramesAreCutByWidthMode) {
  // An over/under frame (width mode 1): stored rows 0..1 white, 2..3 black:
  // the first view is all white, the second all black.
  std::vector<uint8_t> rows(12 * 4, 0);
  std::fill(rows.begin(), rows.begin() + 24, 255);
  SetGrabbedFrame({4, 4, FrameRgb24, rows.data(), 12, {}});
  Viewer.WidthMode = 1;
  ASSERT_EQ(PresentMovieFrame(), 0);
  EXPECT_EQ(Pixel(50, 50), (Rgb3{167, 168, 151}));
  EXPECT_EQ(Pixel(150, 50), (Rgb3{0, 0, 0}));
  // Both halves of the frame's rows fill their half of the client: no row of
  // the other view shows.
  EXPECT_EQ(Pixel(50, 1), (Rgb3{167, 168, 151}));
  EXPECT_EQ(Pixel(50, 98), (Rgb3{167, 168, 151}));
}

}  // namespace

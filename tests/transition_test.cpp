#include "stereo/transition.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "core/viewer_state.h"
#include "stereo/present.h"

namespace {

struct Bgr {
  int b, g, r;
  bool operator==(const Bgr&) const = default;
};

Bgr PixelAt(const Picture& p, int x, int storedRow) {
  const uint8_t* px = PictureRow(p.get(), storedRow) + 3 * x;
  return {px[0], px[1], px[2]};
}

void SetPixel(Picture& p, int x, int storedRow, Bgr c) {
  uint8_t* px = PictureRow(p.get(), storedRow) + 3 * x;
  px[0] = uint8_t(c.b), px[1] = uint8_t(c.g), px[2] = uint8_t(c.r);
}

Picture Solid(int w, int h, Bgr c) {
  Picture p = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SetPixel(p, x, y, c);
  return p;
}

// Every pixel tells where it came from: blue the column, green the stored
// row, red the tag of the picture (never the key colour's).
Picture Coded(int w, int h, int tag) {
  Picture p = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SetPixel(p, x, y, {x, y, tag});
  return p;
}

bool SamePixels(const Picture& a, const Picture& b) {
  if (PictureWidth(a) != PictureWidth(b) || PictureHeight(a) != PictureHeight(b))
    return false;
  for (int y = 0; y < PictureHeight(a); ++y)
    for (int x = 0; x < PictureWidth(a); ++x)
      if (!(PixelAt(a, x, y) == PixelAt(b, x, y))) return false;
  return true;
}

class FixedClock : public PresentationHost {
 public:
  uint32_t NowMs() override { return 777; }
};

class TransitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    FreeTransitionPictures();
    SetClientSize(200, 100);
    SetPresentationHost(&clock);
    SetTransitionHooks({[this] { return NextRandom(); }, nullptr});
  }
  void TearDown() override {
    FreeTransitionPictures();
    SetPresentationHost(nullptr);
    SetTransitionHooks({});
  }
  int NextRandom() {
    int v = randoms.empty() ? 0 : randoms.front();
    if (!randoms.empty()) randoms.pop_front();
    return v;
  }
  void Pairs(Picture oldL, Picture oldR, Picture newL, Picture newR) {
    Viewer.CurrentLeft = std::move(oldL), Viewer.CurrentRight = std::move(oldR);
    Viewer.LeftPicture = std::move(newL), Viewer.RightPicture = std::move(newR);
  }
  // Fixed effect setting nEFType with the given random numbers.
  void Effect(int nEFType, int a = 0, int b = 0) {
    FreeTransitionPictures();
    Viewer.nEFType = nEFType;
    Viewer.TransitionRandomA = a, Viewer.TransitionRandomB = b;
  }
  FixedClock clock;
  std::deque<int> randoms;
};

TEST_F(TransitionTest, StepZeroOfSlidePerspectiveAndCrossFadeDrawsTheOldPair) {
  for (auto [w, h] : {std::pair{40, 20}, {37, 23}, {8, 3}}) {
    Pairs(Coded(w, h, 10), Coded(w, h, 11), Coded(w, h, 20), Coded(w, h, 21));
    struct Case { int nEFType, a, b; };
    for (Case c : {Case{2, 5, 7}, {4, 0, 0}, {3, 1, 0}, {3, 0, 1}, {3, 1, 2},
                   {3, 0, 3}}) {
      Effect(c.nEFType, c.a, c.b);
      ASSERT_TRUE(BuildTransitionFrame(0));
      EXPECT_TRUE(SamePixels(Transition.StepLeft, Viewer.CurrentLeft))
          << w << "x" << h << " effect " << c.nEFType << " variant " << c.b;
      EXPECT_TRUE(SamePixels(Transition.StepRight, Viewer.CurrentRight));
    }
  }
}

TEST_F(TransitionTest, StepHundredInstallsTheNewPairAndPresentsIt) {
  SetClientSize(20, 10);
  Pairs(Solid(10, 10, {0, 0, 200}), Solid(10, 10, {0, 0, 200}),
        Solid(10, 10, {200, 0, 0}), Solid(10, 10, {200, 0, 0}));
  const uint8_t* newLeft = Viewer.LeftPicture.get();
  Effect(3);
  TransitionStep(40);
  EXPECT_NE(Transition.OldLeftCanvas, nullptr);
  EXPECT_EQ(Presentation.frame.At(5, 5), Rgb(200, 0, 0));  // the old pair, mid-turn
  TransitionStep(100);
  EXPECT_EQ(Viewer.CurrentLeft.get(), newLeft);
  EXPECT_EQ(Viewer.LeftPicture, nullptr);
  EXPECT_EQ(Transition.OldLeftCanvas, nullptr);
  EXPECT_EQ(Transition.StepLeft, nullptr);
  EXPECT_FALSE(Viewer.TransitionRunning);
  EXPECT_EQ(Presentation.frame.At(5, 5), Rgb(0, 0, 200));
  EXPECT_EQ(Presentation.frame.At(15, 5), Rgb(0, 0, 200));
}

TEST_F(TransitionTest, AMissingNewPairKeepsTheOldPairAndDrawsNoSteps) {
  Pairs(Solid(4, 4, {1, 2, 3}), Solid(4, 4, {1, 2, 3}), nullptr, nullptr);
  Effect(2);
  EXPECT_FALSE(BuildTransitionFrame(30));
  TransitionStep(100);
  ASSERT_NE(Viewer.CurrentLeft, nullptr);
  EXPECT_EQ(PixelAt(Viewer.CurrentLeft, 0, 0), (Bgr{1, 2, 3}));
}

TEST_F(TransitionTest, ACanvasThatCannotBeMadeIsReportedOnceAndDrawsNothing) {
  std::vector<std::string> shown;
  SetTransitionHooks({nullptr, [&](const char* text, const char* caption) {
                        shown.push_back(std::string(caption) + ":" + text);
                      }});
  Pairs(Solid(40, 40, {1, 2, 3}), Solid(40, 40, {1, 2, 3}),
        Solid(40, 40, {4, 5, 6}), Solid(40, 40, {4, 5, 6}));
  const uint64_t limit = PixelLimit();
  SetPixelLimit(100);
  Effect(4);
  for (int step : {0, 10, 20}) EXPECT_FALSE(BuildTransitionFrame(step));
  SetPixelLimit(limit);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "実行エラー:ビットマップが作成できません。");
  TransitionStep(100);
  EXPECT_EQ(PixelAt(Viewer.CurrentLeft, 0, 0), (Bgr{4, 5, 6}));
}

TEST_F(TransitionTest, SlideNeverStandsStillAndMovesInStoredCoordinates) {
  for (int a = 0; a < 9; ++a)
    for (int b = 0; b < 9; ++b) {
      SlideDirection d = SlideDirectionOf(EffectSlideRandom, a, b);
      EXPECT_TRUE(d.dx != 0 || d.dy != 0) << a << "," << b;
    }
  Pairs(Coded(20, 10, 10), Coded(20, 10, 10), Coded(20, 10, 20), Coded(20, 10, 20));
  Effect(12);  // fixed: moves right
  ASSERT_TRUE(BuildTransitionFrame(50));
  EXPECT_EQ(PixelAt(Transition.StepLeft, 9, 3), (Bgr{9, 3, 20}));
  EXPECT_EQ(PixelAt(Transition.StepLeft, 10, 3), (Bgr{0, 3, 10}));
  Effect(14);  // fixed: moves up, stored rows count upwards
  ASSERT_TRUE(BuildTransitionFrame(30));
  EXPECT_EQ(PixelAt(Transition.StepLeft, 4, 2), (Bgr{4, 2, 20}));
  EXPECT_EQ(PixelAt(Transition.StepLeft, 4, 3), (Bgr{4, 0, 10}));
}

// Walking from the hinge outwards along one line of a perspective step:
// how many pixels show the old picture (tag 10) before the new one (red 99)
// starts, or -1 when anything else appears further out or the sources jump
// back and forth.  `source` picks the coordinate a pixel came from.
template <typename At, typename Source>
int RunFromHinge(int n, At at, Source source) {
  int run = 0;
  while (run < n && at(run).r == 10) ++run;
  for (int i = run; i < n; ++i)
    if (at(i).r != 99) return -1;  // only the new picture beyond the run
  int direction = 0;
  for (int i = 1; i < run; ++i) {
    int d = source(at(i)) - source(at(i - 1));
    if (d == 0) continue;
    if (direction != 0 && (d > 0) != (direction > 0)) return -1;
    direction = d;
  }
  return run;
}

TEST_F(TransitionTest, PerspectiveTurnsAboutItsHingeEdgeInBothDirections) {
  const int w = 40, h = 30;
  Pairs(Coded(w, h, 10), Coded(w, h, 10), Solid(w, h, {0, 0, 99}),
        Solid(w, h, {0, 0, 99}));
  // Where each variant's hinge is, and which way is outwards from it; blue
  // tells a pixel's source column, green its source row.
  struct Hinge { int x, y, dx, dy, length; bool rows; };
  const Hinge hinges[4] = {{w - 1, h / 2, -1, 0, w, false},  // right edge
                           {0, h / 2, 1, 0, w, false},       // left edge
                           {w / 2, 0, 0, 1, h, true},        // bottom row
                           {w / 2, h - 1, 0, -1, h, true}};  // top row
  for (int a : {0, 1})  // both turning directions
    for (int step = 0; step < 100; step += 8)
      for (int variant = 0; variant < 4; ++variant) {
        const Hinge& g = hinges[variant];
        Effect(3, a, variant);
        ASSERT_TRUE(BuildTransitionFrame(step));
        int run = RunFromHinge(
            g.length,
            [&](int i) { return PixelAt(Transition.StepLeft, g.x + i * g.dx, g.y + i * g.dy); },
            [&](const Bgr& c) { return g.rows ? c.g : c.b; });
        SCOPED_TRACE(testing::Message() << "a " << a << " step " << step
                                        << " variant " << variant);
        EXPECT_GE(run, 0);
        if (step == 0) {
          EXPECT_EQ(run, g.length);
        }
        if (step == 80) {  // turned far: the hinge side shows, the far edge not
          EXPECT_GT(run, 0);
          EXPECT_LT(run, g.length);
        }
      }
  // The hinge column itself keeps the picture's edge at a moderate turn.
  Effect(3, 1, 0);
  ASSERT_TRUE(BuildTransitionFrame(40));
  EXPECT_GE(PixelAt(Transition.StepLeft, w - 1, h / 2).b, w - 3);
  EXPECT_NEAR(PixelAt(Transition.StepLeft, w - 1, h / 2).g, h / 2, 1);
}

TEST_F(TransitionTest, CrossFadeTruncatesEachTermSeparately) {
  Pairs(Solid(3, 2, {200, 201, 0}), Solid(3, 2, {200, 201, 0}),
        Solid(3, 2, {0, 99, 255}), Solid(3, 2, {0, 99, 255}));
  Effect(4);
  ASSERT_TRUE(BuildTransitionFrame(50));
  EXPECT_EQ(PixelAt(Transition.StepLeft, 1, 1), (Bgr{100, 149, 127}));
  ASSERT_TRUE(BuildTransitionFrame(99));
  EXPECT_EQ(PixelAt(Transition.StepRight, 2, 0), (Bgr{2, 100, 252}));
}

TEST_F(TransitionTest, ExactlyTheKeyColourIsSeeThroughInEveryMergingEffect) {
  const Bgr key{0, 1, 2}, nearKey{0, 1, 3}, back{50, 60, 70};
  for (int nEFType : {2, 3, 5, 6, 13}) {
    for (int b = 0; b < 4; ++b) {
      Pairs(Solid(30, 20, key), Solid(30, 20, key), Solid(30, 20, back),
            Solid(30, 20, back));
      Effect(nEFType, 1, b);
      ASSERT_TRUE(BuildTransitionFrame(5));
      EXPECT_TRUE(SamePixels(Transition.StepLeft, Viewer.LeftPicture)) << nEFType;
      Viewer.CurrentLeft = Solid(30, 20, nearKey);
      Effect(nEFType, 1, b);
      ASSERT_TRUE(BuildTransitionFrame(5));
      EXPECT_EQ(PixelAt(Transition.StepLeft, 25, 10), nearKey) << nEFType;
    }
  }
}

TEST_F(TransitionTest, LetterboxMarginsShowTheNewPictureFromTheFirstStep) {
  // Old 4 x 2 and new 2 x 4 share a 4 x 4 canvas: the old one fills rows
  // 1 and 2, the new one columns 1 and 2.
  Pairs(Solid(4, 2, {9, 9, 9}), Solid(4, 2, {9, 9, 9}), Solid(2, 4, {7, 7, 7}),
        Solid(2, 4, {7, 7, 7}));
  Effect(2, 0, 0);
  ASSERT_TRUE(BuildTransitionFrame(0));
  EXPECT_EQ(PictureWidth(Transition.StepLeft), 4);
  EXPECT_EQ(PictureHeight(Transition.StepLeft), 4);
  EXPECT_EQ(PixelAt(Transition.StepLeft, 1, 3), (Bgr{7, 7, 7}));
  EXPECT_EQ(PixelAt(Transition.StepLeft, 0, 3), (Bgr{0, 1, 2}));
  EXPECT_EQ(PixelAt(Transition.StepLeft, 0, 1), (Bgr{9, 9, 9}));
}

// Pictures within a thousandth of the canvas's aspect, where the ratio test
// can fit by the side that makes the picture overflow: the letterboxed
// picture stays inside the canvas (ASan sees any spill), and every row holds
// one source row that starts at the picture's first column.
TEST(TransitionLetterbox, NearlyEqualAspectsStayInsideTheCanvas) {
  struct Canvas { int w, h; };
  for (Canvas c : {Canvas{36, 37}, {37, 36}, {100, 101}, {401, 200},
                   {999, 1000}, {1000, 131}})
    for (int scale : {1, 2, 3})
      for (int dw = -2; dw <= 2; ++dw)
        for (int dh = -2; dh <= 2; ++dh) {
          int w = c.w * scale / 2 + dw, h = c.h * scale / 2 + dh;
          if (w < 1 || h < 1) continue;
          Picture canvas = LetterboxOnKey(Coded(w, h, 5).get(), c.w, c.h);
          ASSERT_TRUE(canvas);
          int covered = 0;
          for (int y = 0; y < c.h; ++y) {
            const uint8_t* row = PictureRow(canvas.get(), y);
            int first = -1, last = -1;
            for (int x = 0; x < c.w; ++x)
              if (!IsKeyPixel(row + 3 * x)) last = x, first = first < 0 ? x : first;
            if (first < 0) continue;
            ++covered;
            SCOPED_TRACE(testing::Message() << w << "x" << h << " on " << c.w
                                            << "x" << c.h << " row " << y);
            ASSERT_EQ(PixelAt(canvas, first, y).b, 0);
            for (int x = first; x <= last; ++x) {
              ASSERT_EQ(PixelAt(canvas, x, y).r, 5);
              ASSERT_EQ(PixelAt(canvas, x, y).g, PixelAt(canvas, first, y).g);
            }
          }
          EXPECT_GT(covered, 0);
        }
}

TEST_F(TransitionTest, TheBallIsMadeOncePerEyeAndShrinksAway) {
  Pairs(Solid(40, 10, {0, 0, 200}), Solid(40, 10, {0, 0, 200}),
        Solid(40, 10, {200, 0, 0}), Solid(40, 10, {200, 0, 0}));
  Effect(5);
  ASSERT_TRUE(BuildTransitionFrame(0));  // landscape: the ball overhangs
  const uint8_t* ball = Transition.BallLeft.get();
  ASSERT_NE(ball, nullptr);
  EXPECT_EQ(Viewer.TransitionStartTick, 777u);
  int previous = 40 * 10 + 1;
  for (int step : {0, 30, 60, 90}) {
    ASSERT_TRUE(BuildTransitionFrame(step));
    int old = 0;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 40; ++x) old += PixelAt(Transition.StepLeft, x, y).r == 200;
    EXPECT_LT(old, previous) << step;
    EXPECT_GT(old, 0);
    previous = old;
  }
  EXPECT_EQ(Transition.BallLeft.get(), ball);
  EXPECT_EQ(PixelAt(Transition.StepLeft, 0, 0), (Bgr{200, 0, 0}));
}

TEST_F(TransitionTest, RollUncoversFromTheLeftAndKeepsTheRestInPlace) {
  Pairs(Coded(100, 4, 10), Coded(100, 4, 10), Solid(100, 4, {0, 0, 99}),
        Solid(100, 4, {0, 0, 99}));
  Effect(6);
  ASSERT_TRUE(BuildTransitionFrame(50));  // a 40, curl 50..54, old from 55
  EXPECT_EQ(PixelAt(Transition.StepLeft, 49, 2).r, 99);
  for (int x = 50; x < 55; ++x) {
    Bgr curl = PixelAt(Transition.StepLeft, x, 2);
    EXPECT_EQ(curl.r, 10);
    EXPECT_GE(curl.b, 40);
    EXPECT_LE(curl.b, 61);
  }
  EXPECT_EQ(PixelAt(Transition.StepLeft, 55, 2), (Bgr{55, 2, 10}));
  EXPECT_EQ(PixelAt(Transition.StepLeft, 99, 2), (Bgr{99, 2, 10}));
}

TEST_F(TransitionTest, TheRandomEffectNeverRepeatsAndPicksTheFirstNewDraw) {
  randoms = {3, 3, 8, 2, 5, 7, 0, 5, 2, 4, 1, 6};
  Viewer.TransitionVariant = 3;
  Viewer.nEFType = 1;
  ChooseTransitionRandoms();  // 3 and 8 repeat variant 3; 2 is taken
  EXPECT_EQ(Viewer.TransitionVariant, 2);
  EXPECT_EQ(Viewer.TransitionRandomA, 5);
  EXPECT_EQ(Viewer.TransitionRandomB, 7);
  EXPECT_EQ(CurrentEffectCode(), EffectTransparent);
  ChooseTransitionRandoms();  // 0
  EXPECT_EQ(CurrentEffectCode(), EffectSlideRandom);
  randoms.assign(5000, 10);   // a source stuck on variant 0 still ends
  ChooseTransitionRandoms();
  EXPECT_NE(Viewer.TransitionVariant, 0);
}

TEST_F(TransitionTest, EveryEffectStaysInsideMismatchedAndTinyPictures) {
  struct Sizes { int ow, oh, nw, nh; };
  for (Sizes s : {Sizes{1, 1, 3, 2}, {5, 1, 1, 5}, {2, 2, 2, 2}, {33, 7, 6, 41}}) {
    for (int nEFType : {2, 3, 4, 5, 6, 12, 13, 14, 15})
      for (int b = 0; b < 4; ++b) {
        Pairs(Coded(s.ow, s.oh, 1), Coded(s.nw, s.nh, 2), Coded(s.nw, s.nh, 3),
              Coded(s.ow, s.oh, 4));
        Effect(nEFType, 1, b);
        for (int step = 0; step < 100; step += 9) TransitionStep(step);
        TransitionStep(100);
        EXPECT_EQ(PictureWidth(Viewer.CurrentLeft), s.nw);
      }
  }
}

}  // namespace

// Fit and zoom of every layout, checked against formulas written out here a
// second time, over sizes whose ratios do not divide evenly: a rounding or a
// parity that differs by one pixel changes how much of the window a format
// fills and where its margins fall.
#include "stereo/geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/viewer_state.h"
#include "pixel_support.h"
#include "stereo/iz3d.h"
#include "stereo/present.h"

namespace {

using i64 = long long;

struct Case {
  int cw, ch;      // client
  int a, b;        // still: picture size; movie: frame width w and height h
  int mode;        // width mode 0, 5 or 6
  bool fit;        // FitToWindow
  int zoom;        // ZoomPercent when not fitting
  bool movie;
};

std::string Describe(const Case& c) {
  std::ostringstream s;
  s << (c.movie ? "movie " : "still ") << c.a << "x" << c.b << " on " << c.cw
    << "x" << c.ch << " mode " << c.mode
    << (c.fit ? " fit" : " zoom " + std::to_string(c.zoom));
  return s.str();
}

// What a layout should give: the view's rectangle (inside its half for the
// formats that split the client) and the zoom left in ZoomPercent.
struct Expected {
  i64 x, y, w, h, stored;
};

i64 Fit(const Case& c, i64 x, i64 y) {
  return std::min(c.cw * 100LL / x, c.ch * 100LL / y);
}

// The zoom used, and what ZoomPercent holds afterwards, for the formats
// that take the fit only when asked to.
i64 Choose(const Case& c, i64 fit) { return c.fit ? fit : c.zoom; }

// Movie frames: the copied view is w/2 wide; fitting uses w/2, w or w/4.
i64 MovieFit(const Case& c) {
  return c.mode == 5 ? c.a : c.mode == 6 ? c.a / 4 : c.a / 2;
}

// a z / 100, doubled for double width, a z / 200 for half width.
i64 StillWidth(const Case& c, i64 a, i64 z) {
  if (c.mode == 5) return 2 * (a * z / 100);
  if (c.mode == 6) return a * z / 200;
  return a * z / 100;
}

Expected Centre(const Case& c, i64 w, i64 h, i64 stored) {
  return {(c.cw - w) / 2, (c.ch - h) / 2, w, h, stored};
}

Expected Single(const Case& c) {
  if (c.movie) {
    i64 a = MovieFit(c), z = Choose(c, Fit(c, a, c.b));
    return Centre(c, a * z / 100, c.b * z / 100, z);
  }
  i64 z = Choose(c, Fit(c, c.a, c.b));
  return Centre(c, StillWidth(c, c.a, z), c.b * z / 100, z);
}

Expected Interlaced(const Case& c, bool sharp) {
  i64 a = c.movie ? MovieFit(c) : c.a;
  i64 z = Choose(c, Fit(c, a, c.b));
  i64 quads = a * z / 400;
  i64 w = 4 * quads;
  if (!c.movie && c.mode == 5) w = 8 * quads;
  if (!c.movie && c.mode == 6) w = 2 * quads;
  i64 h = sharp ? c.b * z / 100 : 2 * (c.b * z / 200);
  return Centre(c, w, h, z);
}

// Whether the fit value replaces the zoom (side by side: asked
// to fit, or the fit is smaller; iZ3D: the zoom is 0 or larger than it).
Expected SideBySideWith(const Case& c, bool iz3d) {
  i64 half = c.cw / 2;
  i64 A = c.movie ? MovieFit(c)
                  : c.mode == 5 ? 2 * c.a : c.mode == 6 ? c.a / 2 : c.a;
  i64 F = half * 100 / c.ch < A * 100 / c.b ? half : A * c.ch / c.b;
  if (!c.movie && c.mode == 5) F /= 2, A /= 2;
  if (!c.movie && c.mode == 6) F *= 2, A *= 2;
  i64 fit = F * 100 / A;
  i64 zoom = c.fit ? 0 : c.zoom;  // the ZoomPercent a fit leaves behind
  bool takeFit = iz3d ? (zoom == 0 || zoom > fit) : (c.fit || fit < c.zoom);
  i64 z = takeFit ? fit : zoom;
  i64 w = c.movie ? A * z / 100 : StillWidth(c, c.a, z);
  i64 h = c.b * z / 100;
  return {(half - w) / 2, (c.ch - h) / 2, w, h, z};
}

Expected OverUnderFit(const Case& c) {
  i64 halfH = c.ch / 2;
  if (c.movie) {
    i64 a = MovieFit(c), h = c.b;
    i64 fitted = c.cw * 100 / halfH < a * 100 / h ? c.cw : halfH * a / h;
    i64 fit = fitted * 100 / a;
    i64 z = c.fit || fit < c.zoom ? fit : c.zoom;
    i64 w = a * z / 100, hh = h * z / 100;
    return {(c.cw - w) / 2, (halfH - hh) / 2, w, hh, z};
  }
  // Hundredths of a percent; ZoomPercent stays in whole percent.
  i64 V = c.cw;
  if (c.cw * 10000LL / halfH >= c.a * 10000LL / c.b) V = halfH * c.a / c.b;
  i64 fit = V * 10000 / c.a;
  i64 z = c.fit || fit < c.zoom * 100LL ? fit : c.zoom * 100LL;
  i64 w = c.a * z / 10000;
  if (c.mode == 5) w *= 2;
  if (c.mode == 6) w = c.a * z / 20000;
  i64 h = c.b * z / 10000;
  if (std::llabs(h - halfH) < 5) h = halfH;
  return {(c.cw - w) / 2, (halfH - h) / 2, w, h, z / 100};
}

Expected SourceFit(const Case& c) {
  if (c.movie) {
    i64 wk = c.mode == 5 ? 2 * c.a : c.mode == 6 ? c.a / 2 : c.a;
    i64 z = Choose(c, Fit(c, wk, c.b));
    return Centre(c, wk * z / 100, c.b * z / 100, z);
  }
  i64 ak2 = c.mode == 5 ? 4 * c.a : c.mode == 6 ? c.a : 2 * c.a;
  i64 stored = Choose(c, Fit(c, ak2, c.b)), z = stored;
  i64 w = ak2 * z / 200;
  if (w > c.cw / 2) z = c.cw * 100 / ak2, w = ak2 * z / 200;
  i64 h = c.b * z / 100;
  if (h > c.ch) z = c.ch * 100 / c.b, w = ak2 * z / 200, h = c.b * z / 100;
  return {(c.cw / 2 - w) / 2, (c.ch - h) / 2, w, h, stored};
}

// A fixed-seed sweep; the first cases are the ones users met.
std::vector<Case> Sweep(int count, int maxClient, int maxPicture,
                        unsigned seed) {
  std::vector<Case> cases;
  if (maxClient >= 1920) {
    cases.push_back({1920, 1080, 1000, 1501, 0, true, 0, false});
    cases.push_back({1920, 1080, 2000, 1501, 0, true, 0, true});
  }
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  while (static_cast<int>(cases.size()) < count) {
    Case c;
    c.cw = pick(10, maxClient);
    c.ch = pick(10, maxClient * 2 / 3);
    c.movie = pick(0, 1) == 1;
    c.a = pick(c.movie ? 8 : 2, maxPicture);
    c.b = pick(1, maxPicture);
    c.mode = std::array<int, 3>{0, 5, 6}[pick(0, 2)];
    c.fit = pick(0, 2) == 0;
    c.zoom = pick(10, 400);
    cases.push_back(c);
  }
  return cases;
}

void Apply(const Case& c) {
  Viewer = ViewerState();
  Viewer.WidthMode = c.mode;
  Viewer.FitToWindow = c.fit;
  Viewer.ZoomPercent = c.fit ? 0 : c.zoom;
}

ViewSize SizeOf(const Case& c) {
  ViewSize v;
  v.movie = c.movie;
  v.a = c.movie ? c.a / 2 : c.a;
  v.b = c.b;
  if (c.movie) v.frameWidth = c.a, v.fitWidth = MovieFit(c);
  return v;
}

::testing::AssertionResult Same(const Rect& got, const Expected& want,
                                const Case& c, const char* layout) {
  if (got.x == want.x && got.y == want.y && got.width == want.w &&
      got.height == want.h && Viewer.ZoomPercent == want.stored)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << layout << ", " << Describe(c) << ": got " << got.width << "x"
         << got.height << " at (" << got.x << ", " << got.y << ") zoom "
         << Viewer.ZoomPercent << ", want " << want.w << "x" << want.h
         << " at (" << want.x << ", " << want.y << ") zoom " << want.stored;
}

TEST(Geometry, EveryLayoutMatchesItsFormulaOverUnevenSizes) {
  using Layout = Rect (*)(const Case&);
  struct Row {
    const char* name;
    Expected (*oracle)(const Case&);
    Layout layout;
  };
  const Row rows[] = {
      {"one side", Single,
       [](const Case& c) { return LayoutSingle({c.cw, c.ch}, SizeOf(c)); }},
      {"interlace", [](const Case& c) { return Interlaced(c, false); },
       [](const Case& c) {
         return LayoutInterlaced({c.cw, c.ch}, SizeOf(c), false);
       }},
      {"sharp lcd", [](const Case& c) { return Interlaced(c, true); },
       [](const Case& c) {
         return LayoutInterlaced({c.cw, c.ch}, SizeOf(c), true);
       }},
      {"side by side", [](const Case& c) { return SideBySideWith(c, false); },
       [](const Case& c) { return LayoutSideBySide({c.cw, c.ch}, SizeOf(c)); }},
      {"over/under", OverUnderFit,
       [](const Case& c) { return LayoutOverUnder({c.cw, c.ch}, SizeOf(c)); }},
      {"source", SourceFit,
       [](const Case& c) { return LayoutSource({c.cw, c.ch}, SizeOf(c)); }},
  };
  int failures = 0;
  for (const Case& c : Sweep(3000, 2560, 4000, 31)) {
    for (const Row& row : rows) {
      Apply(c);
      Rect got = row.layout(c);
      auto same = Same(got, row.oracle(c), c, row.name);
      EXPECT_TRUE(same);
      if (!same && ++failures > 10) FAIL() << "stopping after 10 mismatches";
    }
  }
}

// The drawn part of the client: the bounding box of the pixels that are not
// black within columns [x0, x1) and rows [y0, y1).
Expected Drawn(int x0, int y0, int x1, int y1) {
  int left = x1, top = y1, right = x0, bottom = y0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (Presentation.frame.At(x, y) != kBlack) {
        left = std::min(left, x), right = std::max(right, x + 1);
        top = std::min(top, y), bottom = std::max(bottom, y + 1);
      }
  if (left >= right) return {0, 0, 0, 0, 0};
  return {left, top, right - left, bottom - top, 0};
}

// The oracle's rectangle moved by (dx, dy) and clipped to the region.
Expected Clip(const Expected& e, i64 dx, i64 dy, int x0, int y0, int x1,
              int y1) {
  i64 left = std::max<i64>(e.x + dx, x0), top = std::max<i64>(e.y + dy, y0);
  i64 right = std::min<i64>(e.x + dx + e.w, x1);
  i64 bottom = std::min<i64>(e.y + dy + e.h, y1);
  if (left >= right || top >= bottom) return {0, 0, 0, 0, 0};
  return {left, top, right - left, bottom - top, 0};
}

bool operator==(const Expected& p, const Expected& q) {
  return p.x == q.x && p.y == q.y && p.w == q.w && p.h == q.h;
}

std::ostream& operator<<(std::ostream& os, const Expected& e) {
  return os << e.w << "x" << e.h << " at (" << e.x << ", " << e.y << ")";
}

// Every renderer draws its views where its layout says, with the parity
// shifts of the interleaving formats, for stills and movie frames.
TEST(Geometry, EveryRendererDrawsWhereItsLayoutSays) {
  struct Row {
    int format;
    Renderer render;
    // Where the drawing of one view (or the composed picture) lands.
    Expected (*where)(const Case&);
    bool split;  // two views side by side (true) or one drawing
  };
  auto rowInterlace = [](const Case& c) {
    Expected e = Interlaced(c, false);
    if ((e.y + e.h) % 2 == 0) ++e.y;
    return e;
  };
  auto columnInterlace = [](const Case& c) {
    Expected e = Interlaced(c, false);
    if ((e.x + e.w) % 2 == 0) ++e.x;
    return e;
  };
  auto checkerboard = [](const Case& c) {
    Expected e = Interlaced(c, false);
    if ((e.x + e.y) % 2 == 0) ++e.x;
    return e;
  };
  auto sharp = [](const Case& c) {
    Expected e = Interlaced(c, true);
    if (e.x % 2 == 0) ++e.x;
    return e;
  };
  const Row rows[] = {
      {OneSide, RenderOneSide, Single, false},
      {ColorAnaglyphRedCyan, RenderAnaglyph, Single, false},
      {RowInterlace, RenderRowInterlace, rowInterlace, false},
      {ColumnInterlace, RenderColumnInterlace, columnInterlace, false},
      {DlpCheckerboard, RenderDlpCheckerboard, checkerboard, false},
      {Sharp3dLcd, RenderSharp3dLcd, sharp, false},
      {SideBySide, RenderSideBySide,
       [](const Case& c) { return SideBySideWith(c, false); }, true},
      {OverUnder, RenderOverUnder, OverUnderFit, true},
      {Source, RenderSource, SourceFit, true},
      {Iz3d, RenderIz3d, [](const Case& c) { return SideBySideWith(c, true); },
       true},
  };
  Presentation.MarkerStrip.reset();
  for (const Case& c : Sweep(60, 240, 300, 2031)) {
    SetClientSize(c.cw, c.ch);
    Picture white = Solid(c.a, c.b, {255, 255, 255});
    RenderInput in;
    if (c.movie) {
      in = MovieHalves(white);
    } else {
      in.left = in.right = ViewOf(white);
    }
    for (const Row& row : rows) {
      // The iZ3D movie path cuts its views by its own table of width modes.
      if (row.format == Iz3d && c.movie) continue;
      Apply(c);
      Viewer.CommentOn = false;  // no comment text over the movie's foot
      Viewer.StereoType = row.format;
      std::fill(Presentation.frame.pixels.begin(),
                Presentation.frame.pixels.end(), kBlack);
      RenderContext ctx{Presentation.frame, Presentation.client,
                        StretchMode::Nearest, row.format};
      row.render(ctx, in);
      Expected want = row.where(c);
      std::string what = Describe(c) + ", format " +
                         std::to_string(row.format);
      // Source shows a movie frame whole; over/under splits the height.
      bool byWidth = row.split && row.format != OverUnder &&
                     !(row.format == Source && c.movie);
      bool byHeight = row.split && row.format == OverUnder;
      int halfW = c.cw / 2, halfH = c.ch / 2;
      if (byWidth) {
        EXPECT_EQ(Drawn(0, 0, halfW, c.ch), Clip(want, 0, 0, 0, 0, halfW, c.ch))
            << what << ", left half";
        EXPECT_EQ(Drawn(halfW, 0, c.cw, c.ch),
                  Clip(want, halfW, 0, halfW, 0, c.cw, c.ch))
            << what << ", right half";
      } else if (byHeight) {
        EXPECT_EQ(Drawn(0, 0, c.cw, halfH), Clip(want, 0, 0, 0, 0, c.cw, halfH))
            << what << ", top half";
        EXPECT_EQ(Drawn(0, halfH, c.cw, c.ch),
                  Clip(want, 0, halfH, 0, halfH, c.cw, c.ch))
            << what << ", bottom half";
      } else {
        EXPECT_EQ(Drawn(0, 0, c.cw, c.ch), Clip(want, 0, 0, 0, 0, c.cw, c.ch))
            << what;
      }
      EXPECT_EQ(Viewer.ZoomPercent, want.stored) << what << ", zoom kept";
      if (::testing::Test::HasFailure()) return;
    }
  }
}

// Zoom steps in whole percent: in multiplies by 110/100 and adds one below
// 10, so that it still grows there; out divides by 110/100 down to 10; in
// stops at the cap that keeps the layouts' products in range, and leaves a
// larger zoom set by fitting alone.  Every step ends fitting.
TEST(ZoomSteps, InAndOutInWholePercent) {
  auto steps = [](int from, void (*step)(), int count) {
    Viewer = ViewerState();
    Viewer.ZoomPercent = from;
    std::vector<int> seen;
    for (int i = 0; i < count; ++i) {
      Viewer.FitToWindow = true;
      Viewer.BackgroundDirty = false;
      step();
      EXPECT_FALSE(Viewer.FitToWindow);
      EXPECT_TRUE(Viewer.BackgroundDirty);
      seen.push_back(Viewer.ZoomPercent);
    }
    return seen;
  };
  using Zooms = std::vector<int>;
  EXPECT_EQ(steps(100, ZoomIn, 4), (Zooms{110, 121, 133, 146}));
  EXPECT_EQ(steps(5, ZoomIn, 6), (Zooms{6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(steps(110, ZoomOut, 4), (Zooms{100, 90, 81, 73}));
  EXPECT_EQ(steps(12, ZoomOut, 3), (Zooms{10, 10, 10}));
  EXPECT_EQ(steps(4600, ZoomIn, 2), (Zooms{kMaxZoomInPercent, kMaxZoomInPercent}));
  EXPECT_EQ(steps(6000, ZoomIn, 1), (Zooms{6000}));
}

}  // namespace

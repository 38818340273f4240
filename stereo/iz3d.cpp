#include "stereo/iz3d.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/viewer_state.h"
#include "stereo/movie_views.h"

namespace {

constexpr double kGamma = 2.2;
constexpr int kLinearScale = 32640;

double ToLinear(double v) { return std::pow(v / 255.0, kGamma); }
uint8_t ToByte(double linear) {
  linear = std::clamp(linear, 0.0, 1.0);
  return static_cast<uint8_t>(std::lround(std::pow(linear, 1 / kGamma) * 255));
}

// The monitor's measured response, per channel (blue, green, red): the
// colour a white pixel shown to the left eye only takes, the colour when
// shown to the right eye only, and the balance of two equal views.
constexpr int kLeftOnlyWhite[3] = {151, 168, 167};
constexpr int kRightOnlyWhite[3] = {163, 170, 171};
constexpr int kEqualPairBalance[3] = {163, 170, 171};

// Piecewise linear through (0, at0), (1/2, atHalf), (1, at1).
double ThroughThree(double q, double at0, double atHalf, double at1) {
  return q <= 0.5 ? at0 + (atHalf - at0) * (q * 2)
                  : atHalf + (at1 - atHalf) * ((q - 0.5) * 2);
}

// The table is a model of the panel pair in linear light: the two views'
// light T = l + r is kept, shown through the colour panel as T x g(q), and
// the balance h(q) steers it, q = r / T being the right eye's share.
struct Iz3dTables {
  std::vector<uint8_t> raw;
  std::vector<uint16_t> linear;
  std::vector<uint8_t> gamma;

  Iz3dTables() : raw(kIz3dTableBytes), linear(kIz3dTableBytes),
                 gamma(kLinearScale + 1) {
    double lin[256];
    for (int v = 0; v < 256; ++v) lin[v] = ToLinear(v);
    const double leftOnly = lin[1], rightOnly = lin[254];
    for (int c = 0; c < 3; ++c) {
      double cL = lin[kLeftOnlyWhite[c]], cR = lin[kRightOnlyWhite[c]];
      double bE = lin[kEqualPairBalance[c]];
      for (int s = 0; s < 256; ++s)
        for (int f = 0; f < 256; ++f) {
          double total = lin[f] + lin[s];
          uint8_t colour = 1, balance = ToByte(bE);  // a black pair
          if (total > 0) {
            double q = lin[s] / total;
            colour = ToByte(total * ThroughThree(q, cL, 0.5, cR));
            balance = ToByte(ThroughThree(q, leftOnly, bE, rightOnly));
          }
          raw[Iz3dOffset(255 - s, f, c)] = colour;
          raw[Iz3dOffset(255 - s, 256 + f, c)] = balance;
        }
    }
    uint16_t linearOf[256];
    for (int v = 0; v < 256; ++v)
      linearOf[v] = static_cast<uint16_t>(std::lround(lin[v] * kLinearScale));
    for (int i = 0; i < kIz3dTableBytes; ++i) linear[i] = linearOf[raw[i]];
    for (int k = 0; k <= kLinearScale; ++k)
      gamma[k] = static_cast<uint8_t>(std::lround(
          std::pow(double(k) / kLinearScale, 1 / kGamma) * 255));
  }
};

const Iz3dTables& Tables() {
  static const Iz3dTables tables;  // built once, thread-safe
  return tables;
}

}  // namespace

std::span<const uint8_t> Iz3dRaw() { return Tables().raw; }
std::span<const uint16_t> Iz3dLinear() { return Tables().linear; }
std::span<const uint8_t> Iz3dGamma() { return Tables().gamma; }

uint8_t Iz3dColour(int f, int s, int channel) {
  return Tables().raw[Iz3dOffset(255 - s, f, channel)];
}
uint8_t Iz3dBalance(int f, int s, int channel) {
  return Tables().raw[Iz3dOffset(255 - s, 256 + f, channel)];
}

Picture ComposeIz3d(const PictureView& first, const PictureView& second) {
  int w = first.width, h = first.height;
  Picture out = CreatePicture(2 * w, h, 24);
  if (!out) return out;
  const Iz3dTables& t = Tables();
  // A pixel without light in the colour image takes a white pair's balance.
  int white = 0;
  for (int c = 0; c < 3; ++c) white += t.linear[Iz3dOffset(0, 511, c)];
  const uint8_t whiteBalance = t.gamma[(white + 1) / 3];
  for (int y = 0; y < h; ++y) {
    const uint8_t* f = first.StoredRow(y);
    const uint8_t* s = second.StoredRow(y);
    uint8_t* colour = PictureRow(out.get(), y);
    uint8_t* balance = colour + 3 * w;
    for (int x = 0; x < w; ++x, f += 3, s += 3, colour += 3, balance += 3) {
      uint32_t weights = 0, mix = 0;
      for (int c = 0; c < 3; ++c) {
        int at = Iz3dOffset(255 - s[c], f[c], c);
        colour[c] = t.raw[at];
        uint32_t weight = t.linear[at];
        weights += weight;
        mix += weight * t.linear[at + 256 * 3];
      }
      uint8_t grey = weights ? t.gamma[mix / weights] : whiteBalance;
      balance[0] = balance[1] = balance[2] = grey;
    }
  }
  return out;
}

void RenderIz3d(RenderContext& ctx, const RenderInput& in) {
  PictureView first = FirstView(in, Viewer.SwapLR);
  PictureView second = SecondView(in, Viewer.SwapLR);
  ViewSize size = ViewSizeOf(in);
  MovieEyeViews views;
  if (in.movie) {
    views = CutMovieViews(in.frame, Viewer.WidthMode);
    if (!views) return;
    first = Viewer.SwapLR ? views.right : views.left;
    second = Viewer.SwapLR ? views.left : views.right;
    size.a = views.left.width;
    size.b = views.fitHeight;
    size.fitWidth = views.fitWidth;
  }
  Picture composed = ComposeIz3d(first, second);
  if (!composed) return;  // nothing this time round
  PictureView whole = ViewOf(composed);
  int w = first.width;
  // This output takes the fit whenever the zoom is 0 or larger than it,
  // whatever FitToWindow says: the side-by-side rule with "fit to window"
  // standing for a zoom of 0 (equal zoom and fit give the same size).
  bool fitToWindow = Viewer.FitToWindow;
  Viewer.FitToWindow = Viewer.ZoomPercent == 0;
  Rect r = LayoutSideBySide(ctx.client, size);
  Viewer.FitToWindow = fitToWindow;
  if (Viewer.BackgroundDirty) {
    std::fill(ctx.fb.pixels.begin(), ctx.fb.pixels.end(), kBlack);
    Viewer.BackgroundDirty = false;
  }
  int half = ctx.client.width / 2;
  StretchDraw(ctx.fb, r.x, r.y, r.width, r.height, ColumnsOf(whole, 0, w),
              StretchMode::Nearest);
  StretchDraw(ctx.fb, half + r.x, r.y, r.width, r.height,
              ColumnsOf(whole, w, w), StretchMode::Nearest);
}

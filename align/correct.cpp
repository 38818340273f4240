// Correcting a measured pair: the right view resampled so that each point
// sits on its left-view row, and both views cut to one common rectangle.
#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "align/alignment.h"

namespace {

struct Similarity {
  double cx, cy, c, s;  // centre, scale x cos and scale x sin
};

Similarity Of(const Alignment& a, int width, int height) {
  double theta = a.rotationDeg * M_PI / 180;
  return {(width - 1) / 2.0, (height - 1) / 2.0, a.scale * std::cos(theta),
          a.scale * std::sin(theta)};
}

bool Inside(const SamplePoint& p, int width, int height) {
  // A little slack for rounding: bilinear sampling needs the point within
  // the outermost pixel centres.
  constexpr double kSlack = 1e-6;
  return p.x >= -kSlack && p.y >= -kSlack && p.x <= width - 1 + kSlack &&
         p.y <= height - 1 + kSlack;
}

// Whether every pixel of the rectangle whose corner pixel centres are given
// is a left-view pixel that samples inside the right view.  The set of such
// points is convex, so the corners decide.
bool Fits(const Alignment& a, int lw, int lh, int rw, int rh, double x0,
          double y0, double x1, double y1) {
  const double xs[2] = {x0, x1}, ys[2] = {y0, y1};
  for (double x : xs)
    for (double y : ys) {
      if (!Inside({x, y}, lw, lh)) return false;
      if (!Inside(CorrectedToRight(a, lw, lh, x, y), rw, rh)) return false;
    }
  return true;
}

// The widest rectangle of the left view's aspect centred on (px, py).
double WidestAt(const Alignment& a, int lw, int lh, int rw, int rh, double px,
                double py) {
  double low = 0, high = lw;
  for (int step = 0; step < 40; ++step) {
    double w = (low + high) / 2, h = w * lh / lw;
    if (w >= 1 && h >= 1 &&
        Fits(a, lw, lh, rw, rh, px - (w - 1) / 2, py - (h - 1) / 2,
             px + (w - 1) / 2, py + (h - 1) / 2))
      low = w;
    else
      high = w;
  }
  return low;
}

// Rows [top, top + rect.height) top-down of a bottom-up 24-bit picture, the
// columns of `rect`.
Picture Cut(const uint8_t* pixels, size_t stride, int height,
            const PixelRect& rect) {
  Picture out = CreatePicture(rect.width, rect.height, 24);
  if (!out) return nullptr;
  for (int y = 0; y < rect.height; ++y) {
    int sourceRow = height - 1 - (rect.y + y);
    std::memcpy(PictureRow(out.get(), rect.height - 1 - y),
                pixels + stride * sourceRow + 3 * rect.x, 3 * rect.width);
  }
  return out;
}

}  // namespace

SamplePoint CorrectedToRight(const Alignment& a, int width, int height,
                             double x, double y) {
  Similarity m = Of(a, width, height);
  double dx = x - m.cx, dy = y - m.cy;
  return {m.cx + m.c * dx - m.s * dy, m.cy + m.s * dx + m.c * dy + a.verticalPx};
}

SamplePoint RightToCorrected(const Alignment& a, int width, int height,
                             double x, double y) {
  Similarity m = Of(a, width, height);
  double dx = x - m.cx, dy = y - m.cy - a.verticalPx;
  double d = m.c * m.c + m.s * m.s;
  return {m.cx + (m.c * dx + m.s * dy) / d, m.cy + (-m.s * dx + m.c * dy) / d};
}

PixelRect CommonRectangle(const Alignment& a, int lw, int lh, int rw, int rh) {
  PixelRect best;
  if (lw < 1 || lh < 1 || rw < 1 || rh < 1 || !(a.scale > 0)) return best;
  // The centre lies between the two frames' centres: tried along the line.
  SamplePoint c{(lw - 1) / 2.0, (lh - 1) / 2.0};
  SamplePoint r = RightToCorrected(a, lw, lh, (rw - 1) / 2.0, (rh - 1) / 2.0);
  double bestWidth = 0;
  SamplePoint centre = c;
  for (int i = 0; i <= 20; ++i) {
    double t = i / 20.0;
    SamplePoint p{c.x + t * (r.x - c.x), c.y + t * (r.y - c.y)};
    double w = WidestAt(a, lw, lh, rw, rh, p.x, p.y);
    if (w > bestWidth + 1e-9) bestWidth = w, centre = p;
  }
  // Whole pixels: the widest integer size whose rounded placement still fits.
  for (int w = static_cast<int>(std::floor(bestWidth)); w >= 1; --w) {
    int h = static_cast<int>(std::floor(static_cast<double>(w) * lh / lw + 1e-9));
    if (h < 1) break;
    int x0 = static_cast<int>(std::lround(centre.x - (w - 1) / 2.0));
    int y0 = static_cast<int>(std::lround(centre.y - (h - 1) / 2.0));
    if (Fits(a, lw, lh, rw, rh, x0, y0, x0 + w - 1, y0 + h - 1))
      return {x0, y0, w, h};
  }
  return best;
}

bool CorrectPair(const Picture& left, const Picture& right, const Alignment& a,
                 Picture& leftOut, Picture& rightOut) {
  leftOut.reset();
  rightOut.reset();
  if (!a.measured || !left || !right || PictureBits(left) != 24 ||
      PictureBits(right) != 24)
    return false;
  int lw = PictureWidth(left), lh = PictureHeight(left);
  int rw = PictureWidth(right), rh = PictureHeight(right);
  PixelRect rect = CommonRectangle(a, lw, lh, rw, rh);
  if (rect.width < 1 || rect.height < 1) return false;

  // Only the rectangle is resampled.  The pictures are stored bottom-up, so
  // the top-down map from output (X, Y) of the rectangle to right-view
  // pixels is carried over to stored rows on both sides.
  Similarity m = Of(a, lw, lh);
  double ox = rect.x, oy = rect.y;
  // Top-down: src = c + S (q - c) + (0, v) with q = (ox + X, oy + Y_td) and
  // Y_td = rect.height - 1 - Y_stored.
  auto srcX = [&](double X, double Yt) {
    return m.cx + m.c * (ox + X - m.cx) - m.s * (oy + Yt - m.cy);
  };
  auto srcY = [&](double X, double Yt) {
    return m.cy + m.s * (ox + X - m.cx) + m.c * (oy + Yt - m.cy) + a.verticalPx;
  };
  int hh = rect.height - 1;
  // Stored source row = rh - 1 - srcY; output stored row Y gives Yt = hh - Y.
  double bx = srcX(0, hh), by = rh - 1 - srcY(0, hh);
  double xx = srcX(1, hh) - bx, xy = srcX(0, hh - 1) - bx;
  double yx = (rh - 1 - srcY(1, hh)) - by, yy = (rh - 1 - srcY(0, hh - 1)) - by;
  cv::Matx23d map(xx, xy, bx, yx, yy, by);
  try {
    Picture warped = CreatePicture(rect.width, rect.height, 24);
    if (!warped) return false;
    cv::Mat source(rh, rw, CV_8UC3, PicturePixels(right),
                   static_cast<size_t>(RowStride(rw, 24)));
    cv::Mat target(rect.height, rect.width, CV_8UC3, PicturePixels(warped),
                   static_cast<size_t>(RowStride(rect.width, 24)));
    cv::warpAffine(source, target, map, target.size(),
                   cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   cv::BORDER_REPLICATE);
    Picture cut = Cut(PicturePixels(left), RowStride(lw, 24), lh, rect);
    if (!cut) return false;
    leftOut = std::move(cut);
    rightOut = std::move(warped);
  } catch (const cv::Exception&) {
    leftOut.reset();
    rightOut.reset();
    return false;
  }
  return true;
}

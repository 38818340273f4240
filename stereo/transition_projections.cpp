// The effects that project the old picture: perspective turns it about an
// edge like a door, spherical maps it onto a ball that shrinks away.  The
// geometry is worked out once per line (perspective) or once per
// transition (the ball); the per-pixel loops run row by row in integers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "stereo/transition.h"

namespace {

constexpr double kRadiansPerTenthDegree = 0.0017453292519943279;
constexpr int kViewingHalfAngle = 272;  // tenths of a degree

struct Pixels {
  uint8_t* base;
  size_t stride;
  uint8_t* Row(int64_t row) const { return base + stride * row; }
};

Pixels PixelsOf(const uint8_t* picture) {
  return {const_cast<uint8_t*>(PicturePixels(picture)),
          static_cast<size_t>(RowStride(PictureWidth(picture), 24))};
}

inline void CopyPixel(uint8_t* to, const uint8_t* from) {
  to[0] = from[0], to[1] = from[1], to[2] = from[2];
}

// One column of the turn about a vertical edge, walked upwards row by row.
struct ColumnWalk {
  size_t destination;  // byte offset in the row
  size_t source;
  int64_t y;  // source row, 14 fractional bits
  int64_t advance;
};

// Variants 0 (hinge on the right edge) and 1 (mirrored: the left edge).
void TurnAboutColumn(uint8_t* out, const uint8_t* oldCanvas,
                     const uint8_t* newCanvas, double theta, bool mirror) {
  int width = PictureWidth(oldCanvas), height = PictureHeight(oldCanvas);
  std::vector<ColumnWalk> walks;
  std::vector<PerspectiveLine> lines = PerspectiveLines(width, height, theta);
  for (int x = 0; x < width; ++x) {
    const PerspectiveLine& line = lines[x];
    if (!line.valid) continue;
    int destination = mirror ? width - 1 - x : x;
    int source = mirror ? width - 1 - line.source : line.source;
    walks.push_back({3 * size_t(destination), 3 * size_t(source), line.start,
                     line.advance});
  }
  Pixels from = PixelsOf(oldCanvas), to = PixelsOf(out), back = PixelsOf(newCanvas);
  for (int r = 0; r < height; ++r) {
    uint8_t* row = to.Row(r);
    std::memcpy(row, back.Row(r), 3 * size_t(width));
    for (ColumnWalk& walk : walks) {
      int64_t source = walk.y >> 14;
      walk.y += walk.advance;
      if (source < 0 || source >= height) continue;
      const uint8_t* px = from.Row(source) + walk.source;
      if (!IsKeyPixel(px)) CopyPixel(row + walk.destination, px);
    }
  }
}

// Variants 2 and 3: the same turn with rows and columns exchanged.  3 keeps
// the construction's orientation (hinge on the top row), 2 mirrors it
// (hinge on the bottom row).
void TurnAboutRow(uint8_t* out, const uint8_t* oldCanvas,
                  const uint8_t* newCanvas, double theta, bool mirror) {
  int width = PictureWidth(oldCanvas), height = PictureHeight(oldCanvas);
  std::vector<PerspectiveLine> lines = PerspectiveLines(height, width, theta);
  Pixels from = PixelsOf(oldCanvas), to = PixelsOf(out), back = PixelsOf(newCanvas);
  for (int x = 0; x < height; ++x) {
    const PerspectiveLine& line = lines[x];
    int destination = mirror ? height - 1 - x : x;
    uint8_t* row = to.Row(destination);
    const uint8_t* newRow = back.Row(destination);
    if (!line.valid) {
      std::memcpy(row, newRow, 3 * size_t(width));
      continue;
    }
    const uint8_t* oldRow = from.Row(mirror ? height - 1 - line.source : line.source);
    int64_t y = line.start;
    for (int c = 0; c < width; ++c, y += line.advance) {
      int64_t source = y >> 14;
      const uint8_t* px = oldRow + 3 * source;
      bool shown = source >= 0 && source < width && !IsKeyPixel(px);
      CopyPixel(row + 3 * c, shown ? px : newRow + 3 * c);
    }
  }
}

}  // namespace

double PerspectiveAngle(int step, int randomA) {
  int sign = (randomA & 1) ? 1 : -1;
  int tenths = std::clamp(step * 9 * sign, -899, 899);
  return tenths * kRadiansPerTenthDegree;
}

// The fixed-point projection of a picture turned by theta about its far
// edge (position `length`), seen with a half-angle of 27.2 degrees.  Each
// position along the axis shows a segment across it, centred on the middle
// and scaled by h2 x 1024 / PZ.
std::vector<PerspectiveLine> PerspectiveLines(int length, int breadth,
                                              double theta) {
  if (length <= 0 || breadth <= 0) return {};
  const int64_t W = length, h2 = breadth / 2;
  const double cosine = std::cos(theta), sine = std::sin(theta);
  const double tangent = std::tan(kViewingHalfAngle * kRadiansPerTenthDegree);
  const int64_t C = static_cast<int64_t>(1024 * cosine);
  const int64_t S = static_cast<int64_t>(1024 * sine);
  const int64_t T = static_cast<int64_t>(1024 * tangent);  // 526
  const int64_t D = W * 1048576 / T;
  const int64_t A1 = (D - W * S) * T / 1024, A2 = (D + W * S) * T / 1024;
  const double X = 1024.0 * W * W * C;
  const int64_t E1 = static_cast<int64_t>(X / A1), E2 = static_cast<int64_t>(X / A2);
  const double Y = double(W) * h2 * 1048576;
  const int64_t P1 = static_cast<int64_t>(Y / A1), P2 = static_cast<int64_t>(Y / A2);
  const int64_t K = E1 + E2 != 0 ? 1024 * (P1 - P2) / (E1 + E2) : 0;
  const int64_t Z = (E1 - 1024 * W) * K / 1024;
  const double F = double(h2) * h2 * 16777216;
  std::vector<PerspectiveLine> lines(length);
  if (theta == 0) {
    // Unturned, the picture stays exactly as it is.  The truncations above
    // would otherwise shift it by a pixel where the breadth exceeds the
    // length (the row variants of a landscape picture).
    for (int x = 0; x < length; ++x) lines[x] = {true, x, 0, h2 > 0 ? 16384 : 0};
    return lines;
  }
  for (int64_t x = 0; x < W; ++x) {
    double source =
        W + (x - W) * double(W) / (W * cosine + (W - x) * tangent * sine);
    // Where the turned picture folds away the division leaves the picture
    // (or is not a number); the comparison is false for NaN too.
    if (!(source > -1.0 && source < double(W))) continue;
    PerspectiveLine& line = lines[x];
    line.source = static_cast<int>(source);
    if (h2 > 0) {
      int64_t PZ = P1 - Z - K * x;
      if (PZ <= 0) continue;  // behind the viewer
      int64_t G = static_cast<int64_t>(F / PZ);
      line.start = h2 * 16384 - G;
      // The segment spans 2 x h2 rows, so an odd breadth keeps its scale
      // (G / h2 equals 2 x G / breadth for every even breadth).
      line.advance = G / h2;
    }
    line.valid = true;
  }
  return lines;
}

void DrawPerspective(uint8_t* out, const uint8_t* oldCanvas,
                     const uint8_t* newCanvas, int step, int randomA,
                     int randomB) {
  double theta = PerspectiveAngle(step, randomA);
  switch ((randomB % 4 + 4) % 4) {
    case 0: TurnAboutColumn(out, oldCanvas, newCanvas, theta, false); break;
    case 1: TurnAboutColumn(out, oldCanvas, newCanvas, theta, true); break;
    case 2: TurnAboutRow(out, oldCanvas, newCanvas, theta, true); break;
    default: TurnAboutRow(out, oldCanvas, newCanvas, theta, false); break;
  }
}

// A square as wide as the old canvas: inside the circle of radius
// (n - 1) / 2 each pixel shows the old picture stretched over the sphere.
// The square roots depend on the row or the column only.
Picture MakeBall(const uint8_t* oldCanvas) {
  const int n = PictureWidth(oldCanvas), height = PictureHeight(oldCanvas);
  Picture ball = CreatePicture(n, n, 24);
  if (!ball) return nullptr;
  const int64_t r = (n - 1) / 2, c = (height - 1) / 2;
  std::vector<double> columnRoot(n);
  for (int64_t x = -r; x < n - r; ++x)
    columnRoot[x + r] = r * r >= x * x ? std::sqrt(double(r * r - x * x)) : 0;
  Pixels from = PixelsOf(oldCanvas), to = PixelsOf(ball.get());
  for (int64_t row = 0; row < n; ++row) {
    uint8_t* out = to.Row(row);
    for (int x = 0; x < n; ++x)
      out[3 * x] = kKeyBlue, out[3 * x + 1] = kKeyGreen, out[3 * x + 2] = kKeyRed;
    const int64_t y = row - r;
    if (y * y > r * r) continue;
    const double rowRoot = std::sqrt(double(r * r - y * y));
    for (int64_t column = 0; column < n; ++column) {
      const int64_t x = column - r;
      if (x * x + y * y > r * r) continue;
      double t = x == 0 ? 0 : x / rowRoot;
      double u = y == 0 ? 0 : y / columnRoot[column];
      int64_t sourceColumn = static_cast<int64_t>(r + r * t);
      int64_t sourceRow = static_cast<int64_t>(c + c * u);
      if (sourceColumn < 0 || sourceColumn > n - 2 || sourceRow < 0 ||
          sourceRow > height - 2)
        continue;
      CopyPixel(out + 3 * column, from.Row(sourceRow) + 3 * sourceColumn);
    }
  }
  return ball;
}

// The ball at (100 - step) percent, centred, over the new canvas.  Rows
// that fall above or below the canvas (a landscape ball at the first
// steps) are skipped.
void DrawSpherical(uint8_t* out, const uint8_t* ball, const uint8_t* newCanvas,
                   int step) {
  const int width = PictureWidth(newCanvas), height = PictureHeight(newCanvas);
  const int n = PictureWidth(ball);
  const int64_t size = 100 - step, f = 102400 / size;  // 10 fractional bits
  const int64_t shown = size * n / 100;
  const int64_t top = (height - shown) / 2, left = (width - shown) / 2;
  struct Column {
    size_t destination, source;
  };
  std::vector<Column> columns;
  for (int64_t i = 0; (i * f) >> 10 < n; ++i)
    if (left + i >= 0 && left + i < width)
      columns.push_back({3 * size_t(left + i), 3 * size_t((i * f) >> 10)});
  Pixels from = PixelsOf(ball), to = PixelsOf(out), back = PixelsOf(newCanvas);
  for (int y = 0; y < height; ++y) {  // y counts from the top
    uint8_t* row = to.Row(height - 1 - y);
    std::memcpy(row, back.Row(height - 1 - y), 3 * size_t(width));
    int64_t j = y - top;
    if (j < 0 || (j * f) >> 10 >= n) continue;
    const uint8_t* ballRow = from.Row(n - 1 - ((j * f) >> 10));
    for (const Column& column : columns) {
      const uint8_t* px = ballRow + column.source;
      if (!IsKeyPixel(px)) CopyPixel(row + column.destination, px);
    }
  }
}

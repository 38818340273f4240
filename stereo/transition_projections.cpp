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

// The positions 0 .. count - 1 along a line whose source coordinate
// (start + i x advance) >> 14 falls inside 0 .. size - 1: [first, end).
// The advance is never negative, so they form one range.
struct Span {
  int first = 0;
  int end = 0;
};

Span SourceSpan(const PerspectiveLine& line, int count, int size) {
  if (!line.valid) return {};
  const int64_t low = 0, high = int64_t{size} << 14;
  // The first i >= 0 at which the coordinate reaches `bound`.
  auto reaching = [&](int64_t bound) -> int64_t {
    if (line.start >= bound) return 0;
    if (line.advance <= 0) return count;
    return (bound - line.start + line.advance - 1) / line.advance;
  };
  int64_t first = std::min<int64_t>(reaching(low), count);
  int64_t end = std::min<int64_t>(reaching(high), count);
  return {int(first), int(std::max(first, end))};
}

// Most old canvases hold no key colour at all, or only in whole margin
// rows or columns; lines without it are copied without testing each pixel.
bool IsOpaqueRow(const OpaqueRuns& runs, int row, int width) {
  int k = runs.rowStart[row];
  return runs.rowStart[row + 1] == k + 1 && runs.runs[2 * k] == 0 &&
         runs.runs[2 * k + 1] == width;
}

std::vector<bool> OpaqueColumns(const OpaqueRuns& runs, int width, int height) {
  std::vector<int> change(width + 1, 0);  // rows opaque at a column, as steps
  for (size_t k = 0; k + 1 < runs.runs.size(); k += 2)
    ++change[runs.runs[k]], --change[runs.runs[k + 1]];
  std::vector<bool> opaque(width);
  for (int x = 0, rows = 0; x < width; ++x) opaque[x] = (rows += change[x]) == height;
  return opaque;
}

// One destination column of the turn about a vertical edge.
struct ColumnWalk {
  size_t source;  // byte offset in the source row
  int64_t start;  // source row of the bottom line, 14 fractional bits
  int64_t advance;
  Span rows;    // the destination rows it reaches
  bool opaque;  // its source column holds no key colour: no test needed
};

// Whether the old picture covers the whole tile, so that the new one need
// not be copied into it first.
bool Covers(const std::vector<ColumnWalk>& walks, int left, int right,
            int bottom, int top) {
  for (int x = left; x < right; ++x)
    if (!walks[x].opaque || walks[x].rows.first > bottom || walks[x].rows.end < top)
      return false;
  return true;
}

// The turn is drawn in tiles: each column reads its own source rows, and
// whole rows of 1920 columns would touch a page per pixel.  A tile's rows
// and their sources stay within the cache and the address translation
// buffer.
constexpr int kTileColumns = 128;
constexpr int kTileRows = 32;

// Variants 0 (hinge on the right edge) and 1 (mirrored: the left edge).
// Each tile is first filled from the new canvas, then each column draws
// the old pixels of the rows it reaches.
void TurnAboutColumn(uint8_t* out, const uint8_t* oldCanvas,
                     const OpaqueRuns& runs, const uint8_t* newCanvas,
                     double theta, bool mirror) {
  int width = PictureWidth(oldCanvas), height = PictureHeight(oldCanvas);
  std::vector<ColumnWalk> walks(width, ColumnWalk{0, 0, 0, {}, false});
  std::vector<bool> opaque = OpaqueColumns(runs, width, height);
  std::vector<PerspectiveLine> lines = PerspectiveLines(width, height, theta);
  for (int x = 0; x < width; ++x) {
    const PerspectiveLine& line = lines[x];
    int destination = mirror ? width - 1 - x : x;
    int source = mirror ? width - 1 - line.source : line.source;
    walks[destination] = {3 * size_t(source), line.start, line.advance,
                          SourceSpan(line, height, height),
                          line.valid && opaque[source]};
  }
  Pixels from = PixelsOf(oldCanvas), to = PixelsOf(out), back = PixelsOf(newCanvas);
  for (int bottom = 0; bottom < height; bottom += kTileRows) {
    int top = std::min(height, bottom + kTileRows);
    for (int left = 0; left < width; left += kTileColumns) {
      int right = std::min(width, left + kTileColumns);
      if (!Covers(walks, left, right, bottom, top))
        for (int r = bottom; r < top; ++r)
          std::memcpy(to.Row(r) + 3 * left, back.Row(r) + 3 * left,
                      3 * size_t(right - left));
      for (int x = left; x < right; ++x) {
        const ColumnWalk& walk = walks[x];
        int first = std::max(bottom, walk.rows.first);
        int end = std::min(top, walk.rows.end);
        int64_t y = walk.start + first * walk.advance;
        if (walk.opaque) {
          for (int r = first; r < end; ++r, y += walk.advance)
            CopyPixel(to.Row(r) + 3 * x, from.Row(y >> 14) + walk.source);
          continue;
        }
        for (int r = first; r < end; ++r, y += walk.advance) {
          const uint8_t* old = from.Row(y >> 14) + walk.source;
          if (!IsKeyPixel(old)) CopyPixel(to.Row(r) + 3 * x, old);
        }
      }
    }
  }
}

// Variants 2 and 3: the same turn with rows and columns exchanged.  3 keeps
// the construction's orientation (hinge on the top row), 2 mirrors it
// (hinge on the bottom row).
void TurnAboutRow(uint8_t* out, const uint8_t* oldCanvas,
                  const OpaqueRuns& runs, const uint8_t* newCanvas,
                  double theta, bool mirror) {
  int width = PictureWidth(oldCanvas), height = PictureHeight(oldCanvas);
  std::vector<PerspectiveLine> lines = PerspectiveLines(height, width, theta);
  Pixels from = PixelsOf(oldCanvas), to = PixelsOf(out), back = PixelsOf(newCanvas);
  for (int x = 0; x < height; ++x) {
    const PerspectiveLine& line = lines[x];
    int destination = mirror ? height - 1 - x : x;
    uint8_t* row = to.Row(destination);
    const uint8_t* newRow = back.Row(destination);
    Span columns = SourceSpan(line, width, width);
    int source = mirror ? height - 1 - line.source : line.source;
    const uint8_t* oldRow = from.Row(source);
    int64_t y = line.start + columns.first * line.advance;
    if (columns.first < columns.end && IsOpaqueRow(runs, source, width)) {
      // The new picture shows only beside the segment.
      std::memcpy(row, newRow, 3 * size_t(columns.first));
      std::memcpy(row + 3 * columns.end, newRow + 3 * columns.end,
                  3 * size_t(width - columns.end));
      for (int c = columns.first; c < columns.end; ++c, y += line.advance)
        CopyPixel(row + 3 * c, oldRow + 3 * (y >> 14));
      continue;
    }
    std::memcpy(row, newRow, 3 * size_t(width));
    for (int c = columns.first; c < columns.end; ++c, y += line.advance) {
      const uint8_t* old = oldRow + 3 * (y >> 14);
      if (!IsKeyPixel(old)) CopyPixel(row + 3 * c, old);
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
                     const OpaqueRuns& runs, const uint8_t* newCanvas,
                     int step, int randomA, int randomB) {
  double theta = PerspectiveAngle(step, randomA);
  switch ((randomB % 4 + 4) % 4) {
    case 0: TurnAboutColumn(out, oldCanvas, runs, newCanvas, theta, false); break;
    case 1: TurnAboutColumn(out, oldCanvas, runs, newCanvas, theta, true); break;
    case 2: TurnAboutRow(out, oldCanvas, runs, newCanvas, theta, true); break;
    default: TurnAboutRow(out, oldCanvas, runs, newCanvas, theta, false); break;
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

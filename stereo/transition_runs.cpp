// The effects that keep the old picture's rows intact: slide moves them,
// roll keeps the unrolled part in place, the cross-fade blends them.  The
// key merge is done while copying: the old canvas's opaque runs (made once
// per transition) are copied whole, the new canvas fills the gaps, so every
// output byte is written once.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "stereo/transition.h"

namespace {

int Width(const uint8_t* p) { return PictureWidth(p); }
int Height(const uint8_t* p) { return PictureHeight(p); }

// One output row: the old row's opaque runs moved `shift` columns and kept
// at columns `from` and beyond, the new row everywhere else.
void MergeRow(uint8_t* out, const uint8_t* oldRow, const uint8_t* newRow,
              int width, const OpaqueRuns& runs, int row, int shift, int from) {
  int next = 0;  // first output column not yet written
  for (int k = runs.rowStart[row]; k < runs.rowStart[row + 1]; ++k) {
    int first = std::max(runs.runs[2 * k] + shift, std::max(from, next));
    int end = std::min(runs.runs[2 * k + 1] + shift, width);
    if (first >= end) continue;
    std::memcpy(out + 3 * next, newRow + 3 * next, 3 * size_t(first - next));
    std::memcpy(out + 3 * first, oldRow + 3 * (first - shift),
                3 * size_t(end - first));
    next = end;
  }
  std::memcpy(out + 3 * next, newRow + 3 * next, 3 * size_t(width - next));
}

struct CurlColumn {
  int destination;
  int source;
};

// The curl of the roll: columns h0 .. h1 - 1 show old columns from a
// onwards, squeezed along a half circle of diameter w / 20 + 1.
std::vector<CurlColumn> CurlColumns(int w, int a, int h0) {
  std::vector<CurlColumn> curl;
  int n = w / 20;
  double radius = (n + 1) / 2.0;
  for (int j = 0; j < n && h0 + j < w; ++j) {
    double angle = std::numbers::pi / 2;
    if (j != radius) {
      angle = std::atan(std::sqrt(2 * radius * j - double(j) * j) / (radius - j));
      if (angle < 0) angle += std::numbers::pi;
    }
    int source = static_cast<int>(a + (w / 5 + 1) * angle / std::numbers::pi);
    if (source >= 0 && source <= w - 2) curl.push_back({h0 + j, source});
  }
  return curl;
}

}  // namespace

OpaqueRuns FindOpaqueRuns(const uint8_t* picture) {
  OpaqueRuns runs;
  int width = Width(picture), height = Height(picture);
  runs.rowStart.reserve(height + 1);
  for (int r = 0; r < height; ++r) {
    runs.rowStart.push_back(static_cast<int32_t>(runs.runs.size() / 2));
    const uint8_t* px = PictureRow(picture, r);
    int x = 0;
    while (x < width) {
      while (x < width && IsKeyPixel(px + 3 * x)) ++x;
      if (x == width) break;
      int first = x;
      while (x < width && !IsKeyPixel(px + 3 * x)) ++x;
      runs.runs.push_back(first);
      runs.runs.push_back(x);
    }
  }
  runs.rowStart.push_back(static_cast<int32_t>(runs.runs.size() / 2));
  return runs;
}

// The old canvas shifted by (ox, oy) in stored coordinates (rows count
// upwards), clipped, over the new canvas.
void DrawSlide(uint8_t* out, const uint8_t* oldCanvas, const OpaqueRuns& runs,
               const uint8_t* newCanvas, int step, SlideDirection direction) {
  int width = Width(oldCanvas), height = Height(oldCanvas);
  int ox = static_cast<int>(int64_t{step} * width * direction.dx / 100);
  int oy = static_cast<int>(int64_t{step} * height * direction.dy / 100);
  for (int r = 0; r < height; ++r) {
    uint8_t* row = PictureRow(out, r);
    const uint8_t* newRow = PictureRow(newCanvas, r);
    int source = r - oy;
    if (source < 0 || source >= height)
      std::memcpy(row, newRow, 3 * size_t(width));
    else
      MergeRow(row, PictureRow(oldCanvas, source), newRow, width, runs, source,
               ox, 0);
  }
}

// The old picture rolls up from the left edge: key colour (the new picture)
// left of the curl, the curl, then the old picture unchanged from h1 on.
void DrawRoll(uint8_t* out, const uint8_t* oldCanvas, const OpaqueRuns& runs,
              const uint8_t* newCanvas, int step) {
  int w = Width(oldCanvas), h = Height(oldCanvas);
  int a = static_cast<int>(int64_t{step} * w / 125);
  int h0 = a + w / 10, h1 = h0 + w / 20;
  std::vector<CurlColumn> curl = CurlColumns(w, a, h0);
  for (int r = 0; r < h; ++r) {
    uint8_t* row = PictureRow(out, r);
    const uint8_t* oldRow = PictureRow(oldCanvas, r);
    MergeRow(row, oldRow, PictureRow(newCanvas, r), w, runs, r, 0, h1);
    for (const CurlColumn& c : curl) {
      const uint8_t* px = oldRow + 3 * c.source;
      if (!IsKeyPixel(px)) std::memcpy(row + 3 * c.destination, px, 3);
    }
  }
}

// Per byte: old x (100 - step) / 100 + new x step / 100, each truncated.
// The divisions by the constant 100 compile to multiplications, and the
// loop over plain bytes vectorises.
void DrawCrossFade(uint8_t* out, const uint8_t* oldCanvas,
                   const uint8_t* newCanvas, int step) {
  int width = Width(oldCanvas), height = Height(oldCanvas);
  // Products stay below 25500, so 16-bit lanes hold them.
  const uint16_t oldWeight = uint16_t(100 - step), newWeight = uint16_t(step);
  size_t bytes = 3 * size_t(width);
  for (int r = 0; r < height; ++r) {
    uint8_t* __restrict o = PictureRow(out, r);
    const uint8_t* __restrict a = PictureRow(oldCanvas, r);
    const uint8_t* __restrict b = PictureRow(newCanvas, r);
    for (size_t i = 0; i < bytes; ++i) {
      uint16_t fading = uint16_t(a[i] * oldWeight), rising = uint16_t(b[i] * newWeight);
      o[i] = static_cast<uint8_t>(fading / 100 + rising / 100);
    }
  }
}

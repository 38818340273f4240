#include "stereo/framebuffer.h"

#include <algorithm>
#include <cstdlib>

void Framebuffer::Resize(int w, int h) {
  width = std::max(w, 0);
  height = std::max(h, 0);
  pixels.assign(static_cast<size_t>(width) * height, kBlack);
}

PictureView ViewOf(const uint8_t* block) {
  PictureView view;
  if (!block || PictureBits(block) != 24) return view;
  view.base = PicturePixels(block);
  view.width = PictureWidth(block);
  view.height = PictureHeight(block);
  view.stride = RowStride(view.width, 24);
  return view;
}

PictureView ColumnsOf(const PictureView& view, int firstColumn, int width) {
  PictureView part = view;
  part.base = view.base + 3 * static_cast<size_t>(firstColumn);
  part.width = width;
  return part;
}

void FillRect(Framebuffer& fb, int left, int top, int right, int bottom,
              uint32_t colour) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, fb.width);
  bottom = std::min(bottom, fb.height);
  for (int y = top; y < bottom; ++y)
    std::fill(fb.Row(y) + left, fb.Row(y) + std::max(left, right), colour);
}

namespace {

inline uint32_t Pack(const uint8_t* bgr) {
  return 0xFF000000u | (uint32_t(bgr[2]) << 16) | (uint32_t(bgr[1]) << 8) |
         bgr[0];
}

// Source index sampled by destination index i of n, for a source span of m:
// the source pixel under the destination pixel's centre.
inline int NearestIndex(int i, int n, int m) {
  return static_cast<int>((2 * int64_t{i} + 1) * m / (2 * int64_t{n}));
}

struct Span {
  int first;   // first source index
  int count;   // reduction: source pixels averaged; enlargement: 1
  int second;  // enlargement: the neighbour blended in
  int weight;  // enlargement: weight of `second`, 0..256
};

// Smooth sampling plan along one axis: reductions average the source pixels
// a destination pixel covers, enlargements blend the two nearest.
std::vector<Span> SmoothPlan(int n, int m) {
  std::vector<Span> plan(n);
  for (int i = 0; i < n; ++i) {
    if (n <= m) {
      int a = static_cast<int>(int64_t{i} * m / n);
      int b = static_cast<int>((int64_t{i} + 1) * m / n);
      plan[i] = {a, std::max(b - a, 1), a, 0};
    } else {
      // Centre of destination pixel i in source coordinates, 8 fraction bits.
      int64_t pos = ((2 * int64_t{i} + 1) * m * 256) / (2 * int64_t{n}) - 128;
      pos = std::max<int64_t>(pos, 0);
      int a = static_cast<int>(pos >> 8);
      int w = static_cast<int>(pos & 255);
      if (a >= m - 1) a = m - 1, w = 0;
      plan[i] = {a, 1, std::min(a + 1, m - 1), w};
    }
  }
  return plan;
}

// One channel value of the smooth sample at (col, row).
int SampleSmooth(const PictureView& src, int srcX, int srcY, const Span& row,
                 const Span& col, int channel) {
  auto at = [&](int x, int y) {
    return src.TopRow(srcY + y)[3 * (srcX + x) + channel];
  };
  // Average each axis' span, then blend towards the neighbours.
  auto box = [&](int x, int y) {
    int sum = 0;
    for (int dy = 0; dy < row.count; ++dy)
      for (int dx = 0; dx < col.count; ++dx) sum += at(x + dx, y + dy);
    int n = row.count * col.count;
    return (sum + n / 2) / n;
  };
  int a = box(col.first, row.first);
  if (col.weight == 0 && row.weight == 0) return a;
  int b = box(col.second, row.first);
  int c = box(col.first, row.second);
  int d = box(col.second, row.second);
  int top = a * (256 - col.weight) + b * col.weight;
  int bottom = c * (256 - col.weight) + d * col.weight;
  return (top * (256 - row.weight) + bottom * row.weight + 32768) >> 16;
}

}  // namespace

void StretchDraw(Framebuffer& fb, int dstX, int dstY, int dstWidth,
                 int dstHeight, const PictureView& src, int srcX, int srcY,
                 int srcWidth, int srcHeight, StretchMode mode) {
  if (!src || dstWidth == 0 || dstHeight == 0 || srcWidth <= 0 ||
      srcHeight <= 0)
    return;
  bool mirror = dstWidth < 0, flip = dstHeight < 0;
  if (mirror) dstX += dstWidth, dstWidth = -dstWidth;
  if (flip) dstY += dstHeight, dstHeight = -dstHeight;
  int x0 = std::max(dstX, 0), x1 = std::min(dstX + dstWidth, fb.width);
  int y0 = std::max(dstY, 0), y1 = std::min(dstY + dstHeight, fb.height);
  if (x0 >= x1 || y0 >= y1) return;

  if (mode == StretchMode::Nearest) {
    std::vector<int> columns(x1 - x0);
    for (int x = x0; x < x1; ++x) {
      int i = x - dstX;
      if (mirror) i = dstWidth - 1 - i;
      columns[x - x0] = 3 * (srcX + NearestIndex(i, dstWidth, srcWidth));
    }
    for (int y = y0; y < y1; ++y) {
      int j = y - dstY;
      if (flip) j = dstHeight - 1 - j;
      const uint8_t* line = src.TopRow(srcY + NearestIndex(j, dstHeight, srcHeight));
      uint32_t* out = fb.Row(y) + x0;
      for (size_t k = 0; k < columns.size(); ++k) out[k] = Pack(line + columns[k]);
    }
    return;
  }

  std::vector<Span> colPlan = SmoothPlan(dstWidth, srcWidth);
  std::vector<Span> rowPlan = SmoothPlan(dstHeight, srcHeight);
  for (int y = y0; y < y1; ++y) {
    int j = y - dstY;
    if (flip) j = dstHeight - 1 - j;
    uint32_t* out = fb.Row(y);
    for (int x = x0; x < x1; ++x) {
      int i = x - dstX;
      if (mirror) i = dstWidth - 1 - i;
      const Span& r = rowPlan[j];
      const Span& c = colPlan[i];
      out[x] = Rgb(SampleSmooth(src, srcX, srcY, r, c, 2),
                   SampleSmooth(src, srcX, srcY, r, c, 1),
                   SampleSmooth(src, srcX, srcY, r, c, 0));
    }
  }
}

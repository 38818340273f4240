#include "stereo/framebuffer.h"

// Wide paths for processors with AVX-512 VBMI or AVX2, chosen at run time;
// GCC's target pragma builds them, other compilers keep the portable loop.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define DUORAMIC_WIDE_CONVERT 1
// GCC 12's AVX-512 headers start some intrinsics from a deliberately
// undefined register, which its uninitialised-use analysis reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "stereo/row_bands.h"

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

// The destination rectangle after un-mirroring, and its clipped part.
struct Placement {
  int x, y, width, height;
  bool mirror, flip;
};
struct Clip {
  int x0, x1, y0, y1;
};

// The 32-bit pixel of the B, G, R bytes at p.  `Load4` reads one byte past
// the pixel (the next pixel's blue), so it serves every column but a view's
// last; `Pack` reads exactly three.
inline uint32_t Load4(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return (v & 0x00FFFFFFu) | 0xFF000000u;
}

// Packed B, G, R bytes to 0xFFRRGGBB, n pixels in a row.
void ConvertRun(uint32_t* out, const uint8_t* p, size_t n) {
  for (size_t k = 0; k < n; ++k, p += 3) out[k] = Load4(p);
}

#ifdef DUORAMIC_WIDE_CONVERT
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")

struct SpreadIndices {
  uint8_t byte[64];
};
constexpr SpreadIndices MakeSpread() {
  SpreadIndices x{};
  for (int k = 0; k < 16; ++k)
    for (int c = 0; c < 3; ++c) x.byte[4 * k + c] = uint8_t(3 * k + c);
  return x;
}
constexpr SpreadIndices kSpread = MakeSpread();

// Sixteen pixels a step: a masked load of exactly 48 bytes, so nothing past
// the run is read, and one byte shuffle into four-byte lanes.
size_t ConvertRunWide(uint32_t* out, const uint8_t* p, size_t n) {
  const __m512i spread = _mm512_loadu_si512(kSpread.byte);
  const __m512i opaque = _mm512_set1_epi32(int(0xFF000000u));
  constexpr __mmask64 kBytes = (uint64_t{1} << 48) - 1;
  constexpr __mmask64 kColour = 0x7777777777777777ull;
  size_t k = 0;
  for (; k + 16 <= n; k += 16, p += 48) {
    __m512i v = _mm512_maskz_loadu_epi8(kBytes, p);
    v = _mm512_maskz_permutexvar_epi8(kColour, spread, v);
    _mm512_storeu_si512(out + k, _mm512_or_si512(v, opaque));
  }
  return k;
}

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")

// Eight pixels a step, four from each sixteen-byte half; the second half
// reads up to the first byte of pixel 9, which the run's one spare byte
// past each pixel allows while ten pixels remain.
size_t ConvertRunAvx2(uint32_t* out, const uint8_t* p, size_t n) {
  const __m256i spread = _mm256_setr_epi8(
      0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
      0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i opaque = _mm256_set1_epi32(int(0xFF000000u));
  size_t k = 0;
  for (; k + 10 <= n; k += 8, p += 24) {
    __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12),
                                    reinterpret_cast<const __m128i*>(p));
    v = _mm256_or_si256(_mm256_shuffle_epi8(v, spread), opaque);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), v);
  }
  return k;
}

#pragma GCC pop_options

using RunConverter = size_t (*)(uint32_t*, const uint8_t*, size_t);

RunConverter WideConverter() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi"))
    return ConvertRunWide;
  if (__builtin_cpu_supports("avx2")) return ConvertRunAvx2;
  return nullptr;
}
const RunConverter wideConvert = WideConverter();

void ConvertStraight(uint32_t* out, const uint8_t* p, size_t n) {
  size_t done = wideConvert ? wideConvert(out, p, n) : 0;
  ConvertRun(out + done, p + 3 * done, n - done);
}
#else
void ConvertStraight(uint32_t* out, const uint8_t* p, size_t n) {
  ConvertRun(out, p, n);
}
#endif

// Nearest-neighbour drawing, the path of every unsmoothed repaint.  Columns
// are mapped once, except at one-to-one width unmirrored, where column k is
// source column `first` + k (a movie strip drawn at its own size comes here
// dozens of times a frame).  A destination row that samples the same source
// row as the one above it (any vertical enlargement) is a copy of that row.
void DrawNearest(Framebuffer& fb, const Placement& to, const PictureView& src,
                 int srcX, int srcY, int srcWidth, int srcHeight,
                 const Clip& clip) {
  size_t n = static_cast<size_t>(clip.x1 - clip.x0);
  bool straight = !to.mirror && to.width == srcWidth;
  // Those columns that may take a four-byte load (all but the view's last
  // column) form one run [safeBegin, safeEnd): the columns are monotonic.
  const uint32_t lastColumn = 3 * static_cast<uint32_t>(src.width - 1);
  size_t safeBegin = 0, safeEnd = n;
  std::vector<uint32_t> columns;
  const int first = srcX + clip.x0 - to.x;
  if (straight) {
    safeEnd = static_cast<size_t>(std::clamp(src.width - 1 - first, 0, int(n)));
  } else {
    columns.resize(n);
    for (size_t k = 0; k < n; ++k) {
      int i = clip.x0 + static_cast<int>(k) - to.x;
      if (to.mirror) i = to.width - 1 - i;
      columns[k] = 3 * static_cast<uint32_t>(srcX + NearestIndex(i, to.width, srcWidth));
    }
    while (safeBegin < n && columns[safeBegin] >= lastColumn) ++safeBegin;
    while (safeEnd > safeBegin && columns[safeEnd - 1] >= lastColumn) --safeEnd;
  }
  auto drawRow = [&](uint32_t* out, const uint8_t* line) {
    if (straight) {
      line += 3 * first;
      ConvertStraight(out, line, safeEnd);
      for (size_t k = safeEnd; k < n; ++k) out[k] = Pack(line + 3 * k);
      return;
    }
    for (size_t k = 0; k < safeBegin; ++k) out[k] = Pack(line + columns[k]);
    for (size_t k = safeBegin; k < safeEnd; ++k) out[k] = Load4(line + columns[k]);
    for (size_t k = safeEnd; k < n; ++k) out[k] = Pack(line + columns[k]);
  };

  ForRowBands(clip.y1 - clip.y0, int64_t{4} * n * (clip.y1 - clip.y0),
              [&](int firstRow, int lastRow) {
    const uint32_t* previous = nullptr;
    int previousSource = -1;
    for (int y = clip.y0 + firstRow; y < clip.y0 + lastRow; ++y) {
      int j = y - to.y;
      if (to.flip) j = to.height - 1 - j;
      int source = srcY + NearestIndex(j, to.height, srcHeight);
      uint32_t* out = fb.Row(y) + clip.x0;
      if (source == previousSource) {
        std::memcpy(out, previous, n * sizeof(uint32_t));
        continue;
      }
      drawRow(out, src.TopRow(source));
      previous = out;
      previousSource = source;
    }
  });
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

  // At one to one, smoothing samples exactly the pixels nearest-neighbour
  // does.
  bool oneToOne = dstWidth == srcWidth && dstHeight == srcHeight;
  if (mode == StretchMode::Nearest || oneToOne) {
    DrawNearest(fb, {dstX, dstY, dstWidth, dstHeight, mirror, flip}, src,
                srcX, srcY, srcWidth, srcHeight, {x0, x1, y0, y1});
    return;
  }

  std::vector<Span> colPlan = SmoothPlan(dstWidth, srcWidth);
  std::vector<Span> rowPlan = SmoothPlan(dstHeight, srcHeight);
  ForRowBands(y1 - y0, int64_t{4} * (x1 - x0) * (y1 - y0), [&](int first, int last) {
    for (int y = y0 + first; y < y0 + last; ++y) {
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
  });
}

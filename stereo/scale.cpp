#include "stereo/scale.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

// Both passes work on stored rows (bottom-up) and byte channels, so the
// arithmetic below is the same for blue, green and red.  Results are exact
// integers: the same input gives the same pixels on every machine.

namespace {

// ---- Enlargement: bilinear, 14-bit steps, 8-bit weights -----------------

constexpr int kStepBits = 14;  // fractional bits of a source position
constexpr int kWeightShift = kStepBits - 8;

// P[v][t] = v x t / 255: one blend is P[next][f] + P[this][255 - f].  The
// two weights add up to 255, not 256, so a blend never exceeds 255 (it can
// lose a little brightness, which is the price of staying in 8 bits).
struct ProductTable {
  std::array<std::array<uint8_t, 256>, 256> p;
  ProductTable() {
    for (int v = 0; v < 256; ++v)
      for (int t = 0; t < 256; ++t) p[v][t] = static_cast<uint8_t>(v * t / 255);
  }
};

const ProductTable& Products() {
  static const ProductTable table;
  return table;
}

struct BlendStep {
  int index;   // source pixel (column or row)
  int weight;  // 0..255, weight of index + 1
  bool last;   // on the last source pixel: copied, nothing to blend with
};

// Destination pixel i samples source position i x step, step = source size
// x 16384 / destination size; its weight is the top 8 of the 14 fractional
// bits.  Positions start at the first pixel's edge, not its centre.
std::vector<BlendStep> BlendPlan(int source, int destination) {
  std::vector<BlendStep> plan(destination);
  int64_t step = (int64_t{source} << kStepBits) / destination;
  for (int i = 0; i < destination; ++i) {
    int64_t pos = i * step;
    int index = static_cast<int>(pos >> kStepBits);
    int weight = static_cast<int>((pos >> kWeightShift) & 255);
    if (index >= source - 1) plan[i] = {source - 1, 0, true};
    else plan[i] = {index, weight, false};
  }
  return plan;
}

void BlendRowHorizontally(const uint8_t* src, const std::vector<BlendStep>& plan,
                          uint8_t* out) {
  const auto& P = Products().p;
  for (const BlendStep& c : plan) {
    const uint8_t* s = src + 3 * static_cast<size_t>(c.index);
    if (c.last) {
      std::memcpy(out, s, 3);
    } else {
      for (int ch = 0; ch < 3; ++ch)
        out[ch] = static_cast<uint8_t>(P[s[3 + ch]][c.weight] +
                                       P[s[ch]][255 - c.weight]);
    }
    out += 3;
  }
}

void Enlarge(const uint8_t* source, const FittedPlacement& fit, uint8_t* canvas) {
  int w = PictureWidth(source), h = PictureHeight(source);
  std::vector<BlendStep> columns = BlendPlan(w, fit.width);
  std::vector<BlendStep> rows = BlendPlan(h, fit.height);
  size_t rowBytes = 3 * static_cast<size_t>(fit.width);
  // The horizontally blended source rows r (lower) and r + 1 (upper); the
  // destination walks up the source, so each source row is blended once.
  std::vector<uint8_t> lower(rowBytes), upper(rowBytes);
  int lowerRow = -1, upperRow = -1;
  auto prepare = [&](int r) {
    if (r == lowerRow) return;
    if (r == upperRow) {
      std::swap(lower, upper);
      std::swap(lowerRow, upperRow);
    } else {
      BlendRowHorizontally(PictureRow(source, r), columns, lower.data());
      lowerRow = r;
    }
    if (r + 1 < h && upperRow != r + 1) {
      BlendRowHorizontally(PictureRow(source, r + 1), columns, upper.data());
      upperRow = r + 1;
    }
  };
  const auto& P = Products().p;
  for (int j = 0; j < fit.height; ++j) {
    const BlendStep& r = rows[j];
    prepare(r.index);
    uint8_t* out = PictureRow(canvas, fit.y + j) + 3 * static_cast<size_t>(fit.x);
    if (r.last) {
      std::memcpy(out, lower.data(), rowBytes);
      continue;
    }
    for (size_t k = 0; k < rowBytes; ++k)
      out[k] = static_cast<uint8_t>(P[upper[k]][r.weight] +
                                    P[lower[k]][255 - r.weight]);
  }
}

// ---- Reduction: area average in 1/8192 units -----------------------------

constexpr int kCoverBits = 13;
constexpr int64_t kCoverUnit = int64_t{1} << kCoverBits;

// What one source pixel contributes: `first` destination pixel gets weight
// w0, the next one w1 (0 when the source pixel lies inside one destination
// pixel).  Source pixel k spans [k d / s, (k + 1) d / s) destination pixels,
// with both ends truncated to 1/8192: the spans tile the destination
// exactly, so each destination pixel's weights add up to 8192 and a plain
// colour keeps its value after the shift.
struct Cover {
  int first;
  uint32_t w0;
  uint32_t w1;
};

std::vector<Cover> CoverPlan(int source, int destination) {
  std::vector<Cover> plan(source);
  auto edge = [&](int k) {
    return int64_t{k} * destination * kCoverUnit / source;
  };
  for (int k = 0; k < source; ++k) {
    int64_t from = edge(k), to = edge(k + 1);
    int64_t first = from >> kCoverBits;
    int64_t boundary = (first + 1) << kCoverBits;
    if (to <= boundary)
      plan[k] = {static_cast<int>(first), static_cast<uint32_t>(to - from), 0};
    else
      plan[k] = {static_cast<int>(first), static_cast<uint32_t>(boundary - from),
                 static_cast<uint32_t>(to - boundary)};
  }
  return plan;
}

// Horizontal stage of one source row: weighted sums per destination pixel,
// shifted back to 8 bits.
void AverageRowHorizontally(const uint8_t* src, const std::vector<Cover>& plan,
                            std::vector<uint32_t>& sums, uint8_t* out) {
  std::fill(sums.begin(), sums.end(), 0);
  for (const Cover& c : plan) {
    uint32_t* acc = sums.data() + 3 * static_cast<size_t>(c.first);
    for (int ch = 0; ch < 3; ++ch) acc[ch] += src[ch] * c.w0;
    if (c.w1)
      for (int ch = 0; ch < 3; ++ch) acc[3 + ch] += src[ch] * c.w1;
    src += 3;
  }
  for (size_t k = 0; k < sums.size(); ++k)
    out[k] = static_cast<uint8_t>(sums[k] >> kCoverBits);
}

void Reduce(const uint8_t* source, const FittedPlacement& fit, uint8_t* canvas) {
  int w = PictureWidth(source), h = PictureHeight(source);
  std::vector<Cover> columns = CoverPlan(w, fit.width);
  std::vector<Cover> rows = CoverPlan(h, fit.height);
  size_t rowBytes = 3 * static_cast<size_t>(fit.width);
  std::vector<uint32_t> sums(rowBytes), current(rowBytes), next(rowBytes);
  std::vector<uint8_t> averaged(rowBytes);
  auto emit = [&](int row, const std::vector<uint32_t>& acc) {
    uint8_t* out = PictureRow(canvas, fit.y + row) + 3 * static_cast<size_t>(fit.x);
    for (size_t k = 0; k < rowBytes; ++k)
      out[k] = static_cast<uint8_t>(acc[k] >> kCoverBits);
  };
  // Each finished source row is added into the one or two destination rows
  // it overlaps; a destination row is complete once the source moves past it.
  int currentRow = 0;
  for (int k = 0; k < h; ++k) {
    AverageRowHorizontally(PictureRow(source, k), columns, sums, averaged.data());
    const Cover& r = rows[k];
    if (r.first != currentRow) {
      emit(currentRow, current);
      std::swap(current, next);
      std::fill(next.begin(), next.end(), 0);
      currentRow = r.first;
    }
    for (size_t i = 0; i < rowBytes; ++i) {
      current[i] += averaged[i] * r.w0;
      next[i] += averaged[i] * r.w1;
    }
  }
  emit(currentRow, current);
  if (currentRow + 1 < fit.height) emit(currentRow + 1, next);
}

}  // namespace

FittedPlacement FitPlacement(int w, int h, int a, int b) {
  FittedPlacement fit;
  if (w < 1 || h < 1 || a < 1 || b < 1) return fit;
  int64_t width, height;
  if (int64_t{h} * 1000 / b < int64_t{w} * 1000 / a) {
    width = a;
    height = int64_t{a} * h / w;
  } else {
    width = int64_t{b} * w / h;
    height = b;
  }
  // The ratio test compares truncated thousandths, so a picture whose aspect
  // is within a thousandth of the canvas can come out one pixel wider than
  // the canvas (1 x 1 into 36 x 37 gives 37); a very long picture can come
  // out 0 pixels high.  Keep the fitted size inside the canvas and visible.
  fit.width = static_cast<int>(std::clamp<int64_t>(width, 1, a));
  fit.height = static_cast<int>(std::clamp<int64_t>(height, 1, b));
  fit.x = (a - fit.width) / 2;
  fit.y = (b - fit.height) / 2;  // from the bottom: the odd row goes on top
  return fit;
}

Picture ScaleToFit(const uint8_t* picture, int a, int b) {
  if (!picture) return nullptr;
  Picture converted;
  if (PictureBits(picture) != 24) {
    converted = ConvertTo24(picture);
    if (!converted) return nullptr;
    picture = converted.get();
  }
  int w = PictureWidth(picture), h = PictureHeight(picture);
  if (w < 1 || h < 1 || a < 0 || b < 0) return nullptr;
  if (a == 0) a = w;
  if (b == 0) b = h;
  Picture canvas = CreatePicture(a, b, 24);
  if (!canvas) return nullptr;
  FittedPlacement fit = FitPlacement(w, h, a, b);
  if (fit.width > w || fit.height > h)
    Enlarge(picture, fit, canvas.get());
  else
    Reduce(picture, fit, canvas.get());
  return canvas;
}

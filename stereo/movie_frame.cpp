#include "stereo/movie_frame.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "image/comment.h"
#include "core/viewer_state.h"
#include "stereo/row_bands.h"
#include "stereo/text_overlay.h"
#include "stereo/yuy2_wide.h"

namespace {

GrabbedFrame grabbed;
Picture framePicture;
Picture commentBand;
int appliedFloatShift = 0;
CommentBandMaker bandMaker = RenderCommentBand;

// ---- YUY2 conversion tables ---------------------------------------------
//
// Each table entry packs one term of the YUV equations for blue (bits
// 0-9), green (10-19) and red (20-29), every field raised by a bias that
// keeps it non-negative.  Adding the Y, U and V entries adds all three
// channels at once without carries between fields (each total stays below
// 1024); the limiting table of a channel removes the channel's total bias
// and clamps to 0..255.
//
// The wide path computes the same five terms as (d * m + 2^(s-1)) >> s on
// d = value - centre, one rounding high multiply each; m and s (one s for
// the four chroma terms) are searched for and kept only when they give
// every table entry exactly.

constexpr int kFieldBits = 10;
constexpr uint32_t kFieldMask = (1u << kFieldBits) - 1;

enum Yuy2Term { TermY, TermBU, TermGU, TermGV, TermRV, kTermCount };

struct FixedTerm {
  int16_t m = 0;
  int s = 0;
};

struct Yuy2Tables {
  uint32_t y[256], u[256], v[256];
  uint8_t limitB[1 << kFieldBits], limitG[1 << kFieldBits],
      limitR[1 << kFieldBits];
  Yuy2FixedTerms fixed;

  explicit Yuy2Tables(const YuvColour& colour) {
    // Studio range: Y 16..235 to 0..255, U and V 16..240 around 128; full
    // range: Y 0..255, U and V 0..255 around 128.
    const bool full = colour.fullRange;
    const double ky = full ? 1.0 : 255.0 / 219.0;
    const double kc = full ? 1.0 : 255.0 / 224.0;
    double kr = 0.299, kb = 0.114;
    if (colour.matrix == YuvMatrix::Bt709) kr = 0.2126, kb = 0.0722;
    if (colour.matrix == YuvMatrix::Bt2020) kr = 0.2627, kb = 0.0593;
    const double kg = 1.0 - kr - kb;
    const double k[kTermCount] = {
        ky, 2 * (1 - kb) * kc, -2 * kb * (1 - kb) / kg * kc,
        -2 * kr * (1 - kr) / kg * kc, 2 * (1 - kr) * kc};
    const int centre[kTermCount] = {full ? 0 : 16, 128, 128, 128, 128};
    fixed.lumaCentre = static_cast<int16_t>(centre[TermY]);
    auto term = [&](int t, int v) {
      return static_cast<int>(std::lround(k[t] * (v - centre[t])));
    };
    // The biases: minus the smallest value each term takes.
    const int by = -term(TermY, 0), bbu = -term(TermBU, 0),
              bgu = -term(TermGU, 255), brv = -term(TermRV, 0),
              bgv = -term(TermGV, 255);
    auto pack = [](int b, int g, int r) {
      return uint32_t(b) | uint32_t(g) << kFieldBits | uint32_t(r) << 2 * kFieldBits;
    };
    for (int i = 0; i < 256; ++i) {
      int ty = term(TermY, i) + by;
      y[i] = pack(ty, ty, ty);
      u[i] = pack(term(TermBU, i) + bbu, term(TermGU, i) + bgu, 0);
      v[i] = pack(0, term(TermGV, i) + bgv, term(TermRV, i) + brv);
    }
    const int biasB = by + bbu, biasG = by + bgu + bgv, biasR = by + brv;
    for (int i = 0; i < (1 << kFieldBits); ++i) {
      limitB[i] = static_cast<uint8_t>(std::clamp(i - biasB, 0, 255));
      limitG[i] = static_cast<uint8_t>(std::clamp(i - biasG, 0, 255));
      limitR[i] = static_cast<uint8_t>(std::clamp(i - biasR, 0, 255));
    }
    // The four chroma terms share one s, so that one shift serves U and V.
    int16_t* factor[kTermCount] = {&fixed.y, &fixed.blueU, &fixed.greenU,
                                   &fixed.greenV, &fixed.redV};
    for (int luma = 14; luma >= 8 && !fixed.exact; --luma)
      for (int chroma = 14; chroma >= 8 && !fixed.exact; --chroma) {
        fixed.exact = true;
        for (int t = 0; t < kTermCount && fixed.exact; ++t) {
          FixedTerm f = FixedAt(k[t], [&](int v) { return term(t, v); },
                                centre[t], t == TermY ? luma : chroma);
          *factor[t] = f.m;
          fixed.exact = f.s > 0;
        }
        fixed.lumaShift = luma;
        fixed.chromaShift = chroma;
      }
  }

  // An m with (d * m + 2^(s-1)) >> s == term(d + centre) for every value,
  // for the given s; s 0 when there is none.
  template <typename Term>
  static FixedTerm FixedAt(double k, Term term, int centre, int s) {
    long nearest = std::lround(std::ldexp(k, s));
    for (long m = nearest - 1; m <= nearest + 1; ++m) {
      if (m < -32768 || m > 32767) continue;
      bool exact = true;
      for (int v = 0; v < 256 && exact; ++v)
        exact = (((v - centre) * m + (1L << (s - 1))) >> s) == term(v);
      if (exact) return {static_cast<int16_t>(m), s};
    }
    return {};
  }
};

// The tables of the grabbed frame's colours, each set made once.
const Yuy2Tables& Yuy2() {
  static const Yuy2Tables tables[] = {
      Yuy2Tables({YuvMatrix::Bt601, false}), Yuy2Tables({YuvMatrix::Bt601, true}),
      Yuy2Tables({YuvMatrix::Bt709, false}), Yuy2Tables({YuvMatrix::Bt709, true}),
      Yuy2Tables({YuvMatrix::Bt2020, false}), Yuy2Tables({YuvMatrix::Bt2020, true})};
  const YuvColour& c = grabbed.colour;
  return tables[2 * static_cast<int>(c.matrix) + (c.fullRange ? 1 : 0)];
}

}  // namespace

const Yuy2FixedTerms& Yuy2Fixed() { return Yuy2().fixed; }

namespace {

#ifdef DUORAMIC_WIDE_YUY2
#pragma GCC push_options
#pragma GCC target("avx2")

// Sixteen pixels at a time from the row's start, an even pixel; returns the
// pixels done.
template <YuvLayout L>
int ConvertYuvAvx2(const YuvRow& row, int count, uint8_t* out) {
  const Yuy2FixedTerms& fixed = Yuy2Fixed();
  if (!fixed.exact) return 0;
  const Yuy2Wide k = LoadYuy2Wide(fixed);
  // Per lane, eight pixels: bg holds B0..B7 G0..G7, rr R0..R7 twice.
  const __m256i firstBG = _mm256_setr_epi8(
      0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5,
      0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5);
  const __m256i firstR = _mm256_setr_epi8(
      -1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1,
      -1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
  const __m256i restBG = _mm256_setr_epi8(
      13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1,
      13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i restR = _mm256_setr_epi8(
      -1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1,
      -1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  int done = 0;
  for (int step = 0; done + 16 <= count; done += 16, ++step, out += 48) {
    __m256i b, g, r;
    __m256i luma, chroma;
    LoadYuvWords<L>(row, step, luma, chroma);
    Yuy2Words(k, luma, chroma, b, g, r);
    __m256i bg = _mm256_packus_epi16(b, g);
    __m256i rr = _mm256_packus_epi16(r, r);
    __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(bg, firstBG),
                                    _mm256_shuffle_epi8(rr, firstR));
    __m256i rest = _mm256_or_si256(_mm256_shuffle_epi8(bg, restBG),
                                   _mm256_shuffle_epi8(rr, restR));
    auto* o = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(o, _mm256_castsi256_si128(first));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16),
                     _mm256_castsi256_si128(rest));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24),
                     _mm256_extracti128_si256(first, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 40),
                     _mm256_extracti128_si256(rest, 1));
  }
  return done;
}

int ConvertYuvWide(const YuvRow& row, int count, uint8_t* out) {
  switch (LayoutOf(row)) {
    case YuvLayout::Yuy2:
      return ConvertYuvAvx2<YuvLayout::Yuy2>(row, count, out);
    case YuvLayout::Planar:
      return ConvertYuvAvx2<YuvLayout::Planar>(row, count, out);
    case YuvLayout::SemiPlanar:
      return ConvertYuvAvx2<YuvLayout::SemiPlanar>(row, count, out);
    case YuvLayout::Other:
      break;
  }
  return 0;
}

#pragma GCC pop_options

bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
const bool wideYuy2 = HasAvx2();
#endif  // DUORAMIC_WIDE_YUY2

// ---- Frame geometry -------------------------------------------------------

// Bytes a source row must hold: RGB24 3w; YUY2 whole pixel pairs, so an odd
// width needs the chroma of its last, half-filled pair; 4:2:0 w of luma.
size_t SourceRowBytes(const GrabbedFrame& f) {
  if (f.format == FrameYuy2) return 4 * ((static_cast<size_t>(f.width) + 1) / 2);
  if (f.format == FrameYuv420) return static_cast<size_t>(f.width);
  return 3 * static_cast<size_t>(f.width);
}

bool Usable(const GrabbedFrame& f) {
  if (!f.pixels || f.width < 1 || f.height < 1) return false;
  if (f.format != FrameRgb24 && f.format != FrameYuy2 && f.format != FrameYuv420)
    return false;
  if (!PictureSizeAllowed(f.width, f.height)) return false;
  if (f.format == FrameYuv420) {
    // Top-down planes only; the chroma rows hold every pair's U and V.
    int64_t pairs = (int64_t{f.width} + 1) / 2;
    return f.u && f.v && f.stride > 0 && (f.chromaStep == 1 || f.chromaStep == 2) &&
           static_cast<size_t>(f.stride) >= SourceRowBytes(f) &&
           f.chromaStride >= f.chromaStep * pairs;
  }
  // A negative stride reads top-down rows from the last one up.
  size_t stride = static_cast<size_t>(f.stride < 0 ? -int64_t{f.stride} : f.stride);
  return stride >= SourceRowBytes(f);
}

// The source row that becomes stored (bottom-up) row i: RGB24 rows are
// bottom-up already, YUV rows are read from the last to the first.
int SourceIndex(const GrabbedFrame& f, int i) {
  return f.format == FrameRgb24 ? i : f.height - 1 - i;
}

// Source row `row` of a YUY2 or 4:2:0 frame.
YuvRow SourceYuvRow(const GrabbedFrame& f, int row) {
  const uint8_t* luma = f.pixels + static_cast<ptrdiff_t>(f.stride) * row;
  if (f.format == FrameYuy2) return Yuy2Row(luma);
  // Interlaced: rows 4k and 4k + 2 (field 0) share chroma row 2k, rows
  // 4k + 1 and 4k + 3 (field 1) chroma row 2k + 1.
  int chromaRow = f.interlaced ? (row >> 2 << 1) | (row & 1) : row / 2;
  ptrdiff_t chroma = static_cast<ptrdiff_t>(f.chromaStride) * chromaRow;
  return {luma, f.u + chroma, f.v + chroma, 1, f.chromaStep};
}

// What building the frame writes: 3 bytes a pixel.
int64_t FrameBytes(const GrabbedFrame& f) {
  return int64_t{3} * f.width * f.height;
}

// Copies or converts `count` pixels of stored row i from pixel `first` to
// `out`.
void PutPixels(const GrabbedFrame& f, int i, int first, int count,
               uint8_t* out) {
  int row = SourceIndex(f, i);
  if (f.format == FrameRgb24)
    std::memcpy(out,
                f.pixels + static_cast<ptrdiff_t>(f.stride) * row +
                    3 * static_cast<ptrdiff_t>(first),
                3 * static_cast<size_t>(count));
  else
    ConvertYuvRow(SourceYuvRow(f, row), first, count, out);
}

// Makes FramePicture width x height unless it already is; a new frame is
// black and asks for fresh margins.
bool EnsureFrame(int width, int height, bool remake) {
  if (!remake && framePicture && PictureWidth(framePicture) == width &&
      PictureHeight(framePicture) == height)
    return true;
  framePicture = CreatePicture(width, height, 24);
  Viewer.BackgroundDirty = true;
  return framePicture != nullptr;
}

// ---- Row de-interleave (width mode 4) -----------------------------------

// Even source rows go to the lower half, odd rows to the upper half.  The
// upper half starts after the even rows, (h + 1) / 2 of them: with an odd
// height h / 2 would put the last even row and the first odd row on the
// same stored row and leave the top row empty.
bool BuildDeinterleaved() {
  const GrabbedFrame& f = grabbed;
  if (!EnsureFrame(f.width, f.height, false)) return false;
  int evenRows = (f.height + 1) / 2;
  ForRowBands(f.height, FrameBytes(f), [&](int first, int last) {
    for (int i = first; i < last; ++i) {
      int stored = i % 2 == 0 ? i / 2 : evenRows + i / 2;
      PutPixels(f, i, 0, f.width, PictureRow(framePicture.get(), stored));
    }
  });
  return true;
}

// ---- Shifted views with the comment band ----------------------------------

bool BandWanted() { return Viewer.CommentOn && !CurrentCommentEmpty(); }

int BandHeightFor(int frameHeight) {
  return static_cast<int>(int64_t{frameHeight} * Viewer.CommentSize / 100);
}

// Renders a new band when one is wanted and there is none, the shift moved
// or the frame's size changed; drops it when comments are off or the
// comment is empty (a band would show stale text).  True when the band
// changed.
bool UpdateCommentBand(int shift, int w, int h) {
  int height = BandHeightFor(h);
  if (!BandWanted() || height < 1) {
    if (!commentBand) return false;
    commentBand.reset();
    return true;
  }
  bool stale = !commentBand || shift != appliedFloatShift ||
               PictureWidth(commentBand) != w ||
               PictureHeight(commentBand) != height;
  if (!stale) return false;
  commentBand = bandMaker(w, height);  // null when it fails: no band this time
  if (commentBand && PictureBits(commentBand) != 24) commentBand.reset();
  return true;
}

// Where the two halves land: the left half at `left`, the right half at
// `right`.  A positive shift moves the left view right and the right view
// left inside their halves of w/2 + |s|; a negative one moves them apart.
struct HalfPlacement {
  int half;
  int left;
  int right;
};

HalfPlacement PlaceHalves(int w, int shift) {
  int margin = std::abs(shift), half = w / 2;
  if (shift <= 0) return {half, 0, half + 2 * margin};
  return {half, margin, half + margin};
}

void PlaceBand(const HalfPlacement& at) {
  if (!commentBand) return;
  int bandWidth = PictureWidth(commentBand);
  int half = std::min(at.half, bandWidth / 2);
  for (int y = 0; y < PictureHeight(commentBand); ++y) {
    const uint8_t* src = PictureRow(commentBand.get(), y);
    uint8_t* dst = PictureRow(framePicture.get(), y);
    std::memcpy(dst + 3 * at.left, src, 3 * static_cast<size_t>(half));
    std::memcpy(dst + 3 * at.right, src + 3 * static_cast<size_t>(half),
                3 * static_cast<size_t>(half));
  }
}

// The rows of the last shifted frame: where its halves go and whether its
// rows wait for presentation to convert them, strip by strip.
struct PendingRows {
  HalfPlacement at{};
  int bandHeight = 0;
  bool deferred = false;
  int width = 0, height = 0, format = 0;  // of the frame it was built for
};
PendingRows pending;
std::atomic<int> rowsFilled{0};  // of the deferred frame, by FillFrameRows

// Source rows [first, last) into FramePicture, in two bands when large.
void PutShiftedRows(int first, int last) {
  const GrabbedFrame& f = grabbed;
  const HalfPlacement& at = pending.at;
  ForRowBands(last - first, FrameBytes(f) / f.height * (last - first),
              [&](int from, int to) {
    for (int i = first + from; i < first + to; ++i) {
      uint8_t* dst = PictureRow(framePicture.get(), pending.bandHeight + i);
      PutPixels(f, i, 0, at.half, dst + 3 * at.left);
      PutPixels(f, i, at.half, at.half, dst + 3 * at.right);
    }
  });
}

bool BuildShifted(bool deferRows) {
  const GrabbedFrame& f = grabbed;
  if (f.width < 2) return false;  // no halves to show
  int shift = FloatShiftFor(f.width);
  bool bandChanged = UpdateCommentBand(shift, f.width, f.height);
  bool remake = bandChanged || shift != appliedFloatShift;
  appliedFloatShift = shift;
  int bandHeight = commentBand ? PictureHeight(commentBand) : 0;
  int64_t width = f.width + 2 * int64_t{std::abs(shift)};
  int64_t height = int64_t{f.height} + bandHeight;
  if (!PictureSizeAllowed(width, height)) {
    framePicture.reset();
    return false;
  }
  bool fresh = remake || !framePicture ||
               PictureWidth(framePicture) != width ||
               PictureHeight(framePicture) != height;
  if (!EnsureFrame(static_cast<int>(width), static_cast<int>(height), fresh))
    return false;
  HalfPlacement at = PlaceHalves(f.width, shift);
  if (fresh) PlaceBand(at);  // the band stays put until the frame is re-made
  pending = {at, bandHeight, deferRows, f.width, f.height, f.format};
  rowsFilled = 0;
  if (!deferRows) PutShiftedRows(0, f.height);
  return true;
}

}  // namespace

void FillFrameRows(int first, int end) {
  if (!pending.deferred) return;
  int from = std::max(first - pending.bandHeight, 0);
  int to = std::min(end - pending.bandHeight, grabbed.height);
  if (from >= to) return;
  PutShiftedRows(from, to);
  rowsFilled += to - from;
}

void CompleteFramePicture() {
  // Rows a renderer read straight from the source, left early or read
  // twice: all of them again.
  if (!pending.deferred || rowsFilled == grabbed.height) {
    pending.deferred = false;
    return;
  }
  const GrabbedFrame& f = grabbed;
  bool sameShape = f.width == pending.width && f.height == pending.height &&
                   f.format == pending.format;
  if (sameShape && Usable(f)) {
    PutShiftedRows(0, f.height);
    pending.deferred = false;
  } else {
    // A newer frame of another shape came in since: build that one whole.
    BuildFramePicture();
  }
}

YuvRows FrameYuvRows() {
  const GrabbedFrame& f = grabbed;
  if (!pending.deferred || f.format == FrameRgb24 || pending.bandHeight != 0 ||
      appliedFloatShift != 0)
    return {};
  YuvRow top = SourceYuvRow(f, 0);
  bool planar = f.format == FrameYuv420;
  return {top.y, top.u, top.v, f.stride, planar ? f.chromaStride : f.stride,
          f.height, top.lumaStep, top.chromaStep, planar ? 1 : 0,
          planar && f.interlaced};
}

void SetGrabbedFrame(const GrabbedFrame& frame) { grabbed = frame; }
const GrabbedFrame& CurrentGrabbedFrame() { return grabbed; }
const Picture& FramePicture() { return framePicture; }
const Picture& CommentBand() { return commentBand; }
int AppliedFloatShift() { return appliedFloatShift; }

void ResetMovieFrameState() {
  appliedFloatShift = 0;
  pending.deferred = false;
  framePicture.reset();
  commentBand.reset();
}

void SetCommentBandMaker(CommentBandMaker maker) {
  bandMaker = maker ? maker : RenderCommentBand;
}

int FloatShiftFor(int frameWidth) {
  int64_t shift = int64_t{Viewer.FloatOffset} * frameWidth / 400 * 2;
  // Far beyond any picture size; keeps the arithmetic in int.
  return static_cast<int>(std::clamp<int64_t>(shift, -(1 << 20), 1 << 20));
}

void ConvertYuvRow(const YuvRow& row, int first, int count, uint8_t* out) {
  const Yuy2Tables& t = Yuy2();
  auto put = [&](uint32_t sum) {
    out[0] = t.limitB[sum & kFieldMask];
    out[1] = t.limitG[(sum >> kFieldBits) & kFieldMask];
    out[2] = t.limitR[(sum >> 2 * kFieldBits) & kFieldMask];
    out += 3;
  };
  auto luma = [&](int x) { return t.y[row.y[static_cast<ptrdiff_t>(x) * row.lumaStep]]; };
  auto chroma = [&](int x) {
    ptrdiff_t at = static_cast<ptrdiff_t>(x / 2) * row.chromaStep;
    return t.u[row.u[at]] + t.v[row.v[at]];
  };
  int x = first, end = first + count;
  if (x < end && x % 2 == 1) {  // second pixel of a pair: Y1 with its U, V
    put(luma(x) + chroma(x));
    ++x;
  }
#ifdef DUORAMIC_WIDE_YUY2
  if (wideYuy2) {
    int done = ConvertYuvWide(row.FromPair(x / 2), end - x, out);
    x += done;
    out += 3 * static_cast<size_t>(done);
  }
#endif
  for (; x + 1 < end; x += 2) {
    uint32_t pair = chroma(x);
    put(luma(x) + pair);
    put(luma(x + 1) + pair);
  }
  if (x < end) put(luma(x) + chroma(x));  // first pixel of a pair: Y0
}

bool BuildFramePicture(bool deferRows) {
  pending.deferred = false;
  if (!Usable(grabbed)) return false;
  if (Viewer.WidthMode == 4) return BuildDeinterleaved();
  return BuildShifted(deferRows);
}

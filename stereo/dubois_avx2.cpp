#include "stereo/dubois_avx2.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "stereo/anaglyph.h"
#include "stereo/yuy2_wide.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)

// Each table entry is trunc(v x k) for a coefficient k (times 1024): its
// magnitude is v x a + floor(v x b / 65536) with a whole a and a 16-bit b,
// which the kernel computes with one multiply-add on input pairs and one
// high-half multiply.  a and b are derived from the table itself, so the
// sums are the tables' sums exactly; arithmetic shifting floors them as the
// clamp table's index does, and packing with saturation clamps to 0..255.

namespace {

struct SplitTerm {
  int sign = 1;   // of the coefficient
  int whole = 0;  // a
  int fraction = 0;  // b, 0..65535
};

// a and b with sign x (v x a + floor(v x b / 65536)) == table[v] for every v.
bool Split(const int32_t* table, SplitTerm& term) {
  term.sign = table[255] < 0 ? -1 : 1;
  int estimate = std::abs(table[255]) / 255;
  for (int whole = std::max(estimate - 1, 0); whole <= estimate + 1; ++whole) {
    int64_t low = 0, high = 65535;  // the b that fit every v so far
    for (int v = 1; v < 256 && low <= high; ++v) {
      int64_t part = int64_t{term.sign} * table[v] - int64_t{v} * whole;
      if (part < 0 || part >= v) {
        low = 1, high = 0;
        break;
      }
      // floor(v b / 65536) == part  <=>  part 65536 <= v b < (part + 1) 65536
      low = std::max(low, (part * 65536 + v - 1) / v);
      high = std::min(high, ((part + 1) * 65536 - 1) / v);
    }
    if (low <= high && table[0] == 0 && whole <= 32767) {
      term.whole = whole;
      term.fraction = static_cast<int>(low);
      return true;
    }
  }
  return false;
}

SplitTerm terms[3][6];
bool prepared = false;

}  // namespace

#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")

namespace {

// Input pairs as words, per lane four pixels: (F.r, F.g), (F.b, S.r),
// (S.g, S.b).
inline __m256i PairPick(int a, int b) {
  char m[32];
  for (int lane = 0; lane < 2; ++lane)
    for (int p = 0; p < 4; ++p) {
      char* w = m + 16 * lane + 4 * p;
      w[0] = a < 0 ? -1 : char(3 * p + a);
      w[1] = -1;
      w[2] = b < 0 ? -1 : char(3 * p + b);
      w[3] = -1;
    }
  __m256i v;
  std::memcpy(&v, m, sizeof v);
  return v;
}

inline __m256i WordPair(int low, int high) {
  return _mm256_set1_epi32(int32_t(uint32_t(uint16_t(low)) |
                                   uint32_t(uint16_t(high)) << 16));
}

inline __m256i LoadEight(const uint8_t* p) {
  return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12),
                             reinterpret_cast<const __m128i*>(p));
}

// The Dubois sums of one output channel for eight pixels, from their input
// pairs (F.red, F.green), (F.blue, S.red), (S.green, S.blue) as words.
struct DuboisFactors {
  __m256i whole[3][3], fraction[3][3], sign[3][3];
};

inline __m256i DuboisSum(const DuboisFactors& k, const __m256i* pairs, int o) {
  __m256i sum = _mm256_setzero_si256();
  for (int j = 0; j < 3; ++j) {
    sum = _mm256_add_epi32(sum, _mm256_madd_epi16(pairs[j], k.whole[o][j]));
    __m256i floors = _mm256_mulhi_epu16(pairs[j], k.fraction[o][j]);
    sum = _mm256_add_epi32(sum, _mm256_madd_epi16(floors, k.sign[o][j]));
  }
  return _mm256_srai_epi32(sum, 10);  // floor(sum / 1024)
}

DuboisFactors LoadDuboisFactors() {
  DuboisFactors k;
  for (int o = 0; o < 3; ++o)
    for (int j = 0; j < 3; ++j) {
      const SplitTerm& a = terms[o][2 * j];
      const SplitTerm& b = terms[o][2 * j + 1];
      k.whole[o][j] = WordPair(a.sign * a.whole, b.sign * b.whole);
      k.fraction[o][j] = WordPair(a.fraction, b.fraction);
      k.sign[o][j] = WordPair(a.sign, b.sign);
    }
  return k;
}

// The kernel, storing eight pixels a step as 24-bit B, G, R bytes or as
// 0xFFRRGGBB words.
template <bool Words>
int DuboisRun(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  if (!prepared) return 0;
  // Bytes B, G, R: red is byte 2 of a pixel, blue byte 0.
  const __m256i pickRG = PairPick(2, 1), pickB = PairPick(0, -1),
                pickR = PairPick(-1, 2), pickGB = PairPick(1, 0);
  const DuboisFactors k = LoadDuboisFactors();
  const __m256i interleave = _mm256_setr_epi8(
      0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1,
      0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1);
  const __m256i spread = _mm256_setr_epi8(
      0, 4, 8, -1, 1, 5, 9, -1, 2, 6, 10, -1, 3, 7, 11, -1,
      0, 4, 8, -1, 1, 5, 9, -1, 2, 6, 10, -1, 3, 7, 11, -1);
  const __m256i opaque = _mm256_set1_epi32(int(0xFF000000u));
  constexpr int kOut = Words ? 32 : 24;
  int done = 0;
  for (; done + 10 <= n; done += 8, d += kOut, f += 24, s += 24) {
    __m256i fp = LoadEight(f), sp = LoadEight(s);
    const __m256i pairs[3] = {
        _mm256_shuffle_epi8(fp, pickRG),
        _mm256_or_si256(_mm256_shuffle_epi8(fp, pickB),
                        _mm256_shuffle_epi8(sp, pickR)),
        _mm256_shuffle_epi8(sp, pickGB)};
    __m256i out[3];
    for (int o = 0; o < 3; ++o) out[o] = DuboisSum(k, pairs, o);
    // Per lane: B0..B3 G0..G3 R0..R3 as bytes, then pixel by pixel.
    __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(out[2], out[1]),
                                        _mm256_packs_epi32(out[0], out[0]));
    if constexpr (Words) {
      __m256i words = _mm256_or_si256(_mm256_shuffle_epi8(bytes, spread), opaque);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), words);
      continue;
    }
    __m256i packed = _mm256_shuffle_epi8(bytes, interleave);
    __m128i low = _mm256_castsi256_si128(packed);
    __m128i high = _mm256_extracti128_si256(packed, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), low);
    int tail = _mm_extract_epi32(low, 2);
    std::memcpy(d + 8, &tail, 4);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12), high);
    tail = _mm_extract_epi32(high, 2);
    std::memcpy(d + 20, &tail, 4);
  }
  return done;
}

}  // namespace

int DuboisAvx2(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  return DuboisRun<false>(d, f, s, n);
}

namespace {

template <YuvLayout L>
int DuboisYuvRun(uint32_t* d, const YuvRow& f, const YuvRow& s, int n) {
  const Yuy2FixedTerms& fixed = Yuy2Fixed();
  const Yuy2Wide yuv = LoadYuy2Wide(fixed);
  const DuboisFactors k = LoadDuboisFactors();
  const __m256i top = _mm256_set1_epi16(255);
  // Limiting to 0..255 as the conversion's bytes are is the saturation of
  // packing two channels to bytes, (x0..x7, y0..y7) per lane; these spread
  // them back to word pairs (x, y) for pixels 0-3 and 4-7 of the lane.
  const __m256i lowPairs = _mm256_setr_epi8(
      0, -1, 8, -1, 1, -1, 9, -1, 2, -1, 10, -1, 3, -1, 11, -1,
      0, -1, 8, -1, 1, -1, 9, -1, 2, -1, 10, -1, 3, -1, 11, -1);
  const __m256i highPairs = _mm256_setr_epi8(
      4, -1, 12, -1, 5, -1, 13, -1, 6, -1, 14, -1, 7, -1, 15, -1,
      4, -1, 12, -1, 5, -1, 13, -1, 6, -1, 14, -1, 7, -1, 15, -1);
  int done = 0;
  for (int step = 0; done + 16 <= n; done += 16, d += 16, ++step) {
    __m256i fb, fg, fr, sb, sg, sr;
    __m256i luma, chroma;
    LoadYuvWords<L>(f, step, luma, chroma);
    Yuy2Words(yuv, luma, chroma, fb, fg, fr);
    LoadYuvWords<L>(s, step, luma, chroma);
    Yuy2Words(yuv, luma, chroma, sb, sg, sr);
    const __m256i bytes[3] = {_mm256_packus_epi16(fr, fg),
                              _mm256_packus_epi16(fb, sr),
                              _mm256_packus_epi16(sg, sb)};
    __m256i low[3], high[3];
    for (int j = 0; j < 3; ++j) {
      low[j] = _mm256_shuffle_epi8(bytes[j], lowPairs);
      high[j] = _mm256_shuffle_epi8(bytes[j], highPairs);
    }
    // Each channel's sixteen results as words in pixel order per lane.
    __m256i out[3];
    for (int o = 0; o < 3; ++o)
      out[o] = _mm256_packs_epi32(DuboisSum(k, low, o), DuboisSum(k, high, o));
    // Bytes B, G, R, 0xFF per pixel, limited to 0..255 by the packing.
    __m256i blueRed = _mm256_packus_epi16(out[2], out[0]);
    __m256i greenOpaque = _mm256_packus_epi16(out[1], top);
    __m256i bg = _mm256_unpacklo_epi8(blueRed, greenOpaque);
    __m256i ra = _mm256_unpackhi_epi8(blueRed, greenOpaque);
    __m256i quarter0 = _mm256_unpacklo_epi16(bg, ra);  // pixels 0-3, 8-11
    __m256i quarter1 = _mm256_unpackhi_epi16(bg, ra);  // pixels 4-7, 12-15
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                        _mm256_permute2x128_si256(quarter0, quarter1, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 8),
                        _mm256_permute2x128_si256(quarter0, quarter1, 0x31));
  }
  return done;
}

}  // namespace

int DuboisYuvAvx2Words(uint32_t* d, const YuvRow& f, const YuvRow& s, int n) {
  if (!prepared || !Yuy2Fixed().exact) return 0;
  YuvLayout layout = LayoutOf(f);
  if (LayoutOf(s) != layout) return 0;
  switch (layout) {
    case YuvLayout::Yuy2:
      return DuboisYuvRun<YuvLayout::Yuy2>(d, f, s, n);
    case YuvLayout::Planar:
      return DuboisYuvRun<YuvLayout::Planar>(d, f, s, n);
    case YuvLayout::SemiPlanar:
      return DuboisYuvRun<YuvLayout::SemiPlanar>(d, f, s, n);
    case YuvLayout::Other:
      break;
  }
  return 0;
}

int DuboisAvx2Words(uint32_t* d, const uint8_t* f, const uint8_t* s, int n) {
  return DuboisRun<true>(reinterpret_cast<uint8_t*>(d), f, s, n);
}

#pragma GCC pop_options

bool PrepareDuboisAvx2() {
  __builtin_cpu_init();
  bool ok = __builtin_cpu_supports("avx2");
  for (int o = 0; o < 3 && ok; ++o)
    for (int i = 0; i < 6 && ok; ++i)
      ok = Split(AnaglyphTables.dubois[o][i], terms[o][i]);
  prepared = ok;
  return ok;
}

#else

int DuboisAvx2(uint8_t*, const uint8_t*, const uint8_t*, int) { return 0; }
int DuboisAvx2Words(uint32_t*, const uint8_t*, const uint8_t*, int) { return 0; }
int DuboisYuvAvx2Words(uint32_t*, const YuvRow&, const YuvRow&, int) {
  return 0;
}
bool PrepareDuboisAvx2() { return false; }

#endif

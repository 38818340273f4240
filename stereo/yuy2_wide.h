// YUY2 pixels to B, G, R sixteen at a time with AVX2, shared by the movie
// frame's conversion and the anaglyph mix that reads YUV rows directly;
// every layout is loaded as the same luma and chroma words, so one kernel
// serves them all.
#pragma once

#include <cstdint>

#include "stereo/movie_frame.h"

// The five terms of the grabbed frame's colours (Y; U to blue and green; V
// to green and red), each as (d * m + 2^(s-1)) >> s on d = value - centre
// (luma centre 16 in studio range, 0 in full range; chroma 128), one s for
// luma and one for the four chroma terms.  `exact` is false when no m and s
// give every table entry, and the wide paths then stay unused.
struct Yuy2FixedTerms {
  int16_t y = 0, blueU = 0, greenU = 0, greenV = 0, redV = 0;
  int lumaShift = 0, chromaShift = 0;
  int16_t lumaCentre = 16;
  bool exact = false;
};
const Yuy2FixedTerms& Yuy2Fixed();

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define DUORAMIC_WIDE_YUY2 1
#include <immintrin.h>

// The row layouts the wide paths read; anything else goes pixel by pixel.
enum class YuvLayout { Yuy2, Planar, SemiPlanar, Other };

inline YuvLayout LayoutOf(const YuvRow& r) {
  if (r.lumaStep == 2 && r.chromaStep == 4 && r.u == r.y + 1 && r.v == r.y + 3)
    return YuvLayout::Yuy2;
  if (r.lumaStep == 1 && r.chromaStep == 1) return YuvLayout::Planar;
  if (r.lumaStep == 1 && r.chromaStep == 2 && r.v == r.u + 1)
    return YuvLayout::SemiPlanar;
  return YuvLayout::Other;
}

#pragma GCC push_options
#pragma GCC target("avx2")

// Sixteen pixels from the start of `row` (an even pixel), `step` counting
// sixteens: their Y as words and their pairs' U and V as alternating words,
// pixels 0-7 and pairs 0-3 in the low lane.  Reads no byte past the
// sixteen pixels' own.
template <YuvLayout L>
inline void LoadYuvWords(const YuvRow& row, int step, __m256i& luma,
                         __m256i& chroma) {
  if constexpr (L == YuvLayout::Yuy2) {
    __m256i in = _mm256_loadu_si256(
        reinterpret_cast<const __m256i*>(row.y + 32 * static_cast<ptrdiff_t>(step)));
    luma = _mm256_and_si256(in, _mm256_set1_epi16(0x00ff));
    chroma = _mm256_srli_epi16(in, 8);
  } else {
    luma = _mm256_cvtepu8_epi16(_mm_loadu_si128(
        reinterpret_cast<const __m128i*>(row.y + 16 * static_cast<ptrdiff_t>(step))));
    __m128i pairs;
    if constexpr (L == YuvLayout::Planar) {
      ptrdiff_t at = 8 * static_cast<ptrdiff_t>(step);
      pairs = _mm_unpacklo_epi8(
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.u + at)),
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.v + at)));
    } else {
      pairs = _mm_loadu_si128(
          reinterpret_cast<const __m128i*>(row.u + 16 * static_cast<ptrdiff_t>(step)));
    }
    chroma = _mm256_cvtepu8_epi16(pairs);
  }
}

struct Yuy2Wide {
  __m256i y, blueRed, green;  // factors; chroma words alternate U, V
  __m128i lumaUp, chromaUp;
  __m256i lumaCentre;
};

inline Yuy2Wide LoadYuy2Wide(const Yuy2FixedTerms& t) {
  auto pair = [](int low, int high) {
    return int32_t(uint32_t(uint16_t(low)) | uint32_t(uint16_t(high)) << 16);
  };
  return {_mm256_set1_epi16(t.y), _mm256_set1_epi32(pair(t.blueU, t.redV)),
          _mm256_set1_epi32(pair(t.greenU, t.greenV)),
          _mm_cvtsi32_si128(15 - t.lumaShift),
          _mm_cvtsi32_si128(15 - t.chromaShift),
          _mm256_set1_epi16(t.lumaCentre)};
}

// Sixteen pixels from their LoadYuvWords words: their blue, green and red
// as words, not yet limited to 0..255, in pixel order within each 128-bit
// lane (pixels 0-7, then 8-15).
inline void Yuy2Words(const Yuy2Wide& k, __m256i lumaWords, __m256i chromaWords,
                      __m256i& b, __m256i& g, __m256i& r) {
  // (d * m + 2^(s-1)) >> s is one rounding high multiply of d << (15 - s)
  // by m: d stays within -128..255, so d << 7 at most still fits a word.
  const __m256i lowWords = _mm256_set1_epi32(0x0000ffff);
  __m256i dy = _mm256_sll_epi16(
      _mm256_sub_epi16(lumaWords, k.lumaCentre), k.lumaUp);
  __m256i duv = _mm256_sll_epi16(
      _mm256_sub_epi16(chromaWords, _mm256_set1_epi16(128)), k.chromaUp);
  __m256i luma = _mm256_mulhrs_epi16(dy, k.y);
  // Each pair's term to both its pixels: blue from the U word, red from
  // the V word, green the sum of both.
  __m256i br = _mm256_mulhrs_epi16(duv, k.blueRed);
  __m256i gg = _mm256_mulhrs_epi16(duv, k.green);
  __m256i blue = _mm256_or_si256(_mm256_and_si256(br, lowWords),
                                 _mm256_slli_epi32(br, 16));
  __m256i red = _mm256_or_si256(_mm256_andnot_si256(lowWords, br),
                                _mm256_srli_epi32(br, 16));
  __m256i green = _mm256_add_epi16(
      gg, _mm256_or_si256(_mm256_srli_epi32(gg, 16), _mm256_slli_epi32(gg, 16)));
  b = _mm256_add_epi16(luma, blue);
  g = _mm256_add_epi16(luma, green);
  r = _mm256_add_epi16(luma, red);
}

#pragma GCC pop_options
#endif

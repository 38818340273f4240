// YUY2 pixels to B, G, R sixteen at a time with AVX2, shared by the movie
// frame's conversion and the anaglyph mix that reads YUY2 rows directly.
#pragma once

#include <cstdint>

// The five BT.601 terms (Y; U to blue and green; V to green and red), each
// as (d * m + 2^(s-1)) >> s on d = value - centre, one s for luma and one
// for the four chroma terms.  `exact` is false when no m and s give every
// table entry, and the wide paths then stay unused.
struct Yuy2FixedTerms {
  int16_t y = 0, blueU = 0, greenU = 0, greenV = 0, redV = 0;
  int lumaShift = 0, chromaShift = 0;
  bool exact = false;
};
const Yuy2FixedTerms& Yuy2Fixed();

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define DUORAMIC_WIDE_YUY2 1
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")

struct Yuy2Wide {
  __m256i y, blueRed, green;  // factors; chroma words alternate U, V
  __m128i lumaUp, chromaUp;
};

inline Yuy2Wide LoadYuy2Wide(const Yuy2FixedTerms& t) {
  auto pair = [](int low, int high) {
    return int32_t(uint32_t(uint16_t(low)) | uint32_t(uint16_t(high)) << 16);
  };
  return {_mm256_set1_epi16(t.y), _mm256_set1_epi32(pair(t.blueU, t.redV)),
          _mm256_set1_epi32(pair(t.greenU, t.greenV)),
          _mm_cvtsi32_si128(15 - t.lumaShift),
          _mm_cvtsi32_si128(15 - t.chromaShift)};
}

// Sixteen pixels from 32 bytes of pixel pairs: their blue, green and red
// as words, not yet limited to 0..255, in pixel order within each 128-bit
// lane (pixels 0-7, then 8-15).
inline void Yuy2Words(const Yuy2Wide& k, __m256i in, __m256i& b, __m256i& g,
                      __m256i& r) {
  // (d * m + 2^(s-1)) >> s is one rounding high multiply of d << (15 - s)
  // by m: d stays within -128..239, so d << 7 at most still fits a word.
  const __m256i lowBytes = _mm256_set1_epi16(0x00ff);
  const __m256i lowWords = _mm256_set1_epi32(0x0000ffff);
  __m256i dy = _mm256_sll_epi16(
      _mm256_sub_epi16(_mm256_and_si256(in, lowBytes), _mm256_set1_epi16(16)),
      k.lumaUp);
  __m256i duv = _mm256_sll_epi16(
      _mm256_sub_epi16(_mm256_srli_epi16(in, 8), _mm256_set1_epi16(128)),
      k.chromaUp);
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

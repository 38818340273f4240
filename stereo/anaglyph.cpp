#include "stereo/anaglyph.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <iterator>

#include "core/viewer_state.h"
#include "stereo/dubois_avx2.h"
#include "stereo/panorama.h"
#include "stereo/present.h"
#include "stereo/row_bands.h"

// Wide paths for processors with AVX-512 VBMI (every format) or AVX2 (Dubois),
// chosen at run time.  They use GCC's target pragma; other compilers build the
// portable paths only.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define DUORAMIC_WIDE_ANAGLYPHS 1
// GCC 12's AVX-512 headers start some intrinsics from a deliberately
// undefined register, which its uninitialised-use analysis reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

AnaglyphTableSet AnaglyphTables;

namespace {

// The Dubois least-squares matrices for red/cyan glasses: output channel by
// input F.red, F.green, F.blue, S.red, S.green, S.blue.
constexpr double kDubois[3][6] = {
    {0.4561, 0.500484, 0.176381, -0.0434706, -0.0879388, -0.00155529},
    {-0.0400822, -0.0378246, -0.0157589, 0.378476, 0.73364, -0.0184503},
    {-0.0152161, -0.0205971, -0.00546856, -0.0721527, -0.112961, 1.2264},
};
constexpr double kLumaWeights[3] = {0.299, 0.587, 0.114};

// The clamp table's index is floor(sum / 1024) + 100: adding this before the
// shift turns the floor of a possibly negative sum into a plain shift.
constexpr int32_t kClampBias = 100 * 1024;

// The Dubois sums of all three outputs in one 64-bit word, 21 bits each, so
// that a pixel takes six look-ups instead of eighteen.  Every finished field
// lies in 0 .. 2^21 (the biased sums run from about 40 000 to 430 000), so
// borrows between fields in the partial sums cancel out exactly.
constexpr int kFieldBits = 21;
constexpr uint64_t kFieldMask = (uint64_t{1} << kFieldBits) - 1;
uint64_t duboisPacked[6][256];

#ifdef DUORAMIC_WIDE_ANAGLYPHS
// The wide paths look tables up 64 bytes at a time, so each table T with 10
// fraction bits is split into byte tables: H = floor(T / 1024) + bias, made
// non-negative by a per-table bias, and L = T mod 1024 in two bytes.  Then
// floor(sum of T / 1024) = sum of H + floor(sum of L / 1024) - sum of bias,
// exactly.  H needs its high byte in one table only (1.2264 x 255).
struct SplitSum {
  uint8_t table[6][4][256];  // [term][H low, H high, L low, L high][v]
  bool highByte[6];          // whether H ever exceeds 255
  int16_t bias = 0;          // the biases of all terms
};
SplitSum splitDubois[3];  // red, green, blue outputs
SplitSum splitLuma;

void SplitTable(const int32_t* table, SplitSum& sum, int term) {
  int32_t high[256], low[256], bias = 0, top = 0;
  for (int v = 0; v < 256; ++v) {
    int32_t t = table[v];
    high[v] = t >= 0 ? t / 1024 : -((-t + 1023) / 1024);
    low[v] = t - 1024 * high[v];
    bias = std::max(bias, -high[v]);
  }
  uint8_t (*split)[256] = sum.table[term];
  for (int v = 0; v < 256; ++v) {
    int32_t h = high[v] + bias;
    top = std::max(top, h);
    split[0][v] = uint8_t(h), split[1][v] = uint8_t(h >> 8);
    split[2][v] = uint8_t(low[v]), split[3][v] = uint8_t(low[v] >> 8);
  }
  sum.highByte[term] = top > 255;
  sum.bias = static_cast<int16_t>(sum.bias + bias);
}

void SplitTables() {
  for (int out = 0; out < 3; ++out) {
    splitDubois[out].bias = 0;
    for (int input = 0; input < 6; ++input)
      SplitTable(AnaglyphTables.dubois[out][input], splitDubois[out], input);
  }
  splitLuma.bias = 0;
  for (int c = 0; c < 3; ++c) SplitTable(AnaglyphTables.luma[c], splitLuma, c);
}
#endif

std::atomic<bool> tablesBuilt{false};

int32_t Premultiplied(double coefficient, int v) {
  double k = coefficient * 1024;
  return static_cast<int32_t>(std::trunc(v * k));
}

void PackDuboisTables() {
  for (int input = 0; input < 6; ++input)
    for (int v = 0; v < 256; ++v) {
      uint64_t word = 0;
      for (int out = 0; out < 3; ++out) {
        int64_t term = AnaglyphTables.dubois[out][input][v];
        if (input == 0) term += kClampBias;  // the bias once per output
        word += static_cast<uint64_t>(term) << (kFieldBits * out);
      }
      duboisPacked[input][v] = word;
    }
}

// A pixel as one word, 0x??RRGGBB.  Reading four bytes takes one load
// instead of three; the fourth byte belongs to the next pixel, so the last
// pixel of a row is read byte by byte.
inline uint32_t Word(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint32_t LastWord(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
}
inline uint32_t B(uint32_t p) { return p & 0xFF; }
inline uint32_t G(uint32_t p) { return (p >> 8) & 0xFF; }
inline uint32_t R(uint32_t p) { return (p >> 16) & 0xFF; }
inline uint32_t Bgr(uint32_t b, uint32_t g, uint32_t r) {
  return b | (g << 8) | (r << 16);
}

inline uint32_t Y1(uint32_t p) {
  const LumaTableSet& t = LumaTables;
  return t.clamp[t.red[R(p)] + t.green[G(p)] + t.blue[B(p)] + 46];
}

inline uint32_t Y2(uint32_t p) {
  const AnaglyphTableSet& t = AnaglyphTables;
  int32_t sum = t.luma[0][R(p)] + t.luma[1][G(p)] + t.luma[2][B(p)];
  return t.clamp[(sum + kClampBias) >> 10];
}

// A wide path combines a multiple of its block of pixels from the start of
// the row and returns how many it did; the portable code does the rest.
using WideCombiner = int (*)(uint8_t* d, const uint8_t* f, const uint8_t* s,
                             int n);
constexpr int kFormatCount =
    ColorAnaglyphYellowBlueBlueCorrected - AnaglyphRedCyan + 1;

#ifdef DUORAMIC_WIDE_ANAGLYPHS
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")

// Byte shuffles between 64 packed B, G, R pixels (three registers) and three
// planes of 64 channel bytes.
struct ShuffleIndices {
  uint8_t splitLow[3][64];   // channel c of pixel k from registers 0 and 1
  uint8_t splitHigh[3][64];  // ... from registers 1 and 2
  uint64_t splitHighMask[3];
  uint8_t joinBlueGreen[3][64];  // output register j from the B and G planes
  uint8_t joinRed[3][64];        // ... and from the R plane
  uint64_t joinRedMask[3];
  uint8_t y1FromSum[256];  // LumaTables.clamp[sum + 46] for sums 0..255
};

constexpr ShuffleIndices MakeShuffleIndices() {
  ShuffleIndices x{};
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 64; ++k) {
      int at = 3 * k + c;
      x.splitLow[c][k] = uint8_t(at & 127);
      x.splitHigh[c][k] = uint8_t(at >= 64 ? (at - 64) & 127 : 0);
      if (at >= 128) x.splitHighMask[c] |= uint64_t{1} << k;
    }
  for (int j = 0; j < 3; ++j)
    for (int t = 0; t < 64; ++t) {
      int m = 64 * j + t, c = m % 3, pixel = m / 3;
      x.joinBlueGreen[j][t] = uint8_t(c == 0 ? pixel : c == 1 ? pixel | 64 : 0);
      x.joinRed[j][t] = uint8_t(pixel);
      if (c == 2) x.joinRedMask[j] |= uint64_t{1} << t;
    }
  for (int sum = 0; sum < 256; ++sum)
    x.y1FromSum[sum] = LumaTables.clamp[sum + 46];
  return x;
}

constexpr ShuffleIndices kShuffle = MakeShuffleIndices();

inline __m512i Load64(const uint8_t* p) { return _mm512_loadu_si512(p); }

struct Planes {
  __m512i b, g, r;
};

inline Planes Split(const uint8_t* p) {
  __m512i v0 = Load64(p), v1 = Load64(p + 64), v2 = Load64(p + 128);
  __m512i plane[3];
  for (int c = 0; c < 3; ++c) {
    __m512i low = _mm512_permutex2var_epi8(v0, Load64(kShuffle.splitLow[c]), v1);
    __m512i high = _mm512_permutex2var_epi8(v1, Load64(kShuffle.splitHigh[c]), v2);
    plane[c] = _mm512_mask_blend_epi8(kShuffle.splitHighMask[c], low, high);
  }
  return {plane[0], plane[1], plane[2]};
}

inline void Join(const Planes& o, uint8_t* p) {
  for (int j = 0; j < 3; ++j) {
    __m512i v = _mm512_permutex2var_epi8(o.b, Load64(kShuffle.joinBlueGreen[j]), o.g);
    v = _mm512_mask_permutexvar_epi8(v, kShuffle.joinRedMask[j],
                                     Load64(kShuffle.joinRed[j]), o.r);
    _mm512_storeu_si512(p + 64 * j, v);
  }
}

// A 256-entry byte table looked up for 64 indices at once.
struct ByteTable {
  __m512i part[4];
  explicit ByteTable(const uint8_t* t)
      : part{Load64(t), Load64(t + 64), Load64(t + 128), Load64(t + 192)} {}
  __m512i operator[](__m512i index) const {
    __m512i low = _mm512_permutex2var_epi8(part[0], index, part[1]);
    __m512i high = _mm512_permutex2var_epi8(part[2], index, part[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
  }
};

struct LumaLookup {
  ByteTable red{LumaTables.red}, green{LumaTables.green};
  ByteTable blue{LumaTables.blue}, sum{kShuffle.y1FromSum};
  // The three parts add up to at most 255, so bytes never carry.
  __m512i Y1(const Planes& p) const {
    __m512i s = _mm512_add_epi8(_mm512_add_epi8(red[p.r], green[p.g]), blue[p.b]);
    return sum[s];
  }
};

// clamp(floor(sum of T_j[input_j] / 1024)) for 64 pixels from split
// tables: the parts are summed in 16-bit lanes and packed back with unsigned
// saturation, which is the clamp; unpack and pack both work per 128-bit
// lane, so the pixel order comes back unchanged.
__m512i FixedPointSum(const SplitSum& sum, const __m512i* inputs, int terms) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i highA = zero, highB = zero, lowA = zero, lowB = zero;
  for (int j = 0; j < terms; ++j) {
    __m512i h0 = ByteTable(sum.table[j][0])[inputs[j]];
    __m512i h1 = sum.highByte[j] ? ByteTable(sum.table[j][1])[inputs[j]] : zero;
    __m512i l0 = ByteTable(sum.table[j][2])[inputs[j]];
    __m512i l1 = ByteTable(sum.table[j][3])[inputs[j]];
    highA = _mm512_add_epi16(highA, _mm512_unpacklo_epi8(h0, h1));
    highB = _mm512_add_epi16(highB, _mm512_unpackhi_epi8(h0, h1));
    lowA = _mm512_add_epi16(lowA, _mm512_unpacklo_epi8(l0, l1));
    lowB = _mm512_add_epi16(lowB, _mm512_unpackhi_epi8(l0, l1));
  }
  const __m512i bias = _mm512_set1_epi16(sum.bias);
  __m512i a = _mm512_sub_epi16(
      _mm512_add_epi16(highA, _mm512_srli_epi16(lowA, 10)), bias);
  __m512i b = _mm512_sub_epi16(
      _mm512_add_epi16(highB, _mm512_srli_epi16(lowB, 10)), bias);
  return _mm512_packus_epi16(a, b);
}

inline __m512i Y2(const Planes& p) {
  const __m512i inputs[3] = {p.r, p.g, p.b};
  return FixedPointSum(splitLuma, inputs, 3);
}

inline void AddTerm(__m512i h0, __m512i h1, __m512i l0, __m512i l1,
                    __m512i& highA, __m512i& highB, __m512i& lowA,
                    __m512i& lowB) {
  highA = _mm512_add_epi16(highA, _mm512_unpacklo_epi8(h0, h1));
  highB = _mm512_add_epi16(highB, _mm512_unpackhi_epi8(h0, h1));
  lowA = _mm512_add_epi16(lowA, _mm512_unpacklo_epi8(l0, l1));
  lowB = _mm512_add_epi16(lowB, _mm512_unpackhi_epi8(l0, l1));
}

// FixedPointSum over the six Dubois inputs of several blocks, table by
// table: each table is loaded into registers once for the whole strip, since
// reloading it for every block made the loads the bottleneck.
template <int Blocks>
void DuboisOutput(const SplitSum& sum, const __m512i (*inputs)[6],
                  __m512i* out) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i highA[Blocks], highB[Blocks], lowA[Blocks], lowB[Blocks];
  for (int b = 0; b < Blocks; ++b)
    highA[b] = highB[b] = lowA[b] = lowB[b] = zero;
  for (int j = 0; j < 6; ++j) {
    const ByteTable h0(sum.table[j][0]), l0(sum.table[j][2]);
    const ByteTable l1(sum.table[j][3]);
    if (sum.highByte[j]) {
      const ByteTable h1(sum.table[j][1]);
      for (int b = 0; b < Blocks; ++b) {
        __m512i x = inputs[b][j];
        AddTerm(h0[x], h1[x], l0[x], l1[x], highA[b], highB[b], lowA[b], lowB[b]);
      }
    } else {
      for (int b = 0; b < Blocks; ++b) {
        __m512i x = inputs[b][j];
        AddTerm(h0[x], zero, l0[x], l1[x], highA[b], highB[b], lowA[b], lowB[b]);
      }
    }
  }
  const __m512i bias = _mm512_set1_epi16(sum.bias);
  for (int b = 0; b < Blocks; ++b) {
    __m512i x = _mm512_sub_epi16(
        _mm512_add_epi16(highA[b], _mm512_srli_epi16(lowA[b], 10)), bias);
    __m512i y = _mm512_sub_epi16(
        _mm512_add_epi16(highB[b], _mm512_srli_epi16(lowB[b], 10)), bias);
    out[b] = _mm512_packus_epi16(x, y);
  }
}

template <int Blocks>
void DuboisStrip(uint8_t* d, const uint8_t* f, const uint8_t* s) {
  __m512i inputs[Blocks][6];
  for (int b = 0; b < Blocks; ++b) {
    Planes F = Split(f + 192 * b), S = Split(s + 192 * b);
    const __m512i in[6] = {F.r, F.g, F.b, S.r, S.g, S.b};
    std::copy(in, in + 6, inputs[b]);
  }
  __m512i red[Blocks], green[Blocks], blue[Blocks];
  DuboisOutput<Blocks>(splitDubois[0], inputs, red);
  DuboisOutput<Blocks>(splitDubois[1], inputs, green);
  DuboisOutput<Blocks>(splitDubois[2], inputs, blue);
  for (int b = 0; b < Blocks; ++b) Join({blue[b], green[b], red[b]}, d + 192 * b);
}

int WideDubois(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  constexpr int kStrip = 3;
  int done = 0;
  for (; done + 64 * kStrip <= n; done += 64 * kStrip)
    DuboisStrip<kStrip>(d + 3 * done, f + 3 * done, s + 3 * done);
  for (; done + 64 <= n; done += 64)
    DuboisStrip<1>(d + 3 * done, f + 3 * done, s + 3 * done);
  return done;
}

template <int Format>
int WideBytes(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  const LumaLookup luma;
  const __m512i zero = _mm512_setzero_si512();
  int done = 0;
  for (; done + 64 <= n; done += 64, d += 192, f += 192, s += 192) {
    Planes F = Split(f), S = Split(s), O;
    if constexpr (Format == AnaglyphRedCyan) {
      __m512i ys = luma.Y1(S);
      O = {ys, ys, luma.Y1(F)};
    } else if constexpr (Format == AnaglyphRedGreen) {
      O = {zero, luma.Y1(S), luma.Y1(F)};
    } else if constexpr (Format == AnaglyphRedBlue) {
      O = {luma.Y1(S), zero, luma.Y1(F)};
    } else if constexpr (Format == ColorAnaglyphRedCyan) {
      O = {S.b, S.g, F.r};
    } else if constexpr (Format == ColorAnaglyphRedCyanRedCorrected) {
      O = {S.b, S.g, luma.Y1(F)};
    } else if constexpr (Format == AnaglyphYellowBlue) {
      __m512i ys = Y2(S);
      O = {Y2(F), ys, ys};
    } else if constexpr (Format == ColorAnaglyphYellowBlue) {
      O = {F.b, S.g, S.r};
    } else {
      static_assert(Format == ColorAnaglyphYellowBlueBlueCorrected);
      O = {Y2(F), S.g, S.r};
    }
    Join(O, d);
  }
  return done;
}

#pragma GCC pop_options

#endif  // DUORAMIC_WIDE_ANAGLYPHS

struct WideSet {
  WideCombiner at[kFormatCount] = {};
};

WideSet SelectWide() {
  WideSet wide;
#ifdef DUORAMIC_WIDE_ANAGLYPHS
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
      !__builtin_cpu_supports("avx512vbmi")) {
    if (__builtin_cpu_supports("avx2"))
      wide.at[DuboisAnaglyph - AnaglyphRedCyan] = DuboisAvx2;
    return wide;
  }
  auto put = [&](int format, WideCombiner c) {
    wide.at[format - AnaglyphRedCyan] = c;
  };
  put(AnaglyphRedCyan, WideBytes<AnaglyphRedCyan>);
  put(AnaglyphRedGreen, WideBytes<AnaglyphRedGreen>);
  put(AnaglyphRedBlue, WideBytes<AnaglyphRedBlue>);
  put(ColorAnaglyphRedCyan, WideBytes<ColorAnaglyphRedCyan>);
  put(ColorAnaglyphRedCyanRedCorrected,
      WideBytes<ColorAnaglyphRedCyanRedCorrected>);
  put(AnaglyphYellowBlue, WideBytes<AnaglyphYellowBlue>);
  put(DuboisAnaglyph, WideDubois);
  put(ColorAnaglyphYellowBlue, WideBytes<ColorAnaglyphYellowBlue>);
  put(ColorAnaglyphYellowBlueBlueCorrected,
      WideBytes<ColorAnaglyphYellowBlueBlueCorrected>);
#endif
  return wide;
}

const WideSet wide = SelectWide();

// Runs `mix` (first pixel, second pixel) -> output pixel over what is left
// of a row after the format's wide path.  Every output word but the last is
// stored whole; its fourth byte is overwritten by the next pixel.
template <typename Mix>
inline void CombineRow(int format, uint8_t* __restrict d,
                       const uint8_t* __restrict f, const uint8_t* __restrict s,
                       int n, Mix mix) {
  if (WideCombiner fast = wide.at[format - AnaglyphRedCyan]) {
    int done = fast(d, f, s, n);
    d += 3 * done, f += 3 * done, s += 3 * done, n -= done;
  }
  if (n <= 0) return;
  for (int i = 1; i < n; ++i, d += 3, f += 3, s += 3) {
    uint32_t v = mix(Word(f), Word(s));
    std::memcpy(d, &v, 4);
  }
  uint32_t v = mix(LastWord(f), LastWord(s));
  d[0] = uint8_t(v), d[1] = uint8_t(v >> 8), d[2] = uint8_t(v >> 16);
}

// The nine row functions; F is the first view's pixel, S the second's.

void CombineRedCyan(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  CombineRow(AnaglyphRedCyan, d, f, s, n, [](uint32_t F, uint32_t S) {
    uint32_t ys = Y1(S);
    return Bgr(ys, ys, Y1(F));
  });
}

void CombineRedGreen(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  CombineRow(AnaglyphRedGreen, d, f, s, n,
             [](uint32_t F, uint32_t S) { return Bgr(0, Y1(S), Y1(F)); });
}

void CombineRedBlue(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  CombineRow(AnaglyphRedBlue, d, f, s, n,
             [](uint32_t F, uint32_t S) { return Bgr(Y1(S), 0, Y1(F)); });
}

void CombineYellowBlue(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  CombineRow(AnaglyphYellowBlue, d, f, s, n, [](uint32_t F, uint32_t S) {
    uint32_t ys = Y2(S);
    return Bgr(Y2(F), ys, ys);
  });
}

void CombineColorRedCyan(uint8_t* d, const uint8_t* f, const uint8_t* s,
                         int n) {
  CombineRow(ColorAnaglyphRedCyan, d, f, s, n, [](uint32_t F, uint32_t S) {
    return (S & 0x00FFFFu) | (F & 0xFF0000u);
  });
}

void CombineColorRedCyanRedCorrected(uint8_t* d, const uint8_t* f,
                                     const uint8_t* s, int n) {
  CombineRow(ColorAnaglyphRedCyanRedCorrected, d, f, s, n,
             [](uint32_t F, uint32_t S) {
               return (S & 0x00FFFFu) | (Y1(F) << 16);
             });
}

// Byte reads here: six table indices per pixel are cheaper loaded than
// shifted out of words.
void CombineDubois(uint8_t* __restrict d, const uint8_t* __restrict f,
                   const uint8_t* __restrict s, int n) {
  if (WideCombiner fast = wide.at[DuboisAnaglyph - AnaglyphRedCyan]) {
    int done = fast(d, f, s, n);
    d += 3 * done, f += 3 * done, s += 3 * done, n -= done;
  }
  const uint8_t* clamp = AnaglyphTables.clamp;
  for (int i = 0; i < n; ++i, d += 3, f += 3, s += 3) {
    uint64_t sum = duboisPacked[0][f[2]] + duboisPacked[1][f[1]] +
                   duboisPacked[2][f[0]] + duboisPacked[3][s[2]] +
                   duboisPacked[4][s[1]] + duboisPacked[5][s[0]];
    d[2] = clamp[(sum & kFieldMask) >> 10];
    d[1] = clamp[((sum >> kFieldBits) & kFieldMask) >> 10];
    d[0] = clamp[((sum >> (2 * kFieldBits)) & kFieldMask) >> 10];
  }
}

// Dubois into the window's 0xFFRRGGBB words: the AVX2 kernel stores them
// itself; the few pixels past it go through the table loop.
bool duboisWords = false;  // the kernel can, set with the tables

void CombineDuboisWords(uint32_t* d, const uint8_t* f, const uint8_t* s, int n) {
  int done = DuboisAvx2Words(d, f, s, n);
  uint8_t rest[3 * 16];
  while (done < n) {
    int k = std::min(16, n - done);
    CombineDubois(rest, f + 3 * done, s + 3 * done, k);
    for (int i = 0; i < k; ++i)
      d[done + i] = 0xFF000000u | uint32_t(rest[3 * i + 2]) << 16 |
                    uint32_t(rest[3 * i + 1]) << 8 | rest[3 * i];
    done += k;
  }
}

// Dubois straight from YUV rows: the wide kernel from where both rows
// are at a pixel pair's start, the rest converted a few pixels at a time.
void CombineDuboisYuvWords(uint32_t* d, const YuvRow& firstRow, int first,
                           const YuvRow& secondRow, int second, int n) {
  uint8_t f[3 * 16], s[3 * 16];
  auto convertAndMix = [&](int count) {
    ConvertYuvRow(firstRow, first, count, f);
    ConvertYuvRow(secondRow, second, count, s);
    CombineDuboisWords(d, f, s, count);
    d += count, first += count, second += count, n -= count;
  };
  if (n > 0 && first % 2 == 1 && second % 2 == 1) convertAndMix(1);
  if (first % 2 == 0 && second % 2 == 0) {
    int done = DuboisYuvAvx2Words(d, firstRow.FromPair(first / 2),
                                  secondRow.FromPair(second / 2), n);
    d += done, first += done, second += done, n -= done;
  }
  while (n > 0) convertAndMix(std::min(n, 16));
}

void CombineDuboisYuy2Words(uint32_t* d, const uint8_t* firstRow, int first,
                            const uint8_t* secondRow, int second, int n) {
  CombineDuboisYuvWords(d, Yuy2Row(firstRow), first, Yuy2Row(secondRow), second, n);
}

void CombineColorYellowBlue(uint8_t* d, const uint8_t* f, const uint8_t* s,
                            int n) {
  CombineRow(ColorAnaglyphYellowBlue, d, f, s, n, [](uint32_t F, uint32_t S) {
    return (S & 0xFFFF00u) | (F & 0x0000FFu);
  });
}

void CombineColorYellowBlueBlueCorrected(uint8_t* d, const uint8_t* f,
                                         const uint8_t* s, int n) {
  CombineRow(ColorAnaglyphYellowBlueBlueCorrected, d, f, s, n,
             [](uint32_t F, uint32_t S) { return (S & 0xFFFF00u) | Y2(F); });
}

// Indexed by format code - AnaglyphRedCyan.
constexpr RowCombiner kCombiners[] = {
    CombineRedCyan,          CombineRedGreen,
    CombineRedBlue,          CombineYellowBlue,
    CombineColorRedCyan,     CombineColorRedCyanRedCorrected,
    CombineDubois,           CombineColorYellowBlue,
    CombineColorYellowBlueBlueCorrected,
};
static_assert(std::size(kCombiners) == kFormatCount);

}  // namespace

void BuildAnaglyphTables() {
  for (int v = 0; v < 256; ++v) {
    for (int out = 0; out < 3; ++out)
      for (int input = 0; input < 6; ++input)
        AnaglyphTables.dubois[out][input][v] =
            Premultiplied(kDubois[out][input], v);
    for (int c = 0; c < 3; ++c)
      AnaglyphTables.luma[c][v] = Premultiplied(kLumaWeights[c], v);
  }
  for (int i = 0; i < 456; ++i)
    AnaglyphTables.clamp[i] = static_cast<uint8_t>(std::clamp(i - 100, 0, 255));
  PackDuboisTables();
#ifdef DUORAMIC_WIDE_ANAGLYPHS
  SplitTables();
#endif
  duboisWords = PrepareDuboisAvx2();
  tablesBuilt.store(true, std::memory_order_release);
}

RowCombiner RowCombinerOf(int format) {
  if (format < AnaglyphRedCyan || format > ColorAnaglyphYellowBlueBlueCorrected)
    return nullptr;
  return kCombiners[format - AnaglyphRedCyan];
}

RowWordCombiner RowWordCombinerOf(int format) {
  return format == DuboisAnaglyph && duboisWords ? CombineDuboisWords : nullptr;
}

Yuy2WordCombiner Yuy2WordCombinerOf(int format) {
  return format == DuboisAnaglyph && duboisWords ? CombineDuboisYuy2Words
                                                 : nullptr;
}

YuvWordCombiner YuvWordCombinerOf(int format) {
  return format == DuboisAnaglyph && duboisWords ? CombineDuboisYuvWords
                                                 : nullptr;
}

constexpr int kStripRows = 16;

// Stored rows [0, h) in strips, two bands at once when large: each strip's
// rows are converted (a movie frame's) just before `mix` takes them, while
// they are still in the cache.
template <typename Mix>
void InStrips(const RenderInput& in, int width, int h, Mix mix) {
  ForRowBands(h, int64_t{3} * width * h, [&](int top, int end) {
    for (int y = top; y < end; y += kStripRows) {
      int rows = std::min(kStripRows, end - y);
      if (in.fillRows) in.fillRows(y, y + rows);
      mix(y, rows);
    }
  });
}

// Unscaled, where the format has a row function into words: the mix goes
// straight into the window's buffer, with no composition to convert.
// `mixRow(destination, r, skip, count)` mixes `count` pixels of stored row
// r from column `skip` on.
template <typename MixRow>
void MixIntoWindow(RenderContext& ctx, const RenderInput& in,
                   const PictureView& first, const Rect& shown, MixRow mixRow) {
  PaintMargins(ctx, shown);
  int x0 = std::max(shown.x, 0);
  int x1 = std::min(shown.x + shown.width, ctx.fb.width);
  InStrips(in, first.width, first.height, [&](int y, int rows) {
    for (int r = y; r < y + rows && x0 < x1; ++r) {
      // Stored rows count from the bottom.
      int top = shown.y + first.height - 1 - r;
      if (top < 0 || top >= ctx.fb.height) continue;
      mixRow(ctx.fb.Row(top) + x0, r, x0 - shown.x, x1 - x0);
    }
  });
}

// Mixes stored rows [top, end) of the two views into the composition;
// large pictures in two bands at once.
void ComposeRows(uint8_t* block, const PictureView& first,
                 const PictureView& second, RowCombiner combine, int top,
                 int end) {
  ForRowBands(end - top, int64_t{3} * first.width * (end - top),
              [&](int from, int to) {
                for (int y = top + from; y < top + to; ++y)
                  combine(PictureRow(block, y), first.StoredRow(y),
                          second.StoredRow(y), first.width);
              });
}

// Composes at source resolution, then stretches the one picture to the
// display rectangle: mixing before scaling keeps each output pixel a mix of
// two source pixels at the same place.
void RenderAnaglyph(RenderContext& ctx, const RenderInput& in) {
  if (!tablesBuilt.load(std::memory_order_acquire)) BuildAnaglyphTables();
  RowCombiner combine = RowCombinerOf(ctx.format);
  if (!combine) combine = CombineDubois;
  const PictureView& first = FirstView(in, Viewer.SwapLR);
  const PictureView& second = SecondView(in, Viewer.SwapLR);
  Rect shown = LayoutSingle(ctx.client, ViewSizeOf(in));
  const int h = first.height;
  bool strips = !PanoramaOn(in) && shown.width == first.width && shown.height == h;
  if (YuvWordCombiner fromYuv =
          strips && in.yuv ? YuvWordCombinerOf(ctx.format) : nullptr) {
    // The frame is its YUV rows unchanged: each view's column there is its
    // pixel in them, and nothing needs converting first.
    RenderInput unconverted = in;
    unconverted.fillRows = nullptr;
    int firstAt = static_cast<int>((first.base - in.frame.base) / 3);
    int secondAt = static_cast<int>((second.base - in.frame.base) / 3);
    MixIntoWindow(ctx, unconverted, first, shown,
                  [&](uint32_t* d, int r, int skip, int n) {
                    YuvRow row = in.yuv.StoredRow(r);
                    fromYuv(d, row, firstAt + skip, row, secondAt + skip, n);
                  });
    return;
  }
  if (RowWordCombiner direct = strips ? RowWordCombinerOf(ctx.format) : nullptr) {
    MixIntoWindow(ctx, in, first, shown, [&](uint32_t* d, int r, int skip, int n) {
      size_t at = 3 * static_cast<size_t>(skip);
      direct(d, first.StoredRow(r) + at, second.StoredRow(r) + at, n);
    });
    return;
  }
  uint8_t* block = PrepareComposition(in, first.width, first.height);
  if (!block) return;
  PictureView composed = ViewOf(block);
  if (in.fillRows && !strips) in.fillRows(0, in.frame.height);
  if (PanoramaOn(in)) {
    ComposeRows(block, first, second, combine, 0, h);
    // Unscaled, from the top-left corner, panning across the client width.
    PaintMargins(ctx, {0, 0, std::min(composed.width, ctx.client.width),
                       composed.height});
    PanoramaLayer layer{composed, 0};
    ScrollPanorama(ctx, {&layer, 1}, ctx.client.width, 0);
  } else if (strips) {
    // Drawn unscaled (a movie at its own size): each strip is mixed and put
    // in the window's buffer while it is still in the cache.
    PaintMargins(ctx, shown);
    InStrips(in, first.width, h, [&](int y, int rows) {
      ComposeRows(block, first, second, combine, y, y + rows);
      int fromTop = h - y - rows;
      StretchDraw(ctx.fb, shown.x, shown.y + fromTop, shown.width, rows,
                  composed, 0, fromTop, composed.width, rows, ctx.mode);
    });
  } else {
    ComposeRows(block, first, second, combine, 0, h);
    PaintMargins(ctx, shown);
    StretchDraw(ctx.fb, shown.x, shown.y, shown.width, shown.height, composed,
                ctx.mode);
  }
  ReleaseComposition(in);
}

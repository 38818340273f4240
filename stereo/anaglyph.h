// Anaglyphs (9-17): both views mixed per pixel into one picture for glasses
// with coloured filters.  Every coefficient is pre-multiplied into tables, so
// the row functions only look values up and add them: no multiplication or
// floating point per pixel.
#pragma once

#include <algorithm>
#include <cstdint>

#include "stereo/movie_frame.h"

// Filled once by BuildAnaglyphTables.  Entry v of a table is v x k truncated
// toward zero, k being the coefficient x 1024 (10 fractional bits).
struct AnaglyphTableSet {
  // Dubois matrix: [output red, green, blue][input F.red, F.green, F.blue,
  // S.red, S.green, S.blue], signed like their coefficients.
  int32_t dubois[3][6][256];
  // Y2 luminance weights of red, green and blue.
  int32_t luma[3][256];
  // Indexed by floor(sum / 1024) + 100: 0 below, the value, 255 above.
  uint8_t clamp[456];
};

extern AnaglyphTableSet AnaglyphTables;

// Fills AnaglyphTables.  The shell calls it at start-up; the anaglyph
// renderer calls it itself when nobody did.
void BuildAnaglyphTables();

// Y1 luminance: r(0.299 v), r(0.587 v), r(0.114 v) rounded half up, and a
// clamp indexed by their sum plus 46 giving min(255, sum + 16).
struct LumaTableSet {
  uint8_t red[256];
  uint8_t green[256];
  uint8_t blue[256];
  uint8_t clamp[302];  // the sums run from 0 to 255
};

constexpr LumaTableSet MakeLumaTables() {
  LumaTableSet t{};
  for (int v = 0; v < 256; ++v) {
    // Exact thousandths, so halves round up without floating point doubt.
    t.red[v] = static_cast<uint8_t>((299 * v + 500) / 1000);
    t.green[v] = static_cast<uint8_t>((587 * v + 500) / 1000);
    t.blue[v] = static_cast<uint8_t>((114 * v + 500) / 1000);
  }
  for (int i = 0; i < 302; ++i)
    t.clamp[i] = static_cast<uint8_t>(std::clamp(i - 46 + 16, 0, 255));
  return t;
}

inline constexpr LumaTableSet LumaTables = MakeLumaTables();

// One anaglyph row: `count` pixels of B, G, R bytes from the first view's
// row (the left view unless swapped) and the second view's row.
using RowCombiner = void (*)(uint8_t* destination, const uint8_t* first,
                             const uint8_t* second, int count);

// The row function of an anaglyph format (9-17); null for other codes.
RowCombiner RowCombinerOf(int format);

// The same mix into 0xFFRRGGBB words, where a format has a fast one (Dubois
// on processors with AVX2); null otherwise.  Call after the tables are built.
using RowWordCombiner = void (*)(uint32_t* destination, const uint8_t* first,
                                 const uint8_t* second, int count);
RowWordCombiner RowWordCombinerOf(int format);

// The same from a movie frame's YUY2 rows, converted as ConvertYuy2Row does:
// `count` pixels of the first view from pixel `first` of its row and of the
// second from pixel `second`; null where the format has no such mix.
using Yuy2WordCombiner = void (*)(uint32_t* destination, const uint8_t* firstRow,
                                  int first, const uint8_t* secondRow,
                                  int second, int count);
Yuy2WordCombiner Yuy2WordCombinerOf(int format);
// The same from rows of any grabbed YUV layout, converted as ConvertYuvRow
// does.
using YuvWordCombiner = void (*)(uint32_t* destination, const YuvRow& firstRow,
                                 int first, const YuvRow& secondRow, int second,
                                 int count);
YuvWordCombiner YuvWordCombinerOf(int format);

#include "stereo/anaglyph.h"

#include <atomic>
#include <cmath>
#include <iterator>

#include "shell/viewer_state.h"
#include "stereo/panorama.h"
#include "stereo/present.h"

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

inline uint8_t Y1(const uint8_t* bgr) {
  const LumaTableSet& t = LumaTables;
  return t.clamp[t.red[bgr[2]] + t.green[bgr[1]] + t.blue[bgr[0]] + 46];
}

inline uint8_t Y2(const uint8_t* bgr) {
  const AnaglyphTableSet& t = AnaglyphTables;
  int32_t sum = t.luma[0][bgr[2]] + t.luma[1][bgr[1]] + t.luma[2][bgr[0]];
  return t.clamp[(sum + kClampBias) >> 10];
}

// Each combiner writes B, G, R per pixel; F is `first`, S is `second`.

void CombineRedCyan(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  for (int i = 0; i < n; ++i, d += 3, f += 3, s += 3) {
    uint8_t ys = Y1(s);
    d[0] = ys, d[1] = ys, d[2] = Y1(f);
  }
}

void CombineRedGreen(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  for (int i = 0; i < n; ++i, d += 3, f += 3, s += 3)
    d[0] = 0, d[1] = Y1(s), d[2] = Y1(f);
}

void CombineRedBlue(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  for (int i = 0; i < n; ++i, d += 3, f += 3, s += 3)
    d[0] = Y1(s), d[1] = 0, d[2] = Y1(f);
}

void CombineYellowBlue(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
  for (int i = 0; i < n; ++i, d += 3, f += 3, s += 3) {
    uint8_t ys = Y2(s);
    d[0] = Y2(f), d[1] = ys, d[2] = ys;
  }
}

void CombineColorRedCyan(uint8_t* d, const uint8_t* f, const uint8_t* s,
                         int n) {
  for (int i = 0; i < n; ++i, d += 3, f += 3, s += 3)
    d[0] = s[0], d[1] = s[1], d[2] = f[2];
}

void CombineColorRedCyanRedCorrected(uint8_t* d, const uint8_t* f,
                                     const uint8_t* s, int n) {
  for (int i = 0; i < n; ++i, d += 3, f += 3, s += 3)
    d[0] = s[0], d[1] = s[1], d[2] = Y1(f);
}

void CombineDubois(uint8_t* d, const uint8_t* f, const uint8_t* s, int n) {
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

void CombineColorYellowBlue(uint8_t* d, const uint8_t* f, const uint8_t* s,
                            int n) {
  for (int i = 0; i < n; ++i, d += 3, f += 3, s += 3)
    d[0] = f[0], d[1] = s[1], d[2] = s[2];
}

void CombineColorYellowBlueBlueCorrected(uint8_t* d, const uint8_t* f,
                                         const uint8_t* s, int n) {
  for (int i = 0; i < n; ++i, d += 3, f += 3, s += 3)
    d[0] = Y2(f), d[1] = s[1], d[2] = s[2];
}

// Indexed by format code - AnaglyphRedCyan.
constexpr RowCombiner kCombiners[] = {
    CombineRedCyan,          CombineRedGreen,
    CombineRedBlue,          CombineYellowBlue,
    CombineColorRedCyan,     CombineColorRedCyanRedCorrected,
    CombineDubois,           CombineColorYellowBlue,
    CombineColorYellowBlueBlueCorrected,
};
static_assert(std::size(kCombiners) ==
              ColorAnaglyphYellowBlueBlueCorrected - AnaglyphRedCyan + 1);

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
  tablesBuilt.store(true, std::memory_order_release);
}

RowCombiner RowCombinerOf(int format) {
  if (format < AnaglyphRedCyan || format > ColorAnaglyphYellowBlueBlueCorrected)
    return nullptr;
  return kCombiners[format - AnaglyphRedCyan];
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
  uint8_t* block = PrepareComposition(in, first.width, first.height);
  if (!block) return;
  for (int y = 0; y < first.height; ++y)
    combine(PictureRow(block, y), first.StoredRow(y), second.StoredRow(y),
            first.width);
  PictureView composed = ViewOf(block);
  if (PanoramaOn(in)) {
    // Unscaled, from the top-left corner, panning across the client width.
    PaintMargins(ctx, {0, 0, std::min(composed.width, ctx.client.width),
                       composed.height});
    PanoramaLayer layer{composed, 0};
    ScrollPanorama(ctx, {&layer, 1}, ctx.client.width, 0);
  } else {
    PaintMargins(ctx, shown);
    StretchDraw(ctx.fb, shown.x, shown.y, shown.width, shown.height, composed,
                ctx.mode);
  }
  ReleaseComposition(in);
}

// Sharp 3D LCD (20): the views interleaved on colour sub-pixels.  On an
// R-G-B stripe panel the parallax barrier shows sub-pixels 0, 2, 4 of every
// run of six to one eye and 3, 5, 7 to the other, so each pair of composed
// pixels carries one pixel of each view spread over those sub-pixels.
#include <algorithm>
#include <vector>

#include "core/viewer_state.h"
#include "stereo/present.h"

namespace {

constexpr int kMarkerWidth = 1600;
constexpr int kMarkerHeight = 10;

// For each source column, how many pixel pairs it feeds, so that exactly
// `pairs` pairs result.  Counts are ints: a narrow view at a high zoom feeds
// more than 255 pairs from one column.
std::vector<int> ColumnMap(int viewWidth, int pairs) {
  std::vector<int> map(viewWidth, 0);
  if (pairs > viewWidth) {
    for (int i = 0; i < viewWidth; ++i)
      map[i] = static_cast<int>((int64_t{i} + 1) * pairs / viewWidth -
                                int64_t{i} * pairs / viewWidth);
  } else {
    for (int k = 0; k < pairs; ++k)
      map[static_cast<int>(int64_t{k} * viewWidth / pairs)] = 1;
  }
  return map;
}

// The map spelled out: the byte offset of the source pixel of every pair.
std::vector<size_t> PairSources(const std::vector<int>& map) {
  std::vector<size_t> sources;
  for (size_t i = 0; i < map.size(); ++i)
    sources.insert(sources.end(), map[i], 3 * i);
  return sources;
}

// A pair is A.blue/A.red in its first pixel, B.blue, A.green, B.red in its
// second, and B.green in the green of the next pair's first pixel.  The row's
// first green has no pair before it and is 0; the last pair's B.green has no
// pixel to go to and is dropped.
void SubpixelRow(uint8_t* out, const uint8_t* a, const uint8_t* b,
                 const std::vector<size_t>& sources) {
  out[1] = 0;
  size_t last = sources.size() - 1;
  for (size_t q = 0; q <= last; ++q, out += 6) {
    const uint8_t* pa = a + sources[q];
    const uint8_t* pb = b + sources[q];
    out[0] = pa[0], out[2] = pa[2];
    out[3] = pb[0], out[4] = pa[1], out[5] = pb[2];
    if (q != last) out[7] = pb[1];
  }
}

}  // namespace

void CreateMarkerStrip() {
  Picture strip = CreatePicture(kMarkerWidth, kMarkerHeight, 24);
  if (strip) {
    // Stored row kMarkerHeight - 1 is the top row and stays black.
    for (int row = 0; row < kMarkerHeight - 1; ++row) {
      uint8_t* px = PictureRow(strip.get(), row);
      for (int x = 0; x < kMarkerWidth; ++x, px += 3)
        px[0] = 0, px[1] = 0, px[2] = 72;
    }
  }
  Presentation.MarkerStrip = std::move(strip);
}

void FreeMarkerStrip() { Presentation.MarkerStrip.reset(); }

void RenderSharp3dLcd(RenderContext& ctx, const RenderInput& in) {
  Rect shown = LayoutInterlaced(ctx.client, ViewSizeOf(in), true);
  // The first drawn column lands on an odd client column.
  if ((shown.x & 1) == 0) ++shown.x;
  const PictureView& a = Viewer.SwapLR ? in.left : in.right;
  const PictureView& b = Viewer.SwapLR ? in.right : in.left;
  int width = shown.width, viewWidth = in.left.width;
  int viewHeight = in.left.height;
  uint8_t* block = nullptr;
  if (width >= 2 && shown.height > 0 && viewWidth > 0 && viewHeight > 0)
    block = PrepareComposition(in, width, viewHeight);
  if (block) {
    std::vector<size_t> sources = PairSources(ColumnMap(viewWidth, width / 2));
    for (int y = 0; y < viewHeight; ++y)
      SubpixelRow(PictureRow(block, y), a.StoredRow(y), b.StoredRow(y),
                  sources);
  }
  PaintMargins(ctx, shown);
  if (block) {
    // Unsmoothed always: filtering would spill sub-pixels between views.
    StretchDraw(ctx.fb, shown.x, shown.y, width, shown.height, ViewOf(block),
                StretchMode::Nearest);
    ReleaseComposition(in);
  }
  if (Presentation.MarkerStrip)
    StretchDraw(ctx.fb, 0, ctx.client.height - kMarkerHeight, kMarkerWidth,
                kMarkerHeight, ViewOf(Presentation.MarkerStrip),
                StretchMode::Nearest);
}

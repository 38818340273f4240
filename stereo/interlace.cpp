// Row interlace (18) and column interlace (19): the views on alternate
// window rows or columns, for line- and column-polarised screens.  The
// composed picture is placed so that its parity on the screen is fixed: the
// left view always lands on odd client rows or columns (0 = top or left),
// since polarised screens fix which eye sees which line.
#include <cstring>
#include <vector>

#include "core/viewer_state.h"
#include "stereo/panorama.h"
#include "stereo/present.h"

namespace {

inline bool IsEven(int v) { return (v & 1) == 0; }

// Byte offset of the source column sampled by each pixel pair p of an
// interlaced row `width` pixels wide: (2 p x view width) / width.
std::vector<size_t> PairColumns(int viewWidth, int width) {
  std::vector<size_t> columns((width + 1) / 2);
  for (size_t p = 0; p < columns.size(); ++p)
    columns[p] = 3 * static_cast<size_t>(2 * int64_t(p) * viewWidth / width);
  return columns;
}

inline void CopyPixel(uint8_t* to, const uint8_t* from) {
  to[0] = from[0], to[1] = from[1], to[2] = from[2];
}

}  // namespace

// Pairs of stored rows take one source row each: the right view in the lower
// row of the pair, the left view in the upper one.  Only the width is scaled
// when drawing, so every composed row stays exactly one client row.
void RenderRowInterlace(RenderContext& ctx, const RenderInput& in) {
  Rect shown = LayoutInterlaced(ctx.client, ViewSizeOf(in), false);
  // The bottom composed row (right view) must land on an even client row.
  if (IsEven(shown.y + shown.height)) ++shown.y;
  const PictureView& lower = Viewer.SwapLR ? in.left : in.right;
  const PictureView& upper = Viewer.SwapLR ? in.right : in.left;
  int viewHeight = in.left.height, height = shown.height;
  if (height <= 0 || shown.width <= 0 || viewHeight <= 0) {
    PaintMargins(ctx, shown);
    return;
  }
  uint8_t* block = PrepareComposition(in, in.left.width, height);
  if (!block) return;
  size_t rowBytes = 3 * static_cast<size_t>(in.left.width);
  for (int row = 0; row < height; row += 2) {
    int source = static_cast<int>(int64_t{row} * viewHeight / height);
    std::memcpy(PictureRow(block, row), lower.StoredRow(source), rowBytes);
    if (row + 1 < height)
      std::memcpy(PictureRow(block, row + 1), upper.StoredRow(source), rowBytes);
  }
  PictureView composed = ViewOf(block);
  if (PanoramaOn(in)) {
    // Unscaled, panning across the client width at the same parity.
    PaintMargins(ctx, {0, shown.y, std::min(composed.width, ctx.client.width),
                       height});
    PanoramaLayer layer{composed, 0};
    ScrollPanorama(ctx, {&layer, 1}, ctx.client.width, shown.y);
  } else {
    PaintMargins(ctx, shown);
    StretchDraw(ctx.fb, shown.x, shown.y, shown.width, height, composed,
                ctx.mode);
  }
  ReleaseComposition(in);
}

// Each source row becomes one composed row of pixel pairs, left view first;
// the draw scales the height only, so columns keep their parity.
void RenderColumnInterlace(RenderContext& ctx, const RenderInput& in) {
  Rect shown = LayoutInterlaced(ctx.client, ViewSizeOf(in), false);
  // The left view (composed column 0) must land on an odd client column.
  if (IsEven(shown.x + shown.width)) ++shown.x;
  const PictureView& first = FirstView(in, Viewer.SwapLR);
  const PictureView& second = SecondView(in, Viewer.SwapLR);
  int width = shown.width, viewHeight = in.left.height;
  if (width <= 0 || shown.height <= 0 || viewHeight <= 0) {
    PaintMargins(ctx, shown);
    return;
  }
  uint8_t* block = PrepareComposition(in, width, viewHeight);
  if (!block) return;
  std::vector<size_t> columns = PairColumns(in.left.width, width);
  size_t pairs = static_cast<size_t>(width / 2);
  for (int y = 0; y < viewHeight; ++y) {
    uint8_t* out = PictureRow(block, y);
    const uint8_t* f = first.StoredRow(y);
    const uint8_t* s = second.StoredRow(y);
    for (size_t p = 0; p < pairs; ++p, out += 6) {
      CopyPixel(out, f + columns[p]);
      CopyPixel(out + 3, s + columns[p]);
    }
    if (width & 1) CopyPixel(out, f + columns[pairs]);
  }
  PaintMargins(ctx, shown);
  StretchDraw(ctx.fb, shown.x, shown.y, width, shown.height, ViewOf(block),
              ctx.mode);
  ReleaseComposition(in);
}

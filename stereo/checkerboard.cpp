// 3D DLP checkerboard (21): the views alternate pixel by pixel in both
// directions, as DLP televisions expect.  The composed picture is drawn 1:1
// and placed so that client pixels with x + y even show the right view.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/viewer_state.h"
#include "stereo/present.h"

namespace {

inline void CopyPixel(uint8_t* to, const uint8_t* from) {
  to[0] = from[0], to[1] = from[1], to[2] = from[2];
}

// One composed row of `count` pixels: pixel k shows source offset
// columns[k] of `even` or `odd`, by the parity of its column in the whole
// shown picture (`first` + k).
void CheckerRow(uint8_t* out, const uint8_t* even, const uint8_t* odd,
                const std::vector<size_t>& columns, int first, int count) {
  for (int k = 0; k < count; ++k, out += 3)
    CopyPixel(out, ((first + k) & 1 ? odd : even) + columns[k]);
}

}  // namespace

void RenderDlpCheckerboard(RenderContext& ctx, const RenderInput& in) {
  Rect shown = LayoutInterlaced(ctx.client, ViewSizeOf(in), false);
  if (((shown.x + shown.y) & 1) == 0) ++shown.x;
  const PictureView& right = Viewer.SwapLR ? in.left : in.right;
  const PictureView& left = Viewer.SwapLR ? in.right : in.left;
  int width = shown.width, height = shown.height;
  int viewWidth = in.left.width, viewHeight = in.left.height;
  if (width <= 0 || height <= 0 || viewWidth <= 0 || viewHeight <= 0) {
    PaintMargins(ctx, shown);
    return;
  }
  // Only the part of the shown picture inside the client is composed: at
  // high zoom the whole would pass the picture size limit, and the rest
  // would be clipped away anyway.
  int x0 = std::max(shown.x, 0), y0 = std::max(shown.y, 0);
  int x1 = static_cast<int>(std::min<int64_t>(int64_t{shown.x} + width, ctx.client.width));
  int y1 = static_cast<int>(std::min<int64_t>(int64_t{shown.y} + height, ctx.client.height));
  if (x1 <= x0 || y1 <= y0) {
    PaintMargins(ctx, shown);
    return;
  }
  int firstColumn = x0 - shown.x;             // in the shown picture
  int footRow = shown.y + height - y1;        // its stored rows count from the foot
  int visibleWidth = x1 - x0, visibleHeight = y1 - y0;
  uint8_t* block = PrepareComposition(in, visibleWidth, visibleHeight);
  if (!block) return;
  // Column i of the shown picture takes source column 2 (i / 2) of a view:
  // each pair of client pixels shows one source column in both views.
  std::vector<size_t> columns(visibleWidth);
  for (int k = 0; k < visibleWidth; ++k)
    columns[k] = 3 * static_cast<size_t>(
                         2 * int64_t((firstColumn + k) / 2) * viewWidth / width);
  for (int q = 0; q < visibleHeight; ++q) {
    int row = footRow + q;  // stored row of the shown picture
    int source = static_cast<int>(int64_t{row} * viewHeight / height);
    // Even stored rows start with the right view, odd ones with the left.
    const uint8_t* even = (row & 1) ? left.StoredRow(source) : right.StoredRow(source);
    const uint8_t* odd = (row & 1) ? right.StoredRow(source) : left.StoredRow(source);
    CheckerRow(PictureRow(block, q), even, odd, columns, firstColumn,
               visibleWidth);
  }
  PaintMargins(ctx, shown);
  // Unsmoothed always: any filtering would blend the two views.
  StretchDraw(ctx.fb, x0, y0, visibleWidth, visibleHeight, ViewOf(block),
              StretchMode::Nearest);
  ReleaseComposition(in);
}

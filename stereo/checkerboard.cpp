// 3D DLP checkerboard (21): the views alternate pixel by pixel in both
// directions, as DLP televisions expect.  The composed picture is drawn 1:1
// and placed so that client pixels with x + y even show the right view.
#include <vector>

#include "shell/viewer_state.h"
#include "stereo/present.h"

namespace {

inline void CopyPixel(uint8_t* to, const uint8_t* from) {
  to[0] = from[0], to[1] = from[1], to[2] = from[2];
}

// One composed row of `width` pixels: pair p takes source column columns[p]
// of view a, then of view b.
void CheckerRow(uint8_t* out, const uint8_t* a, const uint8_t* b,
                const std::vector<size_t>& columns, int width) {
  size_t pairs = static_cast<size_t>(width / 2);
  for (size_t p = 0; p < pairs; ++p, out += 6) {
    CopyPixel(out, a + columns[p]);
    CopyPixel(out + 3, b + columns[p]);
  }
  if (width & 1) CopyPixel(out, a + columns[pairs]);
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
  uint8_t* block = PrepareComposition(in, width, height);
  if (!block) return;
  std::vector<size_t> columns((width + 1) / 2);
  for (size_t p = 0; p < columns.size(); ++p)
    columns[p] = 3 * static_cast<size_t>(2 * int64_t(p) * viewWidth / width);
  for (int row = 0; row < height; row += 2) {
    int r0 = static_cast<int>(int64_t{row} * viewHeight / height);
    CheckerRow(PictureRow(block, row), right.StoredRow(r0), left.StoredRow(r0),
               columns, width);
    if (row + 1 >= height) break;
    int r1 = static_cast<int>(int64_t{row + 1} * viewHeight / height);
    CheckerRow(PictureRow(block, row + 1), left.StoredRow(r1),
               right.StoredRow(r1), columns, width);
  }
  PaintMargins(ctx, shown);
  // Unsmoothed always: any filtering would blend the two views.
  StretchDraw(ctx.fb, shown.x, shown.y, width, height, ViewOf(block),
              StretchMode::Nearest);
  ReleaseComposition(in);
}

// Side by side (0-3) and over/under (4-7): each view fitted into its half of
// the client, mirrored or flipped where the format says.  Both draw the whole
// client, as if into an off-screen bitmap copied to the window in one go, so
// their margins are always black.
#include <cstring>

#include "image/comment.h"
#include "core/viewer_state.h"
#include "stereo/panorama.h"
#include "stereo/present.h"
#include "stereo/text_overlay.h"

namespace {

bool MirrorsLeftHalf(int format) {
  return format == SideBySideMirrorLeft || format == SideBySideMirrorBoth;
}
bool MirrorsRightHalf(int format) {
  return format == SideBySideMirrorRight || format == SideBySideMirrorBoth;
}
bool FlipsTopHalf(int format) {
  return format == OverUnderMirrorTop || format == OverUnderMirrorBoth;
}
bool FlipsBottomHalf(int format) {
  return format == OverUnderMirrorBottom || format == OverUnderMirrorBoth;
}

// The movie paths write the comment once more at screen resolution into the
// band at the foot of each drawn view.
void DrawMovieComment(Framebuffer& fb, const Rect& drawn) {
  if (!Viewer.CommentOn || CurrentCommentEmpty() || Viewer.WidthMode != 0)
    return;
  int band = drawn.height * Viewer.CommentSize / (Viewer.CommentSize + 100);
  DrawCommentText(fb, {drawn.x, drawn.y + drawn.height - band, drawn.width, band});
}

}  // namespace


void RenderSideBySide(RenderContext& ctx, const RenderInput& in) {
  std::fill(ctx.fb.pixels.begin(), ctx.fb.pixels.end(), kBlack);
  Viewer.BackgroundDirty = false;
  int half = ctx.client.width / 2;
  const PictureView& first = FirstView(in, Viewer.SwapLR);
  const PictureView& second = SecondView(in, Viewer.SwapLR);
  // Only the side-by-side formats pan.
  if (PanoramaOn(in) && ctx.format <= SideBySideMirrorBoth) {
    // Both views pan together, unscaled and unmirrored, each in its half.
    const PanoramaLayer layers[] = {{first, 0}, {second, half}};
    ScrollPanorama(ctx, layers, half, 0);
    return;
  }
  Rect r = LayoutSideBySide(ctx.client, ViewSizeOf(in));
  for (int side = 0; side < 2; ++side) {
    const PictureView& view = side == 0 ? first : second;
    bool mirror = side == 0 ? MirrorsLeftHalf(ctx.format)
                            : MirrorsRightHalf(ctx.format);
    int x = side * half + r.x;
    if (mirror)
      StretchDraw(ctx.fb, x + r.width, r.y, -r.width, r.height, view, ctx.mode);
    else
      StretchDraw(ctx.fb, x, r.y, r.width, r.height, view, ctx.mode);
    if (in.movie) DrawMovieComment(ctx.fb, {x, r.y, r.width, r.height});
  }
}

void RenderOverUnder(RenderContext& ctx, const RenderInput& in) {
  std::fill(ctx.fb.pixels.begin(), ctx.fb.pixels.end(), kBlack);
  Viewer.BackgroundDirty = false;
  Rect r = LayoutOverUnder(ctx.client, ViewSizeOf(in));
  int halfH = ctx.client.height / 2;
  for (int side = 0; side < 2; ++side) {
    const PictureView& view = side == 0 ? FirstView(in, Viewer.SwapLR)
                                        : SecondView(in, Viewer.SwapLR);
    bool flip = side == 0 ? FlipsTopHalf(ctx.format) : FlipsBottomHalf(ctx.format);
    int y = side * halfH + r.y;
    if (flip)
      StretchDraw(ctx.fb, r.x, y + r.height, r.width, -r.height, view, ctx.mode);
    else
      StretchDraw(ctx.fb, r.x, y, r.width, r.height, view, ctx.mode);
  }
}

void RenderOneSide(RenderContext& ctx, const RenderInput& in) {
  const PictureView& view = FirstView(in, Viewer.SwapLR);
  Rect r = LayoutSingle(ctx.client, ViewSizeOf(in));
  PaintMargins(ctx, r);
  StretchDraw(ctx.fb, r.x, r.y, r.width, r.height, view, ctx.mode);
  if (in.movie) DrawMovieComment(ctx.fb, r);
}

void RenderSource(RenderContext& ctx, const RenderInput& in) {
  Rect r = LayoutSource(ctx.client, ViewSizeOf(in));
  if (in.movie) {
    PaintMargins(ctx, r);
    StretchDraw(ctx.fb, r.x, r.y, r.width, r.height, in.frame, ctx.mode);
    return;
  }
  // Two pictures, one in each half, never swapped.
  if (Viewer.BackgroundDirty) {
    std::fill(ctx.fb.pixels.begin(), ctx.fb.pixels.end(), kBlack);
    Viewer.BackgroundDirty = false;
  }
  int half = ctx.client.width / 2;
  StretchDraw(ctx.fb, r.x, r.y, r.width, r.height, in.left, ctx.mode);
  StretchDraw(ctx.fb, half + r.x, r.y, r.width, r.height, in.right, ctx.mode);
}

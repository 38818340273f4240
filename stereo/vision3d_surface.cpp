#include "stereo/vision3d_surface.h"

#include <algorithm>

#include "core/viewer_state.h"
#include "stereo/movie_views.h"
#include "stereo/text_overlay.h"

Vision3dState Vision3d;

void WriteStereoSignature(Framebuffer& surface, int eyeWidth, int eyeHeight) {
  uint32_t* row = surface.Row(surface.height - 1);
  std::fill(row, row + surface.width, 0xFFFFFFFFu);
  const uint32_t fields[] = {kStereoSignature, uint32_t(2 * eyeWidth),
                             uint32_t(eyeHeight), kStereoSignatureBits,
                             kStereoSignatureFlags};
  // Pixels are stored as little-endian words, so each field lands in the
  // row byte for byte as the driver reads it.
  std::copy(fields, fields + std::min(5, surface.width), row);
}

bool CreateStereoSurface() {
  ReleaseStereoSurface();
  int w = Vision3d.EyeWidth, h = Vision3d.EyeHeight;
  if (w < 1 || h < 1) return false;
  Vision3d.StereoSurface.Resize(2 * w, h + 1);
  std::fill(Vision3d.StereoSurface.pixels.begin(),
            Vision3d.StereoSurface.pixels.end(), kBlack);
  WriteStereoSignature(Vision3d.StereoSurface, w, h);
  Vision3d.SurfaceNeeded = false;
  Viewer.BackgroundDirty = true;
  return true;
}

void ReleaseStereoSurface() {
  Vision3d.StereoSurface = Framebuffer();
}

void ShowStereoSurface(StereoDriver& driver, const Framebuffer& surface,
                       int eyeWidth, int eyeHeight) {
  if (surface.width < 2 * eyeWidth || surface.height <= eyeHeight) return;
  EyeImage eye{surface.Row(0), static_cast<size_t>(surface.width), eyeWidth,
               eyeHeight};
  driver.DrawEye(StereoEye::Left, eye);
  eye.pixels += eyeWidth;
  driver.DrawEye(StereoEye::Right, eye);
  driver.Swap();
}

namespace {

// Draws the two views centred in their halves, fitted as side by side
// within one eye's picture; the left view goes left unless swapped.
void DrawEyes(Framebuffer& surface, const PictureView& left,
              const PictureView& right, const ViewSize& size) {
  int w = Vision3d.EyeWidth, h = Vision3d.EyeHeight;
  if (Viewer.BackgroundDirty) {
    FillRect(surface, 0, 0, 2 * w, h, kBlack);  // never the signature row
    Viewer.BackgroundDirty = false;
  }
  Rect r = LayoutSideBySide(ClientSize{2 * w, h}, size);
  const PictureView& first = Viewer.SwapLR ? right : left;
  const PictureView& second = Viewer.SwapLR ? left : right;
  // Side-by-side fitting keeps the drawing within one eye's picture, so
  // nothing reaches the signature row.
  StretchDraw(surface, r.x, r.y, r.width, r.height, first, StretchMode::Nearest);
  StretchDraw(surface, w + r.x, r.y, r.width, r.height, second,
              StretchMode::Nearest);
}

}  // namespace

int PresentStereoFrame(const RenderInput& in) {
  if (Vision3d.SurfaceNeeded || Vision3d.StereoSurface.width == 0)
    if (!CreateStereoSurface()) return 1;
  Framebuffer& surface = Vision3d.StereoSurface;
  if (!in.left) return 1;
  if (!in.movie) {
    DrawEyes(surface, in.left, in.right, ViewSizeOf(in));
  } else {
    MovieEyeViews views = CutMovieViews(in.frame, Viewer.WidthMode);
    if (views) {
      ViewSize size;
      size.a = views.left.width;
      size.b = views.fitHeight;
      size.movie = true;
      size.fitWidth = views.fitWidth;
      size.frameWidth = in.frame.width;
      DrawEyes(surface, views.left, views.right, size);
    }
  }
  DrawHelpOverlay(surface);
  // On a surface lower than the overlay's text the signature is written
  // again: the driver must always find it.
  WriteStereoSignature(surface, Vision3d.EyeWidth, Vision3d.EyeHeight);
  if (Vision3d.driver)
    ShowStereoSurface(*Vision3d.driver, surface, Vision3d.EyeWidth,
                      Vision3d.EyeHeight);
  return 1;
}

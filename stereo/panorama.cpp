#include "stereo/panorama.h"

#include <algorithm>

#include "core/viewer_state.h"

namespace {

constexpr uint64_t kPassMs = 20000;  // one wrap-around pass
constexpr uint64_t kSteps = 7200;    // positions per pass

// Columns [o, o + visible) of the layer's picture at the left edge of its
// area.  Wrap-around continues with column 0 after the picture's last
// column (repeating it should the area be wider than the picture); back
// and forth never runs past the end, and a picture narrower than the area
// leaves the rest of the area as it was.
void DrawLayer(RenderContext& ctx, const PanoramaLayer& layer, int offset,
               int visibleWidth, int y, bool wrap) {
  const PictureView& view = layer.view;
  int x = 0;
  int column = offset;
  while (x < visibleWidth) {
    int run = std::min(visibleWidth - x, view.width - column);
    if (run <= 0) break;
    StretchDraw(ctx.fb, layer.areaX + x, y, run, view.height, view, column, 0,
                run, view.height, StretchMode::Nearest);
    x += run;
    if (!wrap) break;
    column = 0;
  }
}

}  // namespace

bool PanoramaOn(const RenderInput& in) {
  return !in.movie && Viewer.ActualSizeToggle >= 1;
}

int PanoramaOffset(int mode, uint32_t elapsedMs, int width, int visibleWidth) {
  if (width <= 0) return 0;
  if (mode <= 1) {
    uint64_t step = (elapsedMs % kPassMs) * kSteps / kPassMs;
    return static_cast<int>(step * static_cast<uint64_t>(width) / kSteps);
  }
  // Back and forth at 360 columns a second: out to the end, then back.
  int64_t reach = int64_t{width} - visibleWidth;
  int64_t span = 2 * reach;
  if (span <= 0) return 0;  // the picture fits: nothing to scroll
  int64_t o = static_cast<int64_t>(uint64_t{elapsedMs} * kSteps / kPassMs) % span;
  if (o > reach) o = span - o;
  return static_cast<int>(o);
}

void ScrollPanorama(RenderContext& ctx, std::span<const PanoramaLayer> layers,
                    int visibleWidth, int y) {
  PresentationHost& host = Host();
  host.DiscardKeyDowns();
  uint32_t start = host.NowMs();
  int mode = std::max(Viewer.ActualSizeToggle, 1);
  // Full screen scrolls until a key is pressed; a window shows one step.
  do {
    if (host.KeyWaiting()) break;
    uint32_t elapsed = host.NowMs() - start;
    for (const PanoramaLayer& layer : layers) {
      if (!layer.view || layer.view.width < 1) continue;
      int offset = PanoramaOffset(mode, elapsed, layer.view.width, visibleWidth);
      DrawLayer(ctx, layer, offset, visibleWidth, y, mode == 1);
    }
    host.Flush(ctx.fb);
  } while (Viewer.FullScreen);
}

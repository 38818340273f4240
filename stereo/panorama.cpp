#include "stereo/panorama.h"

#include <algorithm>

#include "shell/viewer_state.h"

bool PanoramaOn(const RenderInput& in) {
  return !in.movie && Viewer.ActualSizeToggle >= 1;
}

int PanoramaOffset(int, uint32_t, int, int) { return 0; }

// Draws the first step only; the scrolling loop replaces it.
void ScrollPanorama(RenderContext& ctx, std::span<const PanoramaLayer> layers,
                    int visibleWidth, int y) {
  for (const PanoramaLayer& layer : layers) {
    int w = std::min(visibleWidth, layer.view.width);
    StretchDraw(ctx.fb, layer.areaX, y, w, layer.view.height, layer.view, 0, 0,
                w, layer.view.height, StretchMode::Nearest);
  }
}

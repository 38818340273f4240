// Panorama scrolling: a still picture wider than the window pans slowly
// instead of being drawn once.  Side by side, anaglyphs and row interlace
// use it when ActualSizeToggle is 1 (wrap-around) or 2+ (back and forth).
#pragma once

#include <span>

#include "stereo/present.h"

// Whether the renderer should scroll instead of drawing once.
bool PanoramaOn(const RenderInput& in);

// One picture to scroll and where its visible area starts in the client.
struct PanoramaLayer {
  PictureView view;
  int areaX = 0;
};

// Scrolls the layers together, each unscaled in a visible area
// `visibleWidth` wide starting at its areaX, with the picture's top at y.
// Loops (flushing each step) while FullScreen is set, until a key is
// pressed; in a window it draws once.  Waiting key-downs are dropped first.
// Time and keys come from Host(); a host that puts the framebuffer on the
// screen paces the loop in Flush.
void ScrollPanorama(RenderContext& ctx, std::span<const PanoramaLayer> layers,
                    int visibleWidth, int y);

// The horizontal offset after `elapsedMs` for a picture `width` wide shown
// in `visibleWidth` columns, in mode ActualSizeToggle: 1 passes the whole
// width once every 20 seconds and starts over; 2 and above pan to the end
// and back at 360 columns a second.
int PanoramaOffset(int mode, uint32_t elapsedMs, int width, int visibleWidth);

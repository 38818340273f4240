// A first look at the first item of a start-up: when a JPEG-based stereo
// still is at least twice the size it is shown at, libjpeg's scaled DCT
// decodes it at 1/2, 1/4 or 1/8 of its size several times faster than a
// whole decode, and the window draws that at once.  The exact item (what
// PrepareItem reads, the picture every later step works on) replaces it as
// soon as it is ready; the first look is never kept.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shell/item_prefetch.h"

// The reduction a first look of a `width` x `height` picture decodes at,
// fitted to `fitWidth` x `fitHeight`: the largest of 2, 4 and 8 that still
// leaves at least the fitted size to scale down from, or 1 (no first look)
// when the fitted size is more than half the picture's.
int FirstLookDenominator(int width, int height, int fitWidth, int fitHeight);

// The first look of an item as PrepareItem would read it, scaled and with
// its comment and parallax, the views not yet placed for the floating
// window.  Any thread; touches neither Viewer nor CurrentComment.  False
// when no first look is to be had: automatic alignment or panorama mode on,
// a file that is no JPEG (or no stereo MPO), or one too small to gain.
bool ReadFirstLook(const ItemRequest& request, PreparedItem& look);

// ReadFirstLook on an MPO already in memory, for the fuzzer.
bool ReadFirstLookMpo(const uint8_t* data, size_t size,
                      const FitSettings& fit, PreparedItem& look);

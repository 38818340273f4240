// Movies whose views do not sit left then right in the frame: over/under
// (top-bottom or bottom-top), right-left, and a spatial video's one eye.
// Each frame is rearranged into the side-by-side frame every stereo format,
// step, seek and frame copy already reads: one copy of the frame, in its
// own pixel layout (RGB24, YUY2 or 4:2:0 planes), no colour conversion.
#pragma once

#include "stereo/movie_frame.h"

enum class FrameArrangement {
  AsIs,        // side by side, left view first: nothing to do
  SwapHalves,  // side by side, right view first
  OverUnder,   // left view on top
  UnderOver,   // right view on top
  Mono,        // one eye: shown to both, flat
};

// The side-by-side frame made from `in`; false (and `out` untouched) for
// AsIs, an unusable frame or when memory runs out.  The pixels are owned
// by `out.owner`.  YUV halves start on a whole pixel pair and 4:2:0 halves
// on an even row, so an odd width or height loses its last column or row.
bool ArrangeSideBySide(const GrabbedFrame& in, FrameArrangement how,
                       GrabbedFrame& out);

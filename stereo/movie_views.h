// The two eye views of a movie display frame, cut by the width mode the way
// the shutter-glasses and two-panel outputs read it: the frame's halves
// (0, 5, 6), its lower and upper stored rows (1, 4), a line-doubled copy's
// halves (2), or the outer 47.5 % of the rows each with the middle 5 %
// shown to neither eye (3).  Rows are stored rows, bottom-up, as a drawing
// call's source rectangle counts them in a bottom-up picture.
#pragma once

#include "core/picture.h"
#include "stereo/framebuffer.h"

struct MovieEyeViews {
  PictureView left;
  PictureView right;
  int fitWidth = 0;   // the view width the fit uses
  int fitHeight = 0;  // and the height (the frame height)
  Picture doubled;    // width mode 2: the copy both views point into
  explicit operator bool() const { return left && right; }
};

// Empty (no views) for width modes outside 0..6 or an empty frame.
MovieEyeViews CutMovieViews(const PictureView& frame, int widthMode);

// Width mode 2's copy: w x 2h, stored row 2k = frame row k, row 2k + 1 the
// bytewise average of frame rows k and k + 1, the last two rows both the
// last frame row.  Null when memory runs out.
Picture LineDoubledCopy(const PictureView& frame);

// The viewer's automatic alignment: the views of a freshly read item lined
// up, and their nearest content brought to the screen plane, before they
// are fitted to the screen.  Plain C++ over pictures, run on the read-ahead
// thread.
#pragma once

#include <string>

#include "align/alignment.h"
#include "core/picture.h"

// What is asked of an item's views.
struct AlignChoice {
  bool correct = false;   // line the views up (rotation, height, size)
  bool converge = false;  // shift them so that the nearest content has no
                          // disparity on screen
};

// What was done, said twice: one line for the log, and a short text for
// the title (empty when there is nothing to tell).
struct AlignOutcome {
  std::string log;
  std::string title;
  bool changed = false;  // the views were replaced
};

// A pair: measured, and replaced by the corrected and/or shifted pair when
// the measurement succeeds; left as read otherwise.  `cameraParallax`: the
// views were already lined up by the parallax the camera recorded, which
// then decides their depth and no convergence shift is made.
AlignOutcome AlignPairForDisplay(Picture& left, Picture& right,
                                 AlignChoice choice, bool cameraParallax);

// A side-by-side still: its halves handled as a pair and joined again.
AlignOutcome AlignSideBySideForDisplay(Picture& picture, AlignChoice choice);

// The horizontal shift that puts the nearest matched content (the 2nd
// percentile of the disparity x_right - x_left) at the screen plane, as
// the camera parallax is applied: the left view cut by CropPicture(left,
// s, 0), the right by CropPicture(right, -s, 0).  The views then differ by
// d - s at a point of disparity d.
int ConvergenceShift(const Alignment& a);


// The viewer's automatic alignment: the views of a freshly read item lined
// up before they are fitted to the screen.  Plain C++ over pictures, run on
// the read-ahead thread.
#pragma once

#include <string>

#include "core/picture.h"

// A pair: measured, and replaced by the corrected pair when the
// measurement succeeds; left as read otherwise.  Returns a one-line note of
// the correction made, or of why none was.
std::string AlignPairForDisplay(Picture& left, Picture& right);

// A side-by-side still: its halves lined up and joined again.
std::string AlignSideBySideForDisplay(Picture& picture);

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/picture.h"

// Decodes both views of a multi-picture file and lines them up by the
// camera's recorded parallax (ParallaxShiftX/Y).  Returns 1 and fills both
// slots, or 0 and stores nothing.
int LoadMpoFile(const std::string& path, Picture& left, Picture& right);
int LoadMpoData(const uint8_t* data, size_t size, Picture& left,
                Picture& right);

// The two views and the shifts they were lined up by, for code that must
// not touch the process-wide ParallaxShiftX/Y (a background decode).  Both
// views are decoded at once on two threads; the comment is read as
// LoadMpoData reads it.  False, with a reason noted, when the file is not a
// stereo MPO.
struct MpoViews {
  Picture left;
  Picture right;
  int shiftX = 0;
  int shiftY = 0;
};
bool DecodeMpoViews(const uint8_t* data, size_t size, MpoViews& views);
bool ReadMpoFileViews(const std::string& path, MpoViews& views);

// DecodeMpoViews at 1/`denominator` (1, 2, 4 or 8) of the size, for
// measuring the views rather than showing them; the shifts stay in pixels
// of the full size, the crops are the shifts divided by `denominator`.
bool DecodeMpoViewsReduced(const uint8_t* data, size_t size, int denominator,
                           MpoViews& views);

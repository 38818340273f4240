// The fit-to-size scaler: a picture fitted, aspect kept, into a black
// canvas of a chosen size.  The pair fitting of the loaders uses it.
#pragma once

#include <cstdint>

#include "core/picture.h"

// A new 24-bit a x b picture, black, holding `picture` scaled with its
// aspect kept and centred.  a or b 0 stands for the picture's own width or
// height.  Enlargement is bilinear, reduction averages the covered area.
// Null when the input is missing, a size is not allowed or memory runs out.
Picture ScaleToFit(const uint8_t* picture, int a, int b);
inline Picture ScaleToFit(const Picture& picture, int a, int b) {
  return ScaleToFit(picture.get(), a, b);
}

// Where the scaled picture lands inside the a x b canvas: stored rows are
// counted from the bottom, like every row of a picture.
struct FittedPlacement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The fitted size of a w x h picture in an a x b canvas (all at least 1)
// and its centred offsets.
FittedPlacement FitPlacement(int w, int h, int a, int b);

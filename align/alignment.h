// How the right view of a stereo pair is misaligned against the left one,
// measured from matched features, and the correction that lines the two up
// row by row.
//
// Coordinates are pixels of the full-size views, x to the right, y down,
// c the centre of the left view.  A point (x, y) of the left view appears in
// the right view at height
//   y' = c_y + scale * ((x - c_x) sin(rotation) + (y - c_y) cos(rotation))
//        + verticalPx
// Horizontal differences are depth: only heights decide the correction, and
// the correction never shifts the right view sideways.
#pragma once

#include <string>

#include "core/picture.h"

struct Alignment {
  bool measured = false;     // false: the pair is to be left as it is
  std::string failure;       // why it was not measured, for the user
  double rotationDeg = 0;
  double verticalPx = 0;
  double scale = 1;
  // Horizontal disparity (x_right - x_left after the correction) of the
  // matched points: 2nd and 98th percentile.
  double disparityMinPx = 0;
  double disparityMaxPx = 0;
  int matches = 0;           // matches the fit kept (inliers)
  double residualPx = 0;     // their RMS height error after the fit
  double confidence = 0;     // 0..1, see MeasureAlignment
};

// The measurement works on copies reduced by a whole factor to about this
// size on their longer side: views decoded smaller (libjpeg's scaled
// decoding) measure as well and much sooner.
constexpr int kAlignmentSide = 1000;

// Measures the pair from ratio-tested ORB matches on reduced grey copies, a
// RANSAC fit of the height model above, and a sub-pixel refinement of the
// kept matches.  `measured` is false, with the reason, when the pair is too
// flat or too different to measure (too few matches, matches all in one
// corner, or an answer beyond what a stereo rig produces); the other fields
// are then those of "no correction".  Both pictures must be 24-bit.
Alignment MeasureAlignment(const Picture& left, const Picture& right);

// An alignment measured on views reduced by `factor` (pixel i of the
// reduced view covering pixels [i f, (i + 1) f) of the full one), in pixels
// of the full views: offsets and disparities grow by the factor, rotation
// and scale are those of the full views already.
Alignment ScaledAlignment(const Alignment& reduced, double factor);

// Where the right view is sampled for pixel (x, y) of the corrected right
// view (full-size coordinates, centre from a left view of the given size).
struct SamplePoint {
  double x;
  double y;
};
SamplePoint CorrectedToRight(const Alignment& a, int width, int height,
                             double x, double y);
// The inverse: where a right-view point lands in the corrected right view.
SamplePoint RightToCorrected(const Alignment& a, int width, int height,
                             double x, double y);

// A rectangle of pixels, top-down (y = 0 the top row).
struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The largest rectangle with the left view's aspect whose every pixel is a
// pixel of the left view and samples inside the right view after the
// correction.  Width or height 0 when there is none.
PixelRect CommonRectangle(const Alignment& a, int leftWidth, int leftHeight,
                          int rightWidth, int rightHeight);

// The corrected pair: the right view warped (bilinear) by the inverse of the
// measured misalignment and both views cut to CommonRectangle, so that a
// point sits on the same row in both.  False (outputs empty) when `a` is not
// measured, the rectangle is empty or memory runs out.
bool CorrectPair(const Picture& left, const Picture& right, const Alignment& a,
                 Picture& leftOut, Picture& rightOut);

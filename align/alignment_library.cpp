// Built only into libduoramic_autoalign.so, together with the measurement,
// the correction and its own copy of the picture functions (pictures are
// plain heap blocks, freed alike on either side).
#include "align/alignment_library.h"

extern "C" __attribute__((visibility("default"))) bool DuoramicAlignPair(
    const Picture* left, const Picture* right, Alignment* a,
    Picture* leftOut, Picture* rightOut) {
  *a = MeasureAlignment(*left, *right);
  return a->measured && CorrectPair(*left, *right, *a, *leftOut, *rightOut);
}

extern "C" __attribute__((visibility("default"))) bool DuoramicMeasurePair(
    const Picture* left, const Picture* right, Alignment* a) {
  *a = MeasureAlignment(*left, *right);
  return a->measured;
}

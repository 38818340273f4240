// The MPO reader on arbitrary bytes: the MPF and maker-note scans, the
// parallax entries and their offsets, both decodes and the crops, whole
// and reduced.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "image/comment.h"
#include "image/mpo_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ClearCurrentComment();
  ParallaxShiftX = ParallaxShiftY = 0;
  Picture left, right;
  if (LoadMpoData(data, size, left, right)) {
    if (!left || !right) __builtin_trap();
    TouchPicture(left);
    TouchPicture(right);
  } else if (left || right) {
    __builtin_trap();
  }
  // The reduced decoding alignment measures from.
  MpoViews reduced;
  if (DecodeMpoViewsReduced(data, size, 4, reduced)) {
    if (!reduced.left || !reduced.right) __builtin_trap();
    TouchPicture(reduced.left);
    TouchPicture(reduced.right);
  }
  return 0;
}

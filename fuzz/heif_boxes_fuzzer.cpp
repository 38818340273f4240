// The HEIF box walker on arbitrary bytes: ftyp, meta, the stereo groups,
// the property list and its associations, the camera properties; then the
// spatial-photo reader over it (libheif decoding what the walk names).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "image/heif_boxes.h"
#include "image/stereo_still.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HeifBoxes boxes;
  if (ReadHeifBoxes(data, size, boxes)) {
    fuzzSink = static_cast<uint8_t>(boxes.cameras.size() + boxes.primaryId);
    if (boxes.leftId && !boxes.rightId) __builtin_trap();
  }
  StereoStill still;
  if (DecodeStereoStill(data, size, still)) {
    TouchPicture(still.left);
    TouchPicture(still.right);
    if (!still.left || !still.right) __builtin_trap();
  }
  return 0;
}

// The MPO reader on arbitrary bytes: the MPF and maker-note scans, the
// parallax entries and their offsets, both decodes and the crops.
#include <cstddef>
#include <cstdint>

#include "image/comment.h"
#include "image/mpo_reader.h"
#include "image/picture.h"

namespace {

volatile uint8_t sink;

void Touch(const Picture& picture) {
  const BitmapInfoHeader* h = PictureHeader(picture);
  if (h->biBitCount != 24) __builtin_trap();
  const uint8_t* pixels = PicturePixels(picture);
  uint8_t sum = pixels[h->biSizeImage - 1];
  for (uint32_t k = 0; k < h->biSizeImage; k += 61) sum ^= pixels[k];
  sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetPixelLimit(uint64_t{1} << 22);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ClearCurrentComment();
  ParallaxShiftX = ParallaxShiftY = 0;
  Picture left, right;
  if (LoadMpoData(data, size, left, right)) {
    if (!left || !right) __builtin_trap();
    Touch(left);
    Touch(right);
  } else if (left || right) {
    __builtin_trap();
  }
  return 0;
}

// The TIFF reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "image/picture.h"
#include "image/tiff_reader.h"

namespace {

volatile uint8_t sink;

// Reads the picture's first and last pixel bytes, so that a block shorter
// than its header says shows up under AddressSanitizer.
void Touch(const Picture& picture) {
  const BitmapInfoHeader* h = PictureHeader(picture);
  int bits = h->biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) __builtin_trap();
  size_t bytes = size_t(RowStride(PictureWidth(picture), bits)) *
                 size_t(PictureHeight(picture));
  if (h->biSizeImage != bytes) __builtin_trap();
  sink = PicturePixels(picture)[0] ^ PicturePixels(picture)[bytes - 1];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Large announced sizes would only slow the search down.
  SetPixelLimit(uint64_t{1} << 22);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Picture picture = DecodeTiffData(data, size);
  if (picture) Touch(picture);
  return 0;
}

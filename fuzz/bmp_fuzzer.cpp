// The BMP reader on arbitrary bytes, followed by ConvertTo24 without a size
// as the loader calls it, so a block the reader lays out wrongly shows up;
// and ConvertTo24 bounded by the input's size on the raw bytes.
#include <cstddef>
#include <cstdint>

#include "image/bmp_reader.h"
#include "image/picture.h"

namespace {

volatile uint8_t sink;

// Reads every row of a 24-bit picture.
void Touch(const Picture& picture) {
  if (!picture) return;
  if (PictureBits(picture) != 24) __builtin_trap();
  size_t bytes = static_cast<size_t>(RowStride(PictureWidth(picture), 24)) *
                 PictureHeight(picture);
  const uint8_t* pixels = PicturePixels(picture);
  uint8_t sum = pixels[bytes - 1];
  for (size_t k = 0; k < bytes; k += 61) sum ^= pixels[k];
  sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetPixelLimit(uint64_t{1} << 22);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (Picture picture = DecodeBmpData(data, size)) {
    if (PictureBits(picture) == 24) {
      Touch(picture);
    } else {
      Picture converted = ConvertTo24(picture);
      if (!converted || PictureWidth(converted) != PictureWidth(picture) ||
          PictureHeight(converted) != PictureHeight(picture))
        __builtin_trap();
      Touch(converted);
    }
  }
  if (size >= 40) Touch(ConvertTo24(data, size));
  return 0;
}

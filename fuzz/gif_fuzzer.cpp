// The GIF reader on arbitrary bytes, followed by ConvertTo24 as the loader
// calls it.
#include <cstddef>
#include <cstdint>

#include "image/comment.h"
#include "image/gif_reader.h"
#include "image/picture.h"

namespace {

volatile uint8_t sink;

void Touch(const Picture& picture) {
  if (!picture) return;
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
  ClearCurrentComment();
  Picture picture = DecodeGifData(data, size);
  if (!picture) return 0;
  int bits = PictureBits(picture);
  if (bits != 1 && bits != 4 && bits != 8) __builtin_trap();
  Picture converted = ConvertTo24(picture);
  if (!converted) __builtin_trap();
  Touch(converted);
  return 0;
}

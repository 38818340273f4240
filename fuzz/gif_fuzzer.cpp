// The GIF reader on arbitrary bytes, followed by ConvertTo24 as the loader
// calls it.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "image/comment.h"
#include "image/gif_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
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
  TouchPicture(converted);
  return 0;
}

// The BMP reader on arbitrary bytes, followed by ConvertTo24 without a size
// as the loader calls it, so a block the reader lays out wrongly shows up;
// and ConvertTo24 bounded by the input's size on the raw bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "image/bmp_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (Picture picture = DecodeBmpData(data, size)) {
    if (PictureBits(picture) == 24) {
      TouchPicture(picture);
    } else {
      Picture converted = ConvertTo24(picture);
      if (!converted || PictureWidth(converted) != PictureWidth(picture) ||
          PictureHeight(converted) != PictureHeight(picture))
        __builtin_trap();
      TouchPicture(converted);
    }
  }
  if (size >= 40) TouchPicture(ConvertTo24(data, size));
  return 0;
}

// The PNG reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "image/png_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Picture picture = DecodePngData(data, size);
  if (picture) TouchPicture(picture);
  return 0;
}

// The JPEG reader on arbitrary bytes: the comment walk, the decoder from
// memory, and the cropping decoder that reads the first two bytes as FF D8.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "image/comment.h"
#include "image/jpeg_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ClearCurrentComment();
  ReadJpegCommentData(data, size);
  ClearCurrentComment();
  TouchPicture(DecodeJpegData(data, size));
  ClearCurrentComment();
  // The MPO reader's way: the first two bytes read as FF D8, and a crop
  // taken from the input's last bytes.
  int dx = 0, dy = 0;
  if (size >= 4) {
    dx = static_cast<int8_t>(data[size - 1]) * (data[size - 3] & 15);
    dy = static_cast<int8_t>(data[size - 2]) * (data[size - 4] & 15);
  }
  TouchPicture(DecodeJpegStream({data, size, true}, dx, dy));
  return 0;
}

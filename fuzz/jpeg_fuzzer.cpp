// The JPEG reader on arbitrary bytes: the comment walk, the decoder from
// memory, and the cropping decoder that reads the first two bytes as FF D8.
#include <cstddef>
#include <cstdint>

#include "image/comment.h"
#include "image/jpeg_reader.h"
#include "image/picture.h"

namespace {

volatile uint8_t sink;

// Reads every pixel byte, so that a picture block shorter than its header
// says shows up under AddressSanitizer.
void Touch(const Picture& picture) {
  if (!picture) return;
  const BitmapInfoHeader* h = PictureHeader(picture);
  if (h->biSize != 40 || h->biBitCount != 24 ||
      h->biSizeImage !=
          static_cast<uint32_t>(RowStride(PictureWidth(picture), 24)) *
              PictureHeight(picture))
    __builtin_trap();
  const uint8_t* pixels = PicturePixels(picture);
  uint8_t sum = pixels[h->biSizeImage - 1];
  for (uint32_t k = 0; k < h->biSizeImage; k += 61) sum ^= pixels[k];
  sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Keeps a hostile header from asking for gigabytes.
  SetPixelLimit(uint64_t{1} << 22);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ClearCurrentComment();
  ReadJpegCommentData(data, size);
  ClearCurrentComment();
  Touch(DecodeJpegData(data, size));
  ClearCurrentComment();
  // The MPO reader's way: the first two bytes read as FF D8, and a crop
  // taken from the input's last bytes.
  int dx = 0, dy = 0;
  if (size >= 4) {
    dx = static_cast<int8_t>(data[size - 1]) * (data[size - 3] & 15);
    dy = static_cast<int8_t>(data[size - 2]) * (data[size - 4] & 15);
  }
  Touch(DecodeJpegStream({data, size, true}, dx, dy));
  return 0;
}

// ConvertTo24: expands pictures of other depths the way the platform's
// bitmap drawing would, without any window.
#include <cstring>

#include "image/picture.h"

namespace {

int IndexAt(const uint8_t* row, int x, int bits) {
  switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default: return row[x];
  }
}

}  // namespace

Picture ConvertTo24(const uint8_t* block, size_t blockSize) {
  (void)blockSize;
  if (!block) return nullptr;
  const BitmapInfoHeader* h = PictureHeader(block);
  int bits = h->biBitCount;
  if (bits == 24) return nullptr;
  if (h->biCompression != kBiRgb) return nullptr;
  if (bits != 1 && bits != 4 && bits != 8) return nullptr;
  int width = PictureWidth(block), height = PictureHeight(block);
  Picture out = CreatePicture(width, height, 24);
  if (!out) return nullptr;
  int entries = 0;
  const uint8_t* pixels = PicturePixels(block, &entries);
  const uint8_t* table = block + h->biSize;
  size_t stride = RowStride(width, bits);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = pixels + stride * y;
    uint8_t* dst = PictureRow(out.get(), y);
    for (int x = 0; x < width; ++x) {
      int index = IndexAt(src, x, bits);
      // An index past the table draws as black, as the platform does.
      if (index < entries) std::memcpy(dst + 3 * x, table + 4 * index, 3);
    }
  }
  return out;
}

// What every fuzz target shares: a pixel limit that keeps hostile headers
// from asking for gigabytes, and a check of the pictures readers return.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/picture.h"

// Where touched bytes go, so the reads are not optimised away.
inline volatile uint8_t fuzzSink;

inline void LimitFuzzPictures() { SetPixelLimit(uint64_t{1} << 22); }

// Checks the header against the picture's depth and size, then reads pixel
// bytes across the whole block, so that a block shorter than its header
// says shows up under AddressSanitizer.
inline void TouchPicture(const Picture& picture) {
  if (!picture) return;
  const BitmapInfoHeader* h = PictureHeader(picture);
  int bits = h->biBitCount;
  if (h->biSize != 40 || (bits != 1 && bits != 4 && bits != 8 && bits != 24))
    __builtin_trap();
  size_t bytes = static_cast<size_t>(RowStride(PictureWidth(picture), bits)) *
                 PictureHeight(picture);
  if (h->biSizeImage != bytes) __builtin_trap();
  const uint8_t* pixels = PicturePixels(picture);
  uint8_t sum = pixels[bytes - 1];
  for (size_t k = 0; k < bytes; k += 61) sum ^= pixels[k];
  fuzzSink = sum;
}

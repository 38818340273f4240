// Small helpers shared by the bitmap reader and ConvertTo24: little-endian
// field reads that do not depend on alignment, and the row stride of any
// depth a bitmap file may use.
#pragma once

#include <cstddef>
#include <cstdint>

inline uint16_t ReadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// Bytes per stored row at 1, 2, 4, 8, 16, 24 or 32 bits, padded to 4 bytes.
inline uint64_t DibStride(int64_t width, int bits) {
  return ((static_cast<uint64_t>(width) * static_cast<uint64_t>(bits) + 31) /
          32) * 4;
}

// Compression codes beyond those of core/picture.h.
constexpr uint32_t kBiJpeg = 4;
constexpr uint32_t kBiPng = 5;
constexpr uint32_t kBiAlphaBitfields = 6;

// The depth and compression pairs a bitmap may have (2 bits included: some
// writers use it, and it expands like the other palette depths).
inline bool DibDepthAndCompressionMatch(int bits, uint32_t compression) {
  switch (bits) {
    case 1: case 2: case 24: return compression == 0;
    case 4: return compression == 0 || compression == 2;
    case 8: return compression == 0 || compression == 1;
    case 16: case 32:
      return compression == 0 || compression == 3 ||
             compression == kBiAlphaBitfields;
    default: return false;
  }
}

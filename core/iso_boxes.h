// The byte order and the box header of ISO base media files (HEIF stills,
// MP4 movies), shared by the box walkers of image/ and movie/.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t BoxTag(const char (&s)[5]) {
  return uint32_t{uint8_t(s[0])} << 24 | uint32_t{uint8_t(s[1])} << 16 |
         uint32_t{uint8_t(s[2])} << 8 | uint32_t{uint8_t(s[3])};
}

inline uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 |
         uint32_t{p[3]};
}
inline uint64_t Be64(const uint8_t* p) {
  return uint64_t{Be32(p)} << 32 | Be32(p + 4);
}

// A box header is 8 bytes (32-bit length, type), or 16 when the length
// field is 1 and a 64-bit length follows the type.
constexpr size_t kBoxHeader = 8;
constexpr size_t kLargeBoxHeader = 16;
inline bool HasLargeLength(const uint8_t* header) { return Be32(header) == 1; }

// The whole length of the box whose header is at `header` (16 bytes there
// when HasLargeLength) and the header's own length; a length field of 0
// means the rest of `room`, what is left of the enclosing box or file.
// False when the box is shorter than its header or runs past `room`.
inline bool BoxLength(const uint8_t* header, uint64_t room, uint64_t& length,
                      size_t& headerSize) {
  length = Be32(header);
  headerSize = kBoxHeader;
  if (length == 1) {
    length = Be64(header + 8);
    headerSize = kLargeBoxHeader;
  } else if (length == 0) {
    length = room;
  }
  return length >= headerSize && length <= room;
}

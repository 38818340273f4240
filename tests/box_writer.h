// Big-endian fields and plain boxes for the tests that write ISO base media
// files (HEIF stills, MP4 movies) byte by byte.
#pragma once

#include <cstdint>
#include <vector>

namespace box_writer {

using Bytes = std::vector<uint8_t>;

inline void PutBe32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}
inline uint32_t GetBe32(const Bytes& b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 |
         uint32_t{b[at + 2]} << 8 | b[at + 3];
}
inline void SetBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}
inline Bytes MakeBox(const char* type, const Bytes& body) {
  Bytes out;
  PutBe32(out, uint32_t(8 + body.size()));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace box_writer

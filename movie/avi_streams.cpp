#include "movie/avi_streams.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
         uint32_t{p[3]} << 24;
}

bool BytesAre(std::span<const uint8_t> data, size_t at, const char* text,
              size_t length) {
  return at + length <= data.size() &&
         std::memcmp(data.data() + at, text, length) == 0;
}

// The rational a tag's value points at (an offset from the maker note's
// start): numerator and denominator, when both lie inside the bytes read.
bool ReadRational(std::span<const uint8_t> data, size_t note, size_t tag,
                  int32_t& numerator, uint32_t& denominator) {
  uint64_t at = uint64_t{note} + ReadLe32(data.data() + tag + 8);
  if (at + 8 > data.size()) return false;
  numerator = static_cast<int32_t>(ReadLe32(data.data() + at));
  denominator = ReadLe32(data.data() + at + 4);
  return true;
}

}  // namespace

AviStreamInfo CountVideoStreams(std::span<const uint8_t> head, int parallaxX,
                                int parallaxY) {
  AviStreamInfo info;
  info.parallaxX = parallaxX;
  info.parallaxY = parallaxY;
  std::span<const uint8_t> data = head.first(std::min(head.size(), kAviProbeBytes));
  const size_t n = data.size();
  if (n < 21) return info;

  // A stream list whose header says video; the camera's maker note is the
  // second "FILM" block (the first belongs to the file's own header).
  size_t filmSeen = 0, note = 0;
  bool haveNote = false;
  for (size_t j = 0; j + 21 <= n; ++j) {
    if (BytesAre(data, j, "strl", 4) && BytesAre(data, j + 12, "vids", 4))
      ++info.videoStreams;
    if (BytesAre(data, j, "FILM\x0C\x00", 6) && ++filmSeen == 2 && j >= 4) {
      note = j - 4;  // four more letters open the note
      haveNote = true;
    }
  }
  info.result = info.videoStreams > 1 ? 1 : 0;
  if (!haveNote) return info;

  // Two consecutive 12-byte tag entries, horizontal then vertical parallax;
  // their values (bytes 8-11 of each entry) must lie in the bytes read.
  for (size_t j = note; j < note + 400 && j + 24 <= n; ++j) {
    const uint8_t* p = data.data() + j;
    if (p[0] != 0x11 || p[1] != 0xB2 || p[12] != 0x12 || p[13] != 0xB2)
      continue;
    int32_t numerator;
    uint32_t denominator;
    if (ReadRational(data, note, j, numerator, denominator) &&
        (denominator == 640 || denominator == 320)) {
      info.parallaxX = numerator / -100;
      info.makerNote = true;
    }
    if (ReadRational(data, note, j + 12, numerator, denominator) &&
        (denominator == 480 || denominator == 240)) {
      info.parallaxY = numerator / 100;
      info.makerNote = true;
    }
    break;
  }
  return info;
}

AviStreamInfo CountVideoStreams(const std::string& path, int parallaxX,
                                int parallaxY) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    AviStreamInfo info;
    info.result = -1;
    info.parallaxX = parallaxX;
    info.parallaxY = parallaxY;
    return info;
  }
  std::vector<uint8_t> head(kAviProbeBytes);
  size_t n = std::fread(head.data(), 1, head.size(), file);
  std::fclose(file);
  head.resize(n);
  return CountVideoStreams(std::span<const uint8_t>(head), parallaxX, parallaxY);
}

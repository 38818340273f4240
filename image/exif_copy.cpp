#include "image/exif_copy.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t kImageWidth = 0x0100;
constexpr uint16_t kImageLength = 0x0101;
constexpr uint16_t kExifPointer = 0x8769;
constexpr uint16_t kPixelX = 0xA002;
constexpr uint16_t kPixelY = 0xA003;
constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;

// A JPEG's header segments before the scan are far smaller than this; it
// bounds what is read of a file only for its Exif.
constexpr size_t kHeaderBytes = size_t{1} << 20;

class TiffBytes {
 public:
  TiffBytes(std::vector<uint8_t>& bytes, bool bigEndian)
      : b_(bytes), big_(bigEndian) {}
  bool Has(uint64_t at, uint64_t n) const {
    return at <= b_.size() && n <= b_.size() - at;
  }
  uint32_t U16(size_t at) const {
    return big_ ? uint32_t{b_[at]} << 8 | b_[at + 1]
                : uint32_t{b_[at + 1]} << 8 | b_[at];
  }
  uint32_t U32(size_t at) const {
    return big_ ? U16(at) << 16 | U16(at + 2) : U16(at + 2) << 16 | U16(at);
  }
  void Put16(size_t at, uint32_t v) {
    b_[at + (big_ ? 1 : 0)] = v & 0xFF;
    b_[at + (big_ ? 0 : 1)] = (v >> 8) & 0xFF;
  }
  void Put32(size_t at, uint32_t v) {
    Put16(at + (big_ ? 2 : 0), v & 0xFFFF);
    Put16(at + (big_ ? 0 : 2), v >> 16);
  }

 private:
  std::vector<uint8_t>& b_;
  bool big_;
};

// Sets a one-value SHORT or LONG entry; a SHORT too small for the size
// becomes the largest it holds.
void SetSize(TiffBytes& t, size_t entry, uint32_t value) {
  uint32_t type = t.U16(entry + 2), count = t.U32(entry + 4);
  if (count != 1) return;
  if (type == kShort) {
    t.Put16(entry + 8, value > 0xFFFF ? 0xFFFF : value);
    t.Put16(entry + 10, 0);
  } else if (type == kLong) {
    t.Put32(entry + 8, value);
  }
}

// Walks one directory, setting the size tags `x` and `y`; returns the
// Exif directory's offset when the entry pointing to it is met (0 if not).
// False when the directory does not fit in the bytes.
bool SetInDirectory(TiffBytes& t, uint32_t offset, uint16_t x, uint16_t y,
                    uint32_t width, uint32_t height, uint32_t& exifOffset) {
  if (!t.Has(offset, 2)) return false;
  uint32_t count = t.U16(offset);
  if (!t.Has(offset + 2, uint64_t{count} * 12)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    size_t entry = offset + 2 + size_t{i} * 12;
    uint32_t tag = t.U16(entry);
    if (tag == x) SetSize(t, entry, width);
    if (tag == y) SetSize(t, entry, height);
    if (tag == kExifPointer && t.U32(entry + 4) == 1) exifOffset = t.U32(entry + 8);
  }
  return true;
}

}  // namespace

std::vector<uint8_t> FindExif(const uint8_t* data, size_t size) {
  if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return {};
  size_t at = 2;
  while (at + 4 <= size && data[at] == 0xFF) {
    uint8_t marker = data[at + 1];
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;
    size_t length = size_t{data[at + 2]} << 8 | data[at + 3];
    if (length < 2 || length > size - at - 2) break;
    const uint8_t* body = data + at + 4;
    if (marker == 0xE1 && length >= 2 + 6 + 8 &&
        std::memcmp(body, "Exif\0\0", 6) == 0)
      return {body + 6, body + length - 2};
    at += 2 + length;
  }
  return {};
}

std::vector<uint8_t> FindExifInFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return {};
  std::vector<uint8_t> head(kHeaderBytes);
  size_t got = std::fread(head.data(), 1, head.size(), file);
  std::fclose(file);
  return FindExif(head.data(), got);
}

void ClearParallax(std::vector<uint8_t>& tiff) {
  // As the MPO reader finds them: "FILM" 0x0C 0x00 four bytes into the
  // note, two entries tagged 0xB211 and 0xB212 within its first 400 bytes,
  // their values' offsets (little-endian) counted from the note's start.
  static constexpr uint8_t kMark[6] = {'F', 'I', 'L', 'M', 0x0C, 0x00};
  constexpr size_t kWindow = 400;
  for (size_t at = 4; at + sizeof kMark <= tiff.size(); ++at) {
    if (std::memcmp(&tiff[at], kMark, sizeof kMark) != 0) continue;
    size_t note = at - 4;
    for (size_t j = note; j < note + kWindow && j + 24 <= tiff.size(); ++j) {
      const uint8_t* e = &tiff[j];
      if (e[0] != 0x11 || e[1] != 0xB2 || e[12] != 0x12 || e[13] != 0xB2)
        continue;
      for (size_t value : {j + 8, j + 20}) {
        uint64_t offset = note + (uint32_t{tiff[value]} |
                                  uint32_t{tiff[value + 1]} << 8 |
                                  uint32_t{tiff[value + 2]} << 16 |
                                  uint32_t{tiff[value + 3]} << 24);
        if (offset + 4 <= tiff.size())
          std::memset(&tiff[static_cast<size_t>(offset)], 0, 4);
      }
      break;
    }
  }
}

bool SetExifPictureSize(std::vector<uint8_t>& tiff, int width, int height) {
  if (tiff.size() < 8 || width < 1 || height < 1) return false;
  bool big;
  if (tiff[0] == 'I' && tiff[1] == 'I') big = false;
  else if (tiff[0] == 'M' && tiff[1] == 'M') big = true;
  else return false;
  TiffBytes t(tiff, big);
  if (t.U16(2) != 42) return false;
  uint32_t exif = 0;
  auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
  if (!SetInDirectory(t, t.U32(4), kImageWidth, kImageLength, w, h, exif))
    return false;
  uint32_t unused = 0;
  return exif == 0 || SetInDirectory(t, exif, kPixelX, kPixelY, w, h, unused);
}

#include "image/jpeg_comment.h"

#include <vector>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/jpeg_reader.h"

namespace {

constexpr uint8_t kStartOfImage[2] = {0xFF, 0xD8};

// The bytes of a stream whose first two may be read as FF D8 instead.
struct StreamBytes {
  const uint8_t* data;
  size_t size;
  bool patchedStart;
  uint8_t operator[](size_t k) const {
    return patchedStart && k < 2 ? kStartOfImage[k] : data[k];
  }
};

void WalkComment(const StreamBytes& bytes) {
  size_t n = bytes.size < kJpegCommentWindow ? bytes.size : kJpegCommentWindow;
  size_t i = 1;
  while (i < n) {
    if (bytes[i - 1] != 0xFF || bytes[i] < 0xC0) {
      ++i;
      continue;
    }
    uint8_t code = bytes[i];
    if (code == 0xD8) {
      ++i;
      continue;
    }
    if (code == 0xD9 || code == 0xFF || code == 0xDA) return;
    if (code == 0xC0) {
      // A one-component baseline frame ends the walk; any other frame is
      // stepped through byte by byte, as stored files were always read.
      if (i + 8 >= n || bytes[i + 8] == 1) return;
      ++i;
      continue;
    }
    // The segment occupies [i + 1, i + 1 + length); one running past the
    // window stops the walk.
    if (i + 2 >= n) return;
    size_t length = size_t{bytes[i + 1]} << 8 | bytes[i + 2];
    if (length < 2 || length > n - (i + 1)) return;
    if (code == 0xFE) SetCurrentComment(bytes.data + i + 3, length - 2);
    i += length + 2;
  }
}

}  // namespace

// The library refuses anything that does not begin with FF D8, so only such
// data is walked: PNG or TIFF bytes that happen to look like a COM segment
// must not become the comment of a file the other readers take.
void ReadJpegCommentBeforeDecoding(const uint8_t* data, size_t size,
                                   bool patchedStart) {
  StreamBytes bytes{data, data ? size : 0, patchedStart};
  if (!CurrentCommentEmpty() || bytes.size < 2 || bytes[0] != 0xFF ||
      bytes[1] != 0xD8)
    return;
  WalkComment(bytes);
}

void ReadJpegComment(const std::string& path) {
  std::vector<uint8_t> prefix;
  if (!ReadFilePrefix(path, kJpegCommentWindow, prefix)) return;
  WalkComment({prefix.data(), prefix.size(), false});
}

void ReadJpegCommentData(const uint8_t* data, size_t size) {
  if (!data) return;
  WalkComment({data, size, false});
}

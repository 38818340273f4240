#include "image/jpeg_comment.h"

#include <algorithm>
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

// The walk's stop: the stream said so (a scan, an end, a grey frame, a bad
// segment length), or the bytes ran out before it did.
enum class WalkEnd { Stopped, OutOfBytes };

WalkEnd WalkComment(const StreamBytes& bytes) {
  size_t n = bytes.size;
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
    if (code == 0xD9 || code == 0xFF || code == 0xDA) return WalkEnd::Stopped;
    if (code == 0xC0) {
      // A one-component baseline frame ends the walk; any other frame is
      // stepped through byte by byte, as stored files were always read.
      if (i + 8 >= n) return WalkEnd::OutOfBytes;
      if (bytes[i + 8] == 1) return WalkEnd::Stopped;
      ++i;
      continue;
    }
    // The segment occupies [i + 1, i + 1 + length).
    if (i + 2 >= n) return WalkEnd::OutOfBytes;
    size_t length = size_t{bytes[i + 1]} << 8 | bytes[i + 2];
    if (length < 2) return WalkEnd::Stopped;
    if (length > n - (i + 1)) return WalkEnd::OutOfBytes;
    if (code == 0xFE) SetCurrentComment(bytes.data + i + 3, length - 2);
    i += length + 2;
  }
  return WalkEnd::OutOfBytes;
}

// Walks the file from its start, reading more of it while the walk runs
// out of bytes before the stream says stop.  A COM segment that is not
// whole in the file is not taken, as in memory.
void WalkFile(const std::string& path, bool onlyJpeg) {
  std::vector<uint8_t> prefix;
  size_t want = kJpegCommentWindow;
  for (;;) {
    if (!ReadFilePrefix(path, want, prefix)) return;
    if (onlyJpeg && (prefix.size() < 2 || prefix[0] != 0xFF || prefix[1] != 0xD8))
      return;
    bool fileEnded = prefix.size() < want;
    if (WalkComment({prefix.data(), prefix.size(), false}) ==
            WalkEnd::Stopped ||
        fileEnded || want >= kJpegCommentWalkLimit)
      return;
    want = std::min(want * 4, kJpegCommentWalkLimit);
  }
}

}  // namespace

// The library refuses anything that does not begin with FF D8, so only such
// data is walked: PNG or TIFF bytes that happen to look like a COM segment
// must not become the comment of a file the other readers take.
void ReadJpegCommentBeforeDecoding(const uint8_t* data, size_t size,
                                   bool patchedStart) {
  StreamBytes bytes{data, data ? std::min(size, kJpegCommentWalkLimit) : 0,
                    patchedStart};
  if (!CurrentCommentEmpty() || bytes.size < 2 || bytes[0] != 0xFF ||
      bytes[1] != 0xD8)
    return;
  WalkComment(bytes);
}

void ReadJpegCommentBeforeDecodingFile(const std::string& path) {
  if (CurrentCommentEmpty()) WalkFile(path, true);
}

void ReadJpegComment(const std::string& path) { WalkFile(path, false); }

void ReadJpegCommentData(const uint8_t* data, size_t size) {
  if (!data) return;
  WalkComment({data, std::min(size, kJpegCommentWalkLimit), false});
}

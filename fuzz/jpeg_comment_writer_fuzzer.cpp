// The segment walk of the comment writer on arbitrary bytes, with a comment
// whose length comes from the input's last byte (so that JPEG files seed it
// as they are): whatever it accepts must come out as a stream that the walk
// accepts again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "image/jpeg_comment_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string comment(data[size - 1] % 8, 'c');
  std::vector<uint8_t> out;
  if (RewriteJpegComment(data, size - 1, comment, out) != kCommentWritten)
    return 0;
  if (out.size() > size - 1 + comment.size() + 4) __builtin_trap();
  // A second pass with no comment must find the structure sound: the first
  // pass only wrote well-formed segments before the scan.
  std::vector<uint8_t> again;
  int second = RewriteJpegComment(out.data(), out.size(), "", again);
  if (second != kCommentWritten && second != kCommentMultiPicture)
    __builtin_trap();
  fuzzSink = static_cast<uint8_t>(again.size());
  return 0;
}

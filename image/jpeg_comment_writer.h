// Writing a comment into a JPEG file: every COM segment of the file is
// dropped and, when the comment is not empty, one new COM segment goes
// before the first table or frame segment.  Everything from the first start
// of scan on (the entropy-coded data, further images of an MPO) is copied
// byte for byte.
//
// The file is replaced in one step: the new bytes go to a temporary file
// beside it, which is flushed to disk and then renamed over the original, so
// that a failure at any point leaves the original as it was.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A COM segment holds at most this many text bytes.
constexpr size_t kJpegCommentMaxBytes = 255;

// Result codes of WriteJpegComment.
enum JpegCommentResult {
  kCommentWritten = 0,
  kCommentNotWritable = 1,     // the file is read-only or cannot be opened
  kCommentUnreadable = 2,      // the file cannot be read (or is no file)
  kCommentNotJpeg = 3,         // it does not start with FF D8
  kCommentReadFailed = 5,      // reading its bytes failed
  kCommentNoTempFile = 6,      // the temporary file cannot be created
  kCommentTempSetupFailed = 7, // its permission bits cannot be set
  kCommentWriteFailed = 8,     // writing or flushing the new bytes failed
  kCommentBrokenStructure = 9, // a segment before the scan is malformed
  kCommentTimesNotKept = 10,   // written, but the file times could not be set
  kCommentReplaceFailed = 11,  // the rename over the original failed
  kCommentMultiPicture = 12,   // an MPO-style file: its image offsets would break
};

// The segment walk alone, on bytes in memory: `jpeg` must start with FF D8.
// Fills `out` with the rewritten stream and returns kCommentWritten, or
// kCommentNotJpeg / kCommentBrokenStructure / kCommentMultiPicture with
// `out` unspecified.  A file with a multi-picture index is only accepted
// unchanged: the index locates the later pictures by byte offsets that a
// segment added or removed before them would break.
// `comment` is written as it is given (the caller cuts it).
int RewriteJpegComment(const uint8_t* jpeg, size_t size,
                       std::string_view comment, std::vector<uint8_t>& out);

// `text` cut to kJpegCommentMaxBytes at a character boundary and at its
// first NUL byte: what a COM segment can carry.
std::string JpegCommentText(std::string_view text);

// What WriteJpegComment reports and the points where tests step in.
struct JpegCommentHooks {
  // A warning for the user: message text and caption.
  std::function<void(std::string_view text, std::string_view caption)> warn;
  // Stands in for write(2) on the temporary file (a full disk, say).
  std::function<ssize_t(int fd, const void* data, size_t size)> write;
  // Stand in for fsync(2), close(2) and rename(2) on the temporary file and
  // the folder: tests observe through them the order that makes the replace
  // survive a crash (data flushed and closed before the rename, the folder
  // flushed after it).
  std::function<int(int fd)> fsync;
  std::function<int(int fd)> close;
  std::function<int(const char* from, const char* to)> rename;
  // Runs after the temporary file is complete and flushed, before it
  // replaces the original; returning false makes the replace fail.
  std::function<bool(const std::string& tempPath)> beforeReplace;
};

// Rewrites the JPEG file `path` with `comment` (UTF-8; cut as
// JpegCommentText does; empty removes every comment).  Keeps the file's
// permission bits, owner where allowed, and its access and modification
// times.  Returns a JpegCommentResult; on every code but kCommentWritten and
// kCommentTimesNotKept the file is unchanged and no temporary file is left.
int WriteJpegComment(const std::string& path, std::string_view comment,
                     const JpegCommentHooks& hooks = {});

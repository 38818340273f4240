#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/picture.h"

// Upper bound on the working memory of one decode beyond its picture (a
// progressive JPEG holds every coefficient of the picture until its last
// scan; more is refused, not swapped).  The viewer's is the default; the
// thumbnailer sets a lower one.  For the whole process.
constexpr uint64_t kViewerDecodeMemory = uint64_t{640} << 20;
uint64_t DecodeMemoryLimit();
void SetDecodeMemoryLimit(uint64_t bytes);

// Null when the file is not of this format or cannot be read; the reason is
// left in LastLoadFailure().  Never shows a message.  The result is a 24-bit
// picture whose block is exactly 40 + height x stride bytes.  Before
// decoding, the comment is read into CurrentComment while that is empty.
Picture DecodeJpeg(const std::string& path);
Picture DecodeJpegData(const uint8_t* data, size_t size);

// A JPEG stream in memory.  With `patchedStart` its first two bytes stand
// where the start-of-image marker belongs and are read as FF D8 whatever
// they hold: this is how the second picture of a multi-picture file is cut
// out of it without copying the file.
struct JpegStream {
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool patchedStart = false;
};

// DecodeJpegData on such a stream, giving what CropPicture(picture, dx, dy)
// would give of the decoded picture, without building the whole picture
// first.  Null as DecodeJpegData, and when the crop leaves nothing.
Picture DecodeJpegStream(const JpegStream& stream, int dx = 0, int dy = 0);

// DecodeJpegStream without the comment walk: touches nothing but the
// thread's load failure, so two can run at once on two threads.
Picture DecodeJpegPixels(const JpegStream& stream, int dx = 0, int dy = 0);

// For previews: the picture decoded at 1/`scaleDenom` of its size (1, 2, 4
// or 8: the library's reduced inverse transforms, several times cheaper than
// a full decode), and with `leftHalf` only the left half of it (the left view
// of a side-by-side file; the right half's blocks are not decoded).  The
// half is the reduced width / 2, rounded down.  No comment is read.
Picture DecodeJpegReduced(const JpegStream& stream, int scaleDenom,
                          bool leftHalf);

// DecodeJpegPixels at 1/`denominator` (1, 2, 4 or 8) of the size, the crop
// in pixels of the reduced picture: libjpeg scales while it decodes,
// several times faster than decoding whole.  Pixel i of the result covers
// pixels [i d, (i + 1) d) of the full picture.  For measuring, not for
// showing: the fastest transform and plain chroma upsampling.
Picture DecodeJpegPixelsReduced(const JpegStream& stream, int denominator,
                                int dx = 0, int dy = 0);

// A flag the JPEG decoders of this thread poll between rows: once it is
// set, the decode under way stops and fails.  Null (the default) for none.
void SetDecodeCancelFlag(const std::atomic<bool>* flag);
const std::atomic<bool>* DecodeCancelFlag();

// The width and height the stream's frame header announces, from its
// headers alone (no comment is read).  False when they cannot be read.
bool ReadJpegSize(const JpegStream& stream, int& width, int& height);

// Fills CurrentComment from the file's last COM segment before the first
// start of scan (or a one-component baseline frame).
void ReadJpegComment(const std::string& path);
void ReadJpegCommentData(const uint8_t* data, size_t size);

// The movie display frame: the grabbed frame's two views placed with the
// floating-window shift, the comment band under them, YUV converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/picture.h"

enum FrameFormatCode : int {
  FrameRgb24 = 1,  // bottom-up B, G, R rows of 3w bytes (padded to 4)
  FrameYuy2 = 2,   // top-down Y0 U Y1 V rows of 2w bytes
  // Top-down 4:2:0 planes as decoders write them: w luma bytes a row at
  // `pixels`, and one row of U and V for each two rows, each pixel pair
  // sharing a U and a V.  Presentation reads them where they are.
  FrameYuv420 = 3,
};

// How a stream's YUV values become colours, as its caps declare: the
// matrix, and whether Y and UV fill 0..255 (full range, as MJPEG cameras
// record) or the studio range 16..235 / 16..240.
enum class YuvMatrix { Bt601, Bt709, Bt2020 };
struct YuvColour {
  YuvMatrix matrix = YuvMatrix::Bt601;
  bool fullRange = false;
  bool operator==(const YuvColour& o) const {
    return matrix == o.matrix && fullRange == o.fullRange;
  }
};

// What the frame grabber hands over for one presentation.
struct GrabbedFrame {
  int width = 0;   // FrameHeader's width w
  int height = 0;  // and height h
  int format = FrameRgb24;
  const uint8_t* pixels = nullptr;  // FramePixels, valid during the call
  int stride = 0;  // bytes from one source row to the next; negative when
                   // top-down rows are read bottom-up from the last
  // When set, holding it keeps `pixels` valid after the call.
  std::shared_ptr<const void> owner;
  // FrameYuv420 only: the chroma rows of source rows 0 and 1, the bytes from
  // one chroma row to the next, and from one pair's U (or V) to the next
  // pair's: 1 in separate planes (I420), 2 where U and V alternate (NV12).
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  int chromaStride = 0;
  int chromaStep = 1;
  // YUV frames: the colours the stream declares.  FrameYuv420 only:
  // interlaced frames hold a chroma row per two rows of each field, chroma
  // row k belonging to field k % 2.
  YuvColour colour{};
  bool interlaced = false;
};

// One row of YUV pixels in any of the grabbed layouts: pixel x has the luma
// y[x * lumaStep] and the chroma u[(x / 2) * chromaStep] and
// v[(x / 2) * chromaStep] of its pair.
struct YuvRow {
  const uint8_t* y = nullptr;
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  int lumaStep = 1;
  int chromaStep = 1;
  // The same row from pixel `pair` x 2 on.
  YuvRow FromPair(int pair) const {
    return {y + static_cast<ptrdiff_t>(pair) * 2 * lumaStep,
            u + static_cast<ptrdiff_t>(pair) * chromaStep,
            v + static_cast<ptrdiff_t>(pair) * chromaStep, lumaStep, chromaStep};
  }
};
inline YuvRow Yuy2Row(const uint8_t* row) { return {row, row + 1, row + 3, 2, 4}; }

// Set by the grabber before PresentMovieFrame; cleared when the movie closes.
// The grabbed frame and everything built from it below belong to whoever
// holds the presentation's lock (Presentation.lock, stereo/present.h).
void SetGrabbedFrame(const GrabbedFrame& frame);
const GrabbedFrame& CurrentGrabbedFrame();

// Builds FramePicture from the grabbed frame; false when there is nothing to
// present (no frame, a frame whose rows do not fit its stride, or memory ran
// out).  Width mode 4 turns a row-interlaced frame into an over/under one;
// otherwise the views get the floating shift and, with a comment, the band.
// With `deferRows` a shifted frame's source rows are left for presentation
// to convert with FillFrameRows, each strip just before it is mixed, while
// it is in the cache, or to mix straight from FrameYuvRows; rows left
// unconverted wait for CompleteFramePicture.
bool BuildFramePicture(bool deferRows = false);
// Converts the deferred source rows that land on stored rows [first, end) of
// FramePicture; nothing when no rows are deferred.  Callers may convert
// disjoint ranges at once from several threads.
void FillFrameRows(int first, int end);

// A movie frame's YUV rows as grabbed (YUY2 or 4:2:0), read bottom row
// first, like the stored rows of the display frame they make.
struct YuvRows {
  const uint8_t* y = nullptr;  // of source row 0, the top one
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  ptrdiff_t lumaStride = 0, chromaStride = 0;
  int height = 0;
  int lumaStep = 2, chromaStep = 4;
  int chromaRowShift = 0;  // 1: a chroma row serves two rows
  bool fieldChroma = false;  // interlaced 4:2:0: two rows of one field
  YuvRow StoredRow(int row) const {
    int source = height - 1 - row;
    int chroma = fieldChroma ? (source >> 2 << 1) | (source & 1)
                             : source >> chromaRowShift;
    return {y + lumaStride * source, u + chromaStride * chroma,
            v + chromaStride * chroma, lumaStep, chromaStep};
  }
  explicit operator bool() const { return y != nullptr; }
};
// The deferred frame's source rows where the display frame is exactly them
// (YUV, no floating shift, no band): a renderer may mix them directly
// instead of filling FramePicture.  Empty otherwise.
YuvRows FrameYuvRows();
// Converts every deferred row that presentation left unconverted, so that
// FramePicture holds the whole last frame.  Call it, with no presentation
// under way, before the grabbed frame goes.
void CompleteFramePicture();
const Picture& FramePicture();
// The band under the views and the shift the frame was last built with.
const Picture& CommentBand();
int AppliedFloatShift();
// Opening or closing a movie: forgets the shift the frame was built with and
// frees the frame and the band.  The closing shell takes the last frame's
// halves before calling it.
void ResetMovieFrameState();

// The shift in pixels for a frame w wide: FloatOffset x w / 400 x 2, in that
// integer order, so it is even and a step is about half a percent.
int FloatShiftFor(int frameWidth);

// Converts `count` pixels of a YUV row, starting at pixel `first`, into
// B, G, R bytes at `out` (in the grabbed frame's colours, BT.601 studio
// range when there is none; each channel limited to 0..255).  `first` may
// be odd: a pixel takes the chroma of its pair.
void ConvertYuvRow(const YuvRow& row, int first, int count, uint8_t* out);
inline void ConvertYuy2Row(const uint8_t* row, int first, int count,
                           uint8_t* out) {
  ConvertYuvRow(Yuy2Row(row), first, count, out);
}

// Makes the comment band; RenderCommentBand unless a test replaces it.
using CommentBandMaker = Picture (*)(int width, int height);
void SetCommentBandMaker(CommentBandMaker maker);

// The movie display frame: the grabbed frame's two views placed with the
// floating-window shift, the comment band under them, YUY2 converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/picture.h"

enum FrameFormatCode : int {
  FrameRgb24 = 1,  // bottom-up B, G, R rows of 3w bytes (padded to 4)
  FrameYuy2 = 2,   // top-down Y0 U Y1 V rows of 2w bytes
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
};

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
// it is in the cache, or to mix straight from FrameYuy2Rows; rows left
// unconverted wait for CompleteFramePicture.
bool BuildFramePicture(bool deferRows = false);
// Converts the deferred source rows that land on stored rows [first, end) of
// FramePicture; nothing when no rows are deferred.  Callers may convert
// disjoint ranges at once from several threads.
void FillFrameRows(int first, int end);

// A movie frame's YUY2 rows as grabbed, bottom row first, like the stored
// rows of the display frame they make.
struct Yuy2Rows {
  const uint8_t* bottom = nullptr;
  ptrdiff_t step = 0;  // bytes from a row to the one above it
  const uint8_t* StoredRow(int row) const { return bottom + step * row; }
  explicit operator bool() const { return bottom != nullptr; }
};
// The deferred frame's source rows where the display frame is exactly them
// (YUY2, no floating shift, no band): a renderer may mix them directly
// instead of filling FramePicture.  Empty otherwise.
Yuy2Rows FrameYuy2Rows();
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

// Converts `count` pixels of a YUY2 row, starting at pixel `first`, into
// B, G, R bytes at `out` (BT.601 studio range, each channel limited to
// 0..255).  `first` may be odd: a pixel takes the chroma of its pair.
void ConvertYuy2Row(const uint8_t* row, int first, int count, uint8_t* out);

// Makes the comment band; RenderCommentBand unless a test replaces it.
using CommentBandMaker = Picture (*)(int width, int height);
void SetCommentBandMaker(CommentBandMaker maker);

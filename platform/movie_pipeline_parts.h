// Pieces of the GStreamer movie pipeline shared by its files: start-up with
// the libav decoders ranked first, and a decoded sample mapped as a frame.
#pragma once

#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdint>
#include <memory>

#include "movie/stereo_merge.h"
#include "stereo/movie_frame.h"

// gst_init once, then the libav decoders above every other decoder.  False
// when GStreamer cannot start.
bool MovieStreamerReady();

// A sample mapped for reading for as long as this lives.  RGB24 frames are
// read bottom-up through a negative stride, as FrameFormat 1 numbers rows.
// 8-bit 4:2:0 frames keep their planes as the decoder wrote them.
// The mapping holds the buffer; the sample is not kept, since the appsink
// reuses its sample object only while nobody else holds it.
struct MappedFrame {
  GstVideoFrame video{};
  GrabbedFrame grabbed;
  int64_t positionNs = 0;  // the frame's stream time
  int64_t frameNs = 0;     // one frame's duration from the caps; 0 unknown
  ~MappedFrame();
};

// Null when the sample is not a BGR, YUY2 or 4:2:0 (I420, YV12, NV12) frame
// or cannot be mapped.
std::shared_ptr<MappedFrame> MapFrame(GstSample* sample);
// The 4:2:0 layouts handed on as decoded, as FrameYuv420.
bool IsGrabbedPlanarFormat(GstVideoFormat format);

// An allocator of frame memory whose copies are read-only views of it, for
// the pool the decoder of frames handed on as decoded renders into; one for
// the process, never freed.
GstAllocator* FrameViewAllocator();
MergeSample MergeSampleOf(const std::shared_ptr<MappedFrame>& frame);

#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/movie_pipeline_parts.h"

namespace {

// Above GST_RANK_PRIMARY, so that decodebin picks libav's decoder whenever
// one fits, as hardware and other decoders come at PRIMARY or below.
constexpr guint kLibavRank = GST_RANK_PRIMARY + 64;

void RankLibavFirst() {
  GList* features = gst_registry_get_feature_list_by_plugin(
      gst_registry_get(), "libav");
  for (GList* item = features; item; item = item->next) {
    auto* feature = GST_PLUGIN_FEATURE(item->data);
    if (!GST_IS_ELEMENT_FACTORY(feature)) continue;
    const char* klass = gst_element_factory_get_metadata(
        GST_ELEMENT_FACTORY(feature), GST_ELEMENT_METADATA_KLASS);
    if (klass && std::strstr(klass, "Decoder"))
      gst_plugin_feature_set_rank(feature, kLibavRank);
  }
  gst_plugin_feature_list_free(features);
}

// ---- Decoded frames viewed rather than copied ------------------------------
//
// libav's decoders render into pool buffers and keep the frames they
// reference mapped for writing, so GStreamer cannot share such a frame's
// memory when the decoder hands it on and copies it instead.  Memory from
// this allocator "copies" itself into a read-only view of the same bytes:
// nothing writes to a decoded frame once it is handed on, and writing
// through a view fails.  Should the pool hand the memory out again while a
// view still shows it, the first mapping for writing moves the memory to
// bytes of its own, so that a view shows the frame it was made of for as
// long as it lives.

struct FrameBytes {
  std::atomic<int> users{1};  // the memory and its views
  void* block = nullptr;      // as allocated
  uint8_t* data = nullptr;    // aligned within it
};

struct FrameMemory {
  GstMemory memory;
  FrameBytes* bytes;
};

struct FrameViewAllocator {
  GstAllocator parent;
};
struct FrameViewAllocatorClass {
  GstAllocatorClass parent;
};
G_DEFINE_TYPE(FrameViewAllocator, frame_view_allocator, GST_TYPE_ALLOCATOR)

FrameBytes* NewFrameBytes(gsize size, gsize align) {
  void* block = g_try_malloc(size + align);
  if (!block) return nullptr;
  auto* bytes = new FrameBytes;
  bytes->block = block;
  bytes->data = static_cast<uint8_t*>(block);
  if (gsize misaligned = reinterpret_cast<uintptr_t>(block) & align)
    bytes->data += align + 1 - misaligned;
  return bytes;
}

void ReleaseFrameBytes(FrameBytes* bytes) {
  if (bytes->users.fetch_sub(1) == 1) {
    g_free(bytes->block);
    delete bytes;
  }
}

GstMemory* NewFrameMemory(GstAllocator* allocator, FrameBytes* bytes,
                          GstMemoryFlags flags, gsize maxsize, gsize align,
                          gsize offset, gsize size) {
  auto* m = g_new0(FrameMemory, 1);
  gst_memory_init(&m->memory, flags, allocator, nullptr, maxsize, align, offset,
                  size);
  m->bytes = bytes;
  return &m->memory;
}

GstMemory* AllocFrameMemory(GstAllocator* allocator, gsize size,
                            GstAllocationParams* params) {
  gsize align = params->align | gst_memory_alignment;
  gsize maxsize = size + params->prefix + params->padding;
  FrameBytes* bytes = NewFrameBytes(maxsize, align);
  if (!bytes) return nullptr;
  if (params->prefix && (params->flags & GST_MEMORY_FLAG_ZERO_PREFIXED))
    std::memset(bytes->data, 0, params->prefix);
  if (params->padding && (params->flags & GST_MEMORY_FLAG_ZERO_PADDED))
    std::memset(bytes->data + params->prefix + size, 0, params->padding);
  return NewFrameMemory(allocator, bytes, GstMemoryFlags(params->flags), maxsize,
                        align, params->prefix, size);
}

void FreeFrameMemory(GstAllocator*, GstMemory* memory) {
  auto* m = reinterpret_cast<FrameMemory*>(memory);
  ReleaseFrameBytes(m->bytes);
  g_free(m);
}

gpointer MapFrameMemory(GstMemory* memory, gsize, GstMapFlags flags) {
  auto* m = reinterpret_cast<FrameMemory*>(memory);
  if ((flags & GST_MAP_WRITE) && m->bytes->users.load() > 1) {
    // Views show these bytes: the memory takes a copy to be written.
    FrameBytes* own = NewFrameBytes(memory->maxsize, memory->align);
    if (!own) return nullptr;
    std::memcpy(own->data, m->bytes->data, memory->maxsize);
    ReleaseFrameBytes(m->bytes);
    m->bytes = own;
  }
  return m->bytes->data;
}

void UnmapFrameMemory(GstMemory*) {}

GstMemory* ViewFrameMemory(GstMemory* memory, gssize offset, gssize size) {
  if (size == -1)
    size = gssize(memory->size) > offset ? gssize(memory->size) - offset : 0;
  FrameBytes* bytes = reinterpret_cast<FrameMemory*>(memory)->bytes;
  bytes->users.fetch_add(1);
  return NewFrameMemory(
      memory->allocator, bytes,
      GstMemoryFlags(GST_MINI_OBJECT_FLAGS(memory) | GST_MEMORY_FLAG_READONLY),
      memory->maxsize, memory->align, memory->offset + offset, gsize(size));
}

gboolean FrameMemorySpans(GstMemory*, GstMemory*, gsize*) { return FALSE; }

void frame_view_allocator_class_init(FrameViewAllocatorClass* type) {
  GST_ALLOCATOR_CLASS(type)->alloc = AllocFrameMemory;
  GST_ALLOCATOR_CLASS(type)->free = FreeFrameMemory;
}

void frame_view_allocator_init(FrameViewAllocator* self) {
  GstAllocator* allocator = GST_ALLOCATOR(self);
  allocator->mem_type = "DuoramicFrameView";
  allocator->mem_map = MapFrameMemory;
  allocator->mem_unmap = UnmapFrameMemory;
  allocator->mem_copy = ViewFrameMemory;
  allocator->mem_share = ViewFrameMemory;
  allocator->mem_is_span = FrameMemorySpans;
}

}  // namespace

GstAllocator* FrameViewAllocator() {
  static GstAllocator* allocator = [] {
    auto* made = GST_ALLOCATOR(g_object_new(frame_view_allocator_get_type(), nullptr));
    gst_object_ref_sink(made);
    return made;
  }();
  return allocator;
}

bool MovieStreamerReady() {
  static const bool ready = [] {
    if (!gst_init_check(nullptr, nullptr, nullptr)) return false;
    RankLibavFirst();
    return true;
  }();
  return ready;
}

MappedFrame::~MappedFrame() {
  if (video.buffer) gst_video_frame_unmap(&video);
}

namespace {

// The colours the caps declare; GStreamer fills in what a stream leaves
// out (BT.601 below 720 rows, BT.709 from there, studio range).
YuvColour ColourOf(const GstVideoInfo& info) {
  const GstVideoColorimetry& c = GST_VIDEO_INFO_COLORIMETRY(&info);
  YuvColour colour;
  colour.fullRange = c.range == GST_VIDEO_COLOR_RANGE_0_255;
  if (c.matrix == GST_VIDEO_COLOR_MATRIX_BT709)
    colour.matrix = YuvMatrix::Bt709;
  else if (c.matrix == GST_VIDEO_COLOR_MATRIX_BT2020)
    colour.matrix = YuvMatrix::Bt2020;
  return colour;
}

// Whether the buffer's rows are two fields woven together; a buffer of
// one field (alternate mode) is a picture of its own.
bool WovenFields(const GstVideoInfo& info, GstBuffer* buffer) {
  switch (GST_VIDEO_INFO_INTERLACE_MODE(&info)) {
    case GST_VIDEO_INTERLACE_MODE_INTERLEAVED:
      return true;
    case GST_VIDEO_INTERLACE_MODE_MIXED:
      return GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_INTERLACED);
    default:
      return false;
  }
}

}  // namespace

std::shared_ptr<MappedFrame> MapFrame(GstSample* sample) {
  GstCaps* caps = gst_sample_get_caps(sample);
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstVideoInfo info;
  if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)) return nullptr;
  GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&info);
  bool planar = IsGrabbedPlanarFormat(format);
  if (format != GST_VIDEO_FORMAT_BGR && format != GST_VIDEO_FORMAT_YUY2 && !planar)
    return nullptr;
  auto frame = std::make_shared<MappedFrame>();
  if (!gst_video_frame_map(&frame->video, &info, buffer, GST_MAP_READ)) {
    frame->video.buffer = nullptr;
    return nullptr;
  }
  GrabbedFrame& g = frame->grabbed;
  g.width = GST_VIDEO_FRAME_WIDTH(&frame->video);
  g.height = GST_VIDEO_FRAME_HEIGHT(&frame->video);
  auto* rows = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame->video, 0));
  int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame->video, 0);
  if (format == GST_VIDEO_FORMAT_BGR) {
    // Top-down rows read from the last: the bottom-up order of RGB24.
    g.format = FrameRgb24;
    g.pixels = rows + static_cast<ptrdiff_t>(stride) * (g.height - 1);
    g.stride = -stride;
  } else if (!planar) {
    g.format = FrameYuy2;
    g.pixels = rows;
    g.stride = stride;
  } else {
    // Components 1 and 2 are U and V in every 4:2:0 layout (YV12 stores V
    // first, NV12 interleaves them); the strides come from the buffer's
    // video meta where the decoder padded its rows.
    g.format = FrameYuv420;
    g.pixels = rows;
    g.stride = stride;
    g.u = static_cast<uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame->video, 1));
    g.v = static_cast<uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame->video, 2));
    g.chromaStride = GST_VIDEO_FRAME_COMP_STRIDE(&frame->video, 1);
    g.chromaStep = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame->video, 1);
    g.interlaced = WovenFields(info, buffer);
  }
  if (format != GST_VIDEO_FORMAT_BGR) g.colour = ColourOf(info);
  if (info.fps_n > 0 && info.fps_d > 0)
    frame->frameNs = static_cast<int64_t>(
        gst_util_uint64_scale(GST_SECOND, info.fps_d, info.fps_n));
  GstClockTime pts = GST_BUFFER_PTS(buffer);
  const GstSegment* segment = gst_sample_get_segment(sample);
  if (GST_CLOCK_TIME_IS_VALID(pts) && segment) {
    guint64 position = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, pts);
    if (GST_CLOCK_TIME_IS_VALID(position))
      frame->positionNs = static_cast<int64_t>(position);
  }
  return frame;
}

bool IsGrabbedPlanarFormat(GstVideoFormat format) {
  return format == GST_VIDEO_FORMAT_I420 || format == GST_VIDEO_FORMAT_YV12 ||
         format == GST_VIDEO_FORMAT_NV12;
}

MergeSample MergeSampleOf(const std::shared_ptr<MappedFrame>& frame) {
  MergeSample sample;
  sample.start = frame->positionNs / 100;
  sample.rows = frame->grabbed.pixels;
  sample.stride = frame->grabbed.stride;
  sample.owner = frame;
  return sample;
}

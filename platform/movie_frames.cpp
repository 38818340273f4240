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

}  // namespace

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
  }
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

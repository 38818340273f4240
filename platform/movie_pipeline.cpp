// The movie pipeline on GStreamer.  Every shape ends in appsinks whose
// callbacks run on the streaming threads: a side-by-side file's frames go
// straight to the frame sink, the two views of the other shapes go through
// StereoMerge, which assembles and delivers on whichever thread arrives.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "movie/avi_streams.h"
#include "movie/movie_boxes.h"
#include "movie/stereo_merge.h"
#include "platform/movie_graph.h"
#include "platform/movie_pipeline_parts.h"
#include "stereo/movie_layout.h"

namespace {

constexpr GstClockTime kPrerollWait = 20 * GST_SECOND;
constexpr int kSoundStream = 100;  // the stream number a decodebin of sound gets

// A bin whose children's errors reach the pipeline as warnings.  An error
// fails the pipeline's pause in progress and stops it: sound that cannot be
// decoded must not take the pictures with it.
struct SoundBin {
  GstBin parent;
};
struct SoundBinClass {
  GstBinClass parent;
};
G_DEFINE_TYPE(SoundBin, sound_bin, GST_TYPE_BIN)

void SoundBinMessage(GstBin* bin, GstMessage* message) {
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    GstMessage* warning =
        gst_message_new_warning(GST_MESSAGE_SRC(message), error, debug);
    g_clear_error(&error);
    g_free(debug);
    gst_message_unref(message);
    message = warning;
  }
  GST_BIN_CLASS(sound_bin_parent_class)->handle_message(bin, message);
}

void sound_bin_class_init(SoundBinClass* type) {
  GST_BIN_CLASS(type)->handle_message = SoundBinMessage;
}
void sound_bin_init(SoundBin*) {}

GType SoundBinType() { return sound_bin_get_type(); }

std::string FailedText(int code, const char* step) {
  char text[256];
  std::snprintf(text, sizeof text, "FAILED(hr=0x%x) in %s\n",
                static_cast<unsigned>(code), step);
  return text;
}

class StreamerGraph;

// One video view: its appsink, and the buffer it last prerolled, which the
// playing sink renders again and must not be shown twice.
struct VideoBranch {
  StreamerGraph* graph = nullptr;
  int input = -1;  // -1: straight to the frame sink; 0, 1: merge inputs
  GstElement* sink = nullptr;
  GstBuffer* prerolled = nullptr;
  // A merge sample that arrived while a seek flushed the merge.
  std::shared_ptr<MappedFrame> stashed;
  bool typed = false;  // the merge has this view's frame type
};

class StreamerGraph : public MovieGraph {
 public:
  StreamerGraph(MovieShape shape, const MovieGraphOptions& options,
                MovieFrameSink sink, std::function<void()> notify)
      : shape_(shape), options_(options), sink_(std::move(sink)),
        notify_(std::move(notify)) {}

  ~StreamerGraph() override {
    if (pipeline_) {
      if (merge_) merge_->BeginFlush();  // frees a streaming thread it holds
      gst_element_set_state(pipeline_, GST_STATE_NULL);
      GstBus* bus = gst_element_get_bus(pipeline_);
      gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
      gst_object_unref(bus);
      gst_object_unref(pipeline_);
    }
    for (auto& branch : branches_)
      if (branch->prerolled) gst_buffer_unref(branch->prerolled);
  }

  bool Create(const std::string& left, const std::string& right,
              GraphBuildResult& result);

  MovieShape Shape() const override { return shape_.load(); }
  bool RightFirst() const override { return rightFirst_.load(); }
  // What the file's own boxes said; without it the decoded caps may say
  // (Matroska's StereoMode, which matroskademux turns into multiview caps).
  void SetLayout(MovieShape shape, bool rightFirst, bool fromBoxes) {
    shape_ = shape;
    rightFirst_ = rightFirst;
    layoutFromBoxes_ = fromBoxes;
  }
  bool Run() override { return ChangeState(GST_STATE_PLAYING); }
  bool Pause() override { return ChangeState(GST_STATE_PAUSED); }

  bool Seek(int64_t positionNs) override {
    return SeekAt(rate_, positionNs < 0 ? 0 : positionNs);
  }

  bool StepFrame() override {
    bool sent = false;
    for (auto& branch : branches_)
      sent |= gst_element_send_event(
          branch->sink,
          gst_event_new_step(GST_FORMAT_BUFFERS, 1, 1.0, TRUE, FALSE));
    return sent;
  }

  bool SetRate(double rate) override {
    if (!(rate > 0) || rate > 64) return false;
    int64_t position = PositionNs();
    if (!SeekAt(rate, position < 0 ? 0 : position)) return false;
    rate_ = rate;
    return true;
  }

  bool HasVolume() const override { return volume_ != nullptr; }
  bool SetMuted(bool muted) override {
    if (!volume_) return false;
    g_object_set(volume_, "mute", muted ? TRUE : FALSE, nullptr);
    return true;
  }

  int64_t PositionNs() const override {
    gint64 position = -1;
    // The video sink knows where a frame step left the movie.
    GstElement* at = branches_.empty() ? pipeline_ : branches_[0]->sink;
    if (!gst_element_query_position(at, GST_FORMAT_TIME, &position) &&
        !gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position))
      return -1;
    return position;
  }

  int64_t DurationNs() const override {
    gint64 duration = -1;
    if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &duration))
      return -1;
    return duration;
  }

  int64_t ShownPositionNs() const override { return shownNs_.load(); }

  int64_t FrameDurationNs() const override { return frameNs_.load(); }

  std::vector<int> TakeEvents() override {
    std::lock_guard lock(eventLock_);
    std::vector<int> events;
    events.swap(events_);
    return events;
  }

  std::string ErrorText() const override {
    std::lock_guard lock(eventLock_);
    return errorText_;
  }

  // Whether frames may come as decoded, in buffers the sink offers; when
  // they may, the libav video decoder that renders them.
  bool DecodesIntoGrabbedBuffers() const {
    return IsOneFrameShape(shape_) && !options_.forceRgb;
  }
  void SetVideoDecoder(GstElement* decoder) { videoDecoder_ = decoder; }
  FrameArrangement Arrangement() const {
    if (!options_.sideBySideViews) return FrameArrangement::AsIs;
    bool swap = rightFirst_;
    switch (shape_.load()) {
      case MovieShape::OverUnder:
        return swap ? FrameArrangement::UnderOver : FrameArrangement::OverUnder;
      case MovieShape::MvHevc:
        return FrameArrangement::Mono;
      case MovieShape::SideBySide:
        return swap ? FrameArrangement::SwapHalves : FrameArrangement::AsIs;
      default:
        return FrameArrangement::AsIs;
    }
  }

  // Streaming threads.
  void Frame(VideoBranch& branch, GstSample* sample);
  void EndOfStream(VideoBranch& branch) {
    if (merge_) merge_->EndOfStream(branch.input);
  }
  void FlushStopped(VideoBranch& branch) {
    std::lock_guard lock(mergeLock_);
    branch.stashed.reset();  // what came before the flush is out of date
  }
  GstBusSyncReply BusMessage(GstMessage* message);
  void PadAdded(GstPad* pad, int file, int stream);
  void DemuxerDone() {
    std::lock_guard lock(buildLock_);
    demuxerDone_ = true;
    demuxed_.notify_all();
  }

 private:
  bool ChangeState(GstState state) {
    GstStateChangeReturn ret = gst_element_set_state(pipeline_, state);
    return ret != GST_STATE_CHANGE_FAILURE;
  }
  bool SeekAt(double rate, int64_t positionNs);
  GstElement* Add(const char* factory, GstElement* into = nullptr);
  void AddVideoBranch(GstPad* pad, int input);
  void TakeMultiviewLayout(const GstStructure* decoded);
  void AddAudioBranch(GstPad* pad, bool heard);
  void AddDecoder(GstPad* pad, int file, int stream);
  bool Preroll(GraphBuildResult& result);
  void Post(int event) {
    {
      std::lock_guard lock(eventLock_);
      events_.push_back(event);
    }
    if (notify_) notify_();
  }

  std::atomic<MovieShape> shape_;
  std::atomic<bool> rightFirst_{false};
  bool layoutFromBoxes_ = false;
  MovieGraphOptions options_;
  MovieFrameSink sink_;
  std::function<void()> notify_;
  GstElement* pipeline_ = nullptr;
  GstElement* volume_ = nullptr;
  std::vector<std::unique_ptr<VideoBranch>> branches_;
  std::unique_ptr<StereoMerge> merge_;
  // The colours the left view's stream declares, for the merged frames
  // (matrix x 2 + full range): the merge itself carries rows only.
  std::atomic<int> mergeColour_{0};
  std::atomic<GstElement*> videoDecoder_{nullptr};  // owned by the pipeline
  std::mutex presentLock_;  // one frame at a time reaches the sink
  std::mutex mergeLock_;
  bool mergeFlushing_ = false;
  mutable std::mutex eventLock_;
  std::vector<int> events_;
  std::string errorText_;  // the first error's source and message
  std::atomic<int64_t> frameNs_{0};
  std::atomic<int64_t> shownNs_{-1};
  std::atomic<bool> missingDecoder_{false};
  std::mutex missingLock_;
  std::string missingWhat_;  // the missing-plugin message's description
  std::atomic<bool> mismatched_{false};
  std::atomic<bool> failed_{false};
  std::atomic<int> errorCode_{0};
  std::mutex buildLock_;  // pads are added on streaming threads
  bool audioTaken_ = false;
  std::condition_variable demuxed_;
  bool demuxerDone_ = false;
  double rate_ = 1.0;
};

// ---- Callbacks from GStreamer ---------------------------------------------

GstFlowReturn OnPreroll(GstAppSink* sink, gpointer data) {
  auto* branch = static_cast<VideoBranch*>(data);
  GstSample* sample = gst_app_sink_pull_preroll(sink);
  if (!sample) return GST_FLOW_OK;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  if (branch->prerolled) gst_buffer_unref(branch->prerolled);
  branch->prerolled = buffer ? gst_buffer_ref(buffer) : nullptr;
  branch->graph->Frame(*branch, sample);
  gst_sample_unref(sample);
  return GST_FLOW_OK;
}

GstFlowReturn OnSample(GstAppSink* sink, gpointer data) {
  auto* branch = static_cast<VideoBranch*>(data);
  GstSample* sample = gst_app_sink_pull_sample(sink);
  if (!sample) return GST_FLOW_OK;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  bool shown = buffer && buffer == branch->prerolled;
  if (branch->prerolled) gst_buffer_unref(branch->prerolled);
  branch->prerolled = nullptr;
  if (!shown) branch->graph->Frame(*branch, sample);
  gst_sample_unref(sample);
  return GST_FLOW_OK;
}

void OnEos(GstAppSink*, gpointer data) {
  auto* branch = static_cast<VideoBranch*>(data);
  branch->graph->EndOfStream(*branch);
}

GstPadProbeReturn OnSinkEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* branch = static_cast<VideoBranch*>(data);
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event && GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP)
    branch->graph->FlushStopped(*branch);
  return GST_PAD_PROBE_OK;
}

GstBusSyncReply OnBus(GstBus*, GstMessage* message, gpointer data) {
  return static_cast<StreamerGraph*>(data)->BusMessage(message);
}

// Pad-added carries which file (0 left, 1 right) and, behind a demuxer,
// which of its video streams; packed into the signal's user data.
struct PadOrigin {
  StreamerGraph* graph;
  int file;
  int stream;  // -1: a decodebin's output, the stream is told by its caps
};

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* origin = static_cast<PadOrigin*>(data);
  origin->graph->PadAdded(pad, origin->file, origin->stream);
}

void OnNoMorePads(GstElement*, gpointer data) {
  static_cast<StreamerGraph*>(data)->DemuxerDone();
}

// ---- Building ---------------------------------------------------------------

GstElement* StreamerGraph::Add(const char* factory, GstElement* into) {
  GstElement* element = gst_element_factory_make(factory, nullptr);
  if (element) gst_bin_add(GST_BIN(into ? into : pipeline_), element);
  return element;
}

// Answers the allocation query of a sink that takes 4:2:0 frames as decoded:
// a pool of buffers with video meta, so that libav's decoders write frames
// straight into buffers that reach the grabber, padded rows and all, rather
// than into their own, out of which every frame would be copied; and an
// allocator under the pool whose memory the frames the decoder keeps as
// references are viewed in instead of copied into (see FrameViewAllocator).
GstPadProbeReturn OnAllocationQuery(GstPad*, GstPadProbeInfo* info, gpointer) {
  GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
  if (!query || GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION)
    return GST_PAD_PROBE_OK;
  GstCaps* caps = nullptr;
  gst_query_parse_allocation(query, &caps, nullptr);
  GstVideoInfo video;
  if (!caps || !gst_video_info_from_caps(&video, caps)) return GST_PAD_PROBE_OK;
  GstBufferPool* pool = gst_video_buffer_pool_new();
  GstStructure* config = gst_buffer_pool_get_config(pool);
  gst_buffer_pool_config_set_params(config, caps, GST_VIDEO_INFO_SIZE(&video), 0, 0);
  gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
  gst_buffer_pool_set_config(pool, config);
  gst_query_add_allocation_pool(query, pool, GST_VIDEO_INFO_SIZE(&video), 0, 0);
  gst_object_unref(pool);
  gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
  GstAllocationParams params;
  gst_allocation_params_init(&params);
  gst_query_add_allocation_param(query, FrameViewAllocator(), &params);
  return GST_PAD_PROBE_HANDLED;
}

// matroskademux turns StereoMode into multiview caps, which the decoder
// keeps; the other multiview modes (checkerboard, ...) stay side by side.
void StreamerGraph::TakeMultiviewLayout(const GstStructure* decoded) {
  if (shape_ != MovieShape::SideBySide) return;
  const char* mode = gst_structure_get_string(decoded, "multiview-mode");
  if (!mode) return;
  std::string_view m = mode;
  if (m != "top-bottom" && m != "side-by-side") return;
  guint flags = 0, mask = 0;
  gst_structure_get_flagset(decoded, "multiview-flags", &flags, &mask);
  SetLayout(m == "top-bottom" ? MovieShape::OverUnder : MovieShape::SideBySide,
            (flags & GST_VIDEO_MULTIVIEW_FLAGS_RIGHT_VIEW_FIRST) != 0, false);
}

// queue ! videoconvert ! capsfilter ! appsink.
void StreamerGraph::AddVideoBranch(GstPad* pad, int input) {
  GstElement* queue = Add("queue");
  GstElement* convert = Add("videoconvert");
  GstElement* filter = Add("capsfilter");
  GstElement* sink = Add("appsink");
  if (!queue || !convert || !filter || !sink) return;
  g_object_set(convert, "n-threads", 0u, nullptr);
  // A decoder's YUV frames reach the grabber as YUY2 (a cheap repacking;
  // presentation converts them to colour as it places the views) unless RGB
  // is forced; RGB and anything else come as 24-bit BGR.  A side-by-side
  // movie's 8-bit 4:2:0 frames pass videoconvert untouched: presentation
  // reads their planes itself (the merge of the other shapes takes packed
  // rows only).
  GstCaps* decoded = gst_pad_get_current_caps(pad);
  bool yuv = false, planar = false;
  int width = 0;
  if (decoded && gst_caps_get_size(decoded) > 0) {
    const GstStructure* type = gst_caps_get_structure(decoded, 0);
    gst_structure_get_int(type, "width", &width);
    const char* format = gst_structure_get_string(type, "format");
    GstVideoFormat code =
        format ? gst_video_format_from_string(format) : GST_VIDEO_FORMAT_UNKNOWN;
    const GstVideoFormatInfo* info = gst_video_format_get_info(code);
    yuv = info && GST_VIDEO_FORMAT_INFO_IS_YUV(info);
    planar = input < 0 && IsGrabbedPlanarFormat(code);
    if (input < 0 && !layoutFromBoxes_) TakeMultiviewLayout(type);
  }
  if (decoded) gst_caps_unref(decoded);
  // Frames that go on to be converted are better copied (OnElementAdded),
  // and libav makes itself a new pool for every frame it renders into a
  // downstream pool when the frame is narrower than the macroblocks that
  // code it (an 854 or 1366 wide movie): such decoders copy instead.
  GstElement* decoder = videoDecoder_.load();
  if (decoder && (!planar || width % 16 != 0))
    g_object_set(decoder, "direct-rendering", FALSE, nullptr);
  const char* wanted = "video/x-raw,format=BGR";
  if (!options_.forceRgb && planar)
    wanted = "video/x-raw,format={I420,YV12,NV12}";
  else if (!options_.forceRgb && yuv)
    wanted = "video/x-raw,format=YUY2";
  GstCaps* caps = gst_caps_from_string(wanted);
  g_object_set(filter, "caps", caps, nullptr);
  gst_caps_unref(caps);
  g_object_set(sink, "sync", options_.paced ? TRUE : FALSE,
               "enable-last-sample", FALSE, "max-buffers", 2u, nullptr);
  // Played in time, a frame more than 20 ms late is dropped rather than
  // shown late (the picture would fall ever further behind the sound), and
  // the decoder is told so that it can skip work; a video sink does the same.
  if (options_.paced)
    g_object_set(sink, "qos", TRUE, "max-lateness", gint64{20 * GST_MSECOND},
                 nullptr);
  auto branch = std::make_unique<VideoBranch>();
  branch->graph = this;
  branch->input = input;
  branch->sink = sink;
  GstAppSinkCallbacks callbacks{};
  callbacks.eos = OnEos;
  callbacks.new_preroll = OnPreroll;
  callbacks.new_sample = OnSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, branch.get(),
                             nullptr);
  GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
  gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_EVENT_FLUSH, OnSinkEvent,
                    branch.get(), nullptr);
  if (!options_.forceRgb && planar)
    gst_pad_add_probe(sinkPad,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM |
                                      GST_PAD_PROBE_TYPE_PUSH),
                      OnAllocationQuery, nullptr, nullptr);
  gst_object_unref(sinkPad);
  branches_.push_back(std::move(branch));
  gst_element_link_many(queue, convert, filter, sink, nullptr);
  for (GstElement* e : {sink, filter, convert, queue})
    gst_element_sync_state_with_parent(e);
  GstPad* in = gst_element_get_static_pad(queue, "sink");
  gst_pad_link(pad, in);
  gst_object_unref(in);
}

// The left file's audio is heard; any other goes to a silent sink.  The
// branch goes into the bin of the element the pad comes from: a sound bin
// keeps its failures to itself.
void StreamerGraph::AddAudioBranch(GstPad* pad, bool heard) {
  GstElement* owner = gst_pad_get_parent_element(pad);
  GstObject* bin = owner ? gst_object_get_parent(GST_OBJECT(owner)) : nullptr;
  GstElement* into = bin && bin != GST_OBJECT(pipeline_) ? GST_ELEMENT(bin) : nullptr;
  std::vector<GstElement*> chain;
  if (heard) {
    for (const char* name : {"queue", "audioconvert", "audioresample",
                             "volume", "autoaudiosink"})
      chain.push_back(Add(name, into));
  } else {
    chain.push_back(Add("fakesink", into));
  }
  if (bin) gst_object_unref(bin);
  if (owner) gst_object_unref(owner);
  for (GstElement* e : chain)
    if (!e) return;
  if (heard) volume_ = chain[3];
  else g_object_set(chain[0], "sync", options_.paced ? TRUE : FALSE, nullptr);
  for (size_t i = 0; i + 1 < chain.size(); ++i)
    gst_element_link(chain[i], chain[i + 1]);
  for (auto e = chain.rbegin(); e != chain.rend(); ++e)
    gst_element_sync_state_with_parent(*e);
  GstPad* in = gst_element_get_static_pad(chain[0], "sink");
  gst_pad_link(pad, in);
  gst_object_unref(in);
}

// A demuxer's stream into a decodebin of its own, behind a queue so that
// each view decodes on its own thread.  Sound decodes in a SoundBin, so
// that sound nothing can decode leaves the pictures playing silently
// instead of failing the movie (a file's decodebin, which decodes the
// sound of the other shapes, only says so in a missing-plugin message).
void StreamerGraph::AddDecoder(GstPad* pad, int file, int stream) {
  GstElement* into = nullptr;
  if (stream == kSoundStream) {
    into = GST_ELEMENT(g_object_new(SoundBinType(), nullptr));
    gst_bin_add(GST_BIN(pipeline_), into);
  }
  GstElement* queue = Add("queue", into);
  GstElement* decoder = Add("decodebin", into);
  if (!queue || !decoder) return;
  auto* origin = new PadOrigin{this, file, stream};
  g_signal_connect_data(decoder, "pad-added", G_CALLBACK(OnPadAdded), origin,
                        [](gpointer data, GClosure*) {
                          delete static_cast<PadOrigin*>(data);
                        },
                        GConnectFlags(0));
  gst_element_link(queue, decoder);
  GstPad* in = gst_element_get_static_pad(queue, "sink");
  if (into) {
    GstPad* ghost = gst_ghost_pad_new("sink", in);
    gst_element_add_pad(into, ghost);
    gst_object_unref(in);
    in = GST_PAD(gst_object_ref(ghost));
    gst_element_sync_state_with_parent(into);
  }
  gst_element_sync_state_with_parent(decoder);
  gst_element_sync_state_with_parent(queue);
  gst_pad_link(pad, in);
  gst_object_unref(in);
}

// Whether a message says no decoder was found for sound, which is no
// reason to refuse the pictures.
bool ForSound(GstMessage* message) {
  const GstStructure* details = gst_message_get_structure(message);
  const GValue* wanted = details ? gst_structure_get_value(details, "detail") : nullptr;
  const GstCaps* caps =
      wanted && GST_VALUE_HOLDS_CAPS(wanted) ? gst_value_get_caps(wanted) : nullptr;
  return caps && gst_caps_get_size(caps) > 0 &&
         g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)),
                          "audio/");
}

void StreamerGraph::PadAdded(GstPad* pad, int file, int stream) {
  std::lock_guard lock(buildLock_);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const char* kind =
      caps && gst_caps_get_size(caps) > 0
          ? gst_structure_get_name(gst_caps_get_structure(caps, 0))
          : "";
  std::string name = kind;
  gst_caps_unref(caps);
  gchar* padName = gst_pad_get_name(pad);
  std::string pn = padName ? padName : "";
  g_free(padName);
  if (shape_ == MovieShape::TwoStreams && stream < 0) {
    // avidemux: "video_0", "video_1", "audio_0"; each decodes (or, raw,
    // passes through decodebin) on its own thread.
    if (pn.rfind("video_", 0) == 0) {
      int index = std::atoi(pn.c_str() + 6);
      if (index <= 1) AddDecoder(pad, file, index);
    } else if (pn.rfind("audio_", 0) == 0) {
      AddDecoder(pad, file, kSoundStream);
    }
    return;
  }
  if (name.rfind("video/x-raw", 0) == 0) {
    int input = -1;
    if (shape_ == MovieShape::TwoFiles) input = file;
    if (shape_ == MovieShape::TwoStreams) input = stream;
    // A file's further video streams, and a second pad for one view, are
    // left unlinked-to-nothing: they go to a silent sink.
    for (auto& b : branches_)
      if (b->input == input) input = -2;
    bool oneFrame = IsOneFrameShape(shape_);
    if (input == -2 || (!oneFrame && input < 0) ||
        (oneFrame && !branches_.empty())) {
      AddAudioBranch(pad, false);
      return;
    }
    AddVideoBranch(pad, input);
  } else if (name.rfind("audio/x-raw", 0) == 0) {
    bool heard = options_.paced && file == 0 && !audioTaken_;
    if (heard) audioTaken_ = true;
    AddAudioBranch(pad, heard);
  }
}

GstBusSyncReply StreamerGraph::BusMessage(GstMessage* message) {
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
      Post(kGraphEndOfStream);
      break;
    case GST_MESSAGE_ERROR: {
      failed_ = true;
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      if (error) {
        errorCode_ = error->code;
        GstObject* source = GST_MESSAGE_SRC(message);
        const char* from = source && GST_OBJECT_NAME(source)
                               ? GST_OBJECT_NAME(source) : "pipeline";
        {
          std::lock_guard lock(eventLock_);  // Post() below takes it too
          if (errorText_.empty())
            errorText_ = std::string(from) + ": " +
                         (error->message ? error->message : "error");
        }
        if ((error->domain == GST_CORE_ERROR &&
             error->code == GST_CORE_ERROR_MISSING_PLUGIN) ||
            (error->domain == GST_STREAM_ERROR &&
             (error->code == GST_STREAM_ERROR_CODEC_NOT_FOUND ||
              error->code == GST_STREAM_ERROR_TYPE_NOT_FOUND ||
              error->code == GST_STREAM_ERROR_WRONG_TYPE)))
          missingDecoder_ = true;
        g_error_free(error);
      }
      Post(kGraphErrorAbort);
      break;
    }
    case GST_MESSAGE_ELEMENT:
      if (gst_is_missing_plugin_message(message) && !ForSound(message)) {
        if (gchar* what = gst_missing_plugin_message_get_description(message)) {
          std::lock_guard lock(missingLock_);
          if (missingWhat_.empty()) missingWhat_ = what;
          g_free(what);
        }
        missingDecoder_ = true;
      }
      break;
    default:
      break;
  }
  return GST_BUS_DROP;
}

// libav's video decoders write into buffers they keep as references, so
// every frame they hand on is copied again into fresh, unpooled memory;
// where frames go on to a converter, decoding into their own frames and
// copying once into pooled buffers is cheaper.  A side-by-side movie's
// 4:2:0 frames go on as decoded, into buffers the sink offers, whose memory
// is viewed rather than copied (FrameViewAllocator).  The decoders decode
// with one frame thread more than there are processors, as libavcodec
// picks by itself: a thread waiting for the rows of its reference frame
// then leaves no processor idle (GStreamer's "auto" gives one per
// processor; one more was up to 4 % faster, never slower, on a 3840 x 1080
// H.264 movie with two processors).
void OnElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
  GObjectClass* type = G_OBJECT_GET_CLASS(element);
  if (!g_object_class_find_property(type, "direct-rendering")) return;
  auto* graph = static_cast<StreamerGraph*>(data);
  bool direct = graph->DecodesIntoGrabbedBuffers();
  g_object_set(element, "direct-rendering", direct ? TRUE : FALSE, nullptr);
  if (direct) graph->SetVideoDecoder(element);
  if (g_object_class_find_property(type, "max-threads"))
    g_object_set(element, "max-threads", int(g_get_num_processors()) + 1, nullptr);
}

bool StreamerGraph::Create(const std::string& left, const std::string& right,
                           GraphBuildResult& result) {
  pipeline_ = gst_pipeline_new("movie");
  if (pipeline_)
    g_signal_connect(pipeline_, "deep-element-added",
                     G_CALLBACK(OnElementAdded), this);
  if (!pipeline_) {
    result = {GraphFailure::Step,
              FailedText(GST_CORE_ERROR_FAILED,
                         "CoCreateInstance(CLSID_FilterGraph, NULL, "
                         "CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void "
                         "**)&pGB1)"),
              GST_CORE_ERROR_FAILED};
    return false;
  }
  gst_object_ref_sink(pipeline_);
  GstBus* bus = gst_element_get_bus(pipeline_);
  gst_bus_set_sync_handler(bus, OnBus, this, nullptr);
  gst_object_unref(bus);

  if (!IsOneFrameShape(shape_)) {
    MergeSettings settings;
    settings.intervalMs = options_.intervalMs;
    bool forceRgb = options_.forceRgb;
    settings.forceRgb = [forceRgb] { return forceRgb; };
    settings.parallaxX = options_.parallaxX;
    settings.parallaxY = options_.parallaxY;
    merge_ = std::make_unique<StereoMerge>(
        settings, [this](const MergeFrame& f) {
          GrabbedFrame frame;
          frame.width = f.width;
          frame.height = f.height;
          frame.format = f.frameFormat;
          frame.pixels = f.rows;
          frame.stride = static_cast<int>(f.stride);
          int colour = mergeColour_.load();
          frame.colour = {static_cast<YuvMatrix>(colour / 2), colour % 2 == 1};
          std::lock_guard lock(presentLock_);
          sink_(frame, f.start * 100);
          return true;
        });
    merge_->Activate(StereoMerge::kFirstSample);
  }

  const std::string* files[2] = {&left, &right};
  int count = shape_ == MovieShape::TwoFiles ? 2 : 1;
  for (int file = 0; file < count; ++file) {
    GstElement* source = Add("filesrc");
    GstElement* demux =
        Add(shape_ == MovieShape::TwoStreams ? "avidemux" : "decodebin");
    if (!source || !demux) {
      result = {GraphFailure::MissingDecoder, "", GST_CORE_ERROR_MISSING_PLUGIN};
      return false;
    }
    g_object_set(source, "location", files[file]->c_str(), nullptr);
    auto* origin = new PadOrigin{this, file, -1};
    g_signal_connect_data(demux, "pad-added", G_CALLBACK(OnPadAdded), origin,
                          [](gpointer data, GClosure*) {
                            delete static_cast<PadOrigin*>(data);
                          },
                          GConnectFlags(0));
    if (shape_ == MovieShape::TwoStreams)
      g_signal_connect(demux, "no-more-pads", G_CALLBACK(OnNoMorePads), this);
    gst_element_link(source, demux);
  }
  return Preroll(result);
}

bool StreamerGraph::Preroll(GraphBuildResult& result) {
  GstStateChangeReturn ret = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  if (ret == GST_STATE_CHANGE_ASYNC)
    ret = gst_element_get_state(pipeline_, nullptr, nullptr, kPrerollWait);
  if (shape_ == MovieShape::TwoStreams && ret != GST_STATE_CHANGE_FAILURE) {
    // avidemux has no sink behind it until its pads come, so the pipeline
    // pauses at once; each view's sink comes only once its decoder knows
    // the frames.  So wait for both views' sinks, or a failure, before
    // asking whether they prerolled.  Polled: the bus handler sets the
    // failure flags without the build lock, which it may run under.
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::nanoseconds(kPrerollWait);
    {
      std::unique_lock lock(buildLock_);
      while (!(demuxerDone_ && branches_.size() >= 2) && !missingDecoder_ &&
             !failed_ && std::chrono::steady_clock::now() < deadline)
        demuxed_.wait_for(lock, std::chrono::milliseconds(20));
    }
    ret = gst_element_get_state(pipeline_, nullptr, nullptr, kPrerollWait);
  }
  size_t wanted = IsOneFrameShape(shape_) ? 1 : 2;
  std::lock_guard lock(buildLock_);
  if (branches_.size() < wanted || missingDecoder_ ||
      ret == GST_STATE_CHANGE_FAILURE) {
    if (missingDecoder_ || branches_.size() < wanted) {
      result = {GraphFailure::MissingDecoder, "", errorCode_.load()};
      std::lock_guard missingLock(missingLock_);
      result.missing = missingWhat_;
    } else {
      result = {GraphFailure::Step,
                FailedText(errorCode_.load(), "hr=pGB1->RenderFile(wFile, NULL)"),
                errorCode_.load()};
    }
    return false;
  }
  if (mismatched_) {
    result = {GraphFailure::MismatchedInputs, "", GST_CORE_ERROR_NEGOTIATION};
    return false;
  }
  if (ret != GST_STATE_CHANGE_SUCCESS && ret != GST_STATE_CHANGE_NO_PREROLL) {
    result = {GraphFailure::Step, FailedText(GST_CORE_ERROR_STATE_CHANGE,
                                             "pMC1->Run()"),
              GST_CORE_ERROR_STATE_CHANGE};
    return false;
  }
  return true;
}

bool StreamerGraph::SeekAt(double rate, int64_t positionNs) {
  auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
  if (!merge_)
    return gst_element_seek(pipeline_, rate, GST_FORMAT_TIME, flags,
                            GST_SEEK_TYPE_SET, positionNs, GST_SEEK_TYPE_NONE,
                            GST_CLOCK_TIME_NONE);
  // The merge is flushed around the seek; a view's first frame after its
  // flush may arrive before the other view has flushed, so it waits aside.
  {
    std::lock_guard lock(mergeLock_);
    mergeFlushing_ = true;
    for (auto& branch : branches_) branch->stashed.reset();
  }
  merge_->BeginFlush();
  bool ok = gst_element_seek(pipeline_, rate, GST_FORMAT_TIME, flags,
                             GST_SEEK_TYPE_SET, positionNs, GST_SEEK_TYPE_NONE,
                             GST_CLOCK_TIME_NONE);
  std::vector<std::pair<int, std::shared_ptr<MappedFrame>>> waiting;
  {
    std::lock_guard lock(mergeLock_);
    merge_->EndFlush(StereoMerge::kFirstSample);
    mergeFlushing_ = false;
    for (auto& branch : branches_)
      if (branch->stashed)
        waiting.emplace_back(branch->input, std::move(branch->stashed));
  }
  for (auto& [input, frame] : waiting)
    merge_->Receive(input, MergeSampleOf(frame));
  return ok;
}

void StreamerGraph::Frame(VideoBranch& branch, GstSample* sample) {
  auto frame = MapFrame(sample);
  if (!frame) return;
  if (frame->frameNs > 0) frameNs_ = frame->frameNs;
  if (branch.input <= 0) shownNs_ = frame->positionNs;
  if (!merge_) {
    GrabbedFrame grabbed = frame->grabbed;
    grabbed.owner = frame;  // the mapped sample, for as long as it is held
    FrameArrangement how = Arrangement();
    if (how != FrameArrangement::AsIs) {
      GrabbedFrame arranged;
      if (!ArrangeSideBySide(grabbed, how, arranged)) return;
      grabbed = std::move(arranged);
    }
    std::lock_guard lock(presentLock_);
    sink_(grabbed, frame->positionNs);
    return;
  }
  if (frame->grabbed.format == FrameYuv420) return;  // never asked of a merge
  if (branch.input <= 0) {
    const YuvColour& c = frame->grabbed.colour;
    mergeColour_ = 2 * static_cast<int>(c.matrix) + (c.fullRange ? 1 : 0);
  }
  MergeVideoType type{true, frame->grabbed.format,
                      frame->grabbed.format == FrameRgb24 ? 24 : 16,
                      frame->grabbed.width, frame->grabbed.height};
  // The merge refuses samples until both views have a type: a view's first
  // frame waits aside for the other view, as it may be the only one it
  // sends before the pipeline plays.
  std::vector<std::pair<int, std::shared_ptr<MappedFrame>>> ready;
  {
    std::scoped_lock lock(buildLock_, mergeLock_);
    if (merge_->SetInputType(branch.input, type) != 0) {
      mismatched_ = true;
      return;
    }
    branch.typed = true;
    bool allTyped = branches_.size() == 2;
    for (auto& b : branches_) allTyped = allTyped && b->typed;
    if (mergeFlushing_ || !allTyped) {
      branch.stashed = std::move(frame);
      return;
    }
    for (auto& b : branches_)
      if (b.get() != &branch && b->stashed)
        ready.emplace_back(b->input, std::move(b->stashed));
  }
  for (auto& [input, waiting] : ready) merge_->Receive(input, MergeSampleOf(waiting));
  merge_->Receive(branch.input, MergeSampleOf(frame));
}

struct MovieFileLayout {
  MovieShape shape = MovieShape::SideBySide;
  bool rightFirst = false;
  bool fromBoxes = false;  // the boxes said; the caps are not asked
};

// An MP4's boxes: a second HEVC layer with its eye boxes is a spatial
// video, whose frames are the left eye alone; `st3d` says how the two views
// share a frame.  Mono and custom layouts keep the side-by-side default.
MovieFileLayout LayoutOfBoxes(const MovieBoxes& boxes) {
  if (boxes.IsMvHevc()) return {MovieShape::MvHevc, false, true};
  if (!boxes.stereoMode) return {};
  switch (*boxes.stereoMode) {
    case BoxStereoMode::TopBottom:
      return {MovieShape::OverUnder, false, true};
    case BoxStereoMode::LeftRight:
      return {MovieShape::SideBySide, false, true};
    case BoxStereoMode::RightLeft:
      return {MovieShape::SideBySide, true, true};
    default:
      return {};
  }
}

}  // namespace

const char* MovieShapeName(MovieShape shape) {
  switch (shape) {
    case MovieShape::SideBySide:
      return "side-by-side";
    case MovieShape::TwoStreams:
      return "two-streams";
    case MovieShape::TwoFiles:
      return "two-files";
    case MovieShape::OverUnder:
      return "over-under";
    case MovieShape::MvHevc:
      return "mv-hevc";
  }
  return "";
}

std::unique_ptr<MovieGraph> BuildMovieGraph(const std::string& left,
                                            const std::string& right,
                                            const MovieGraphOptions& options,
                                            MovieFrameSink sink,
                                            std::function<void()> notify,
                                            GraphBuildResult& result) {
  result = {};
  if (!MovieStreamerReady()) {
    result = {GraphFailure::Step,
              FailedText(GST_CORE_ERROR_FAILED,
                         "CoCreateInstance(CLSID_FilterGraph, NULL, "
                         "CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void "
                         "**)&pGB1)"),
              GST_CORE_ERROR_FAILED};
    return nullptr;
  }
  MovieShape shape = MovieShape::SideBySide;
  if (!right.empty()) {
    shape = MovieShape::TwoFiles;
  } else if (CountVideoStreams(left, options.parallaxX(), options.parallaxY())
                 .result == 1) {
    shape = MovieShape::TwoStreams;
  }
  for (const std::string* file : {&left, &right}) {
    std::error_code ignored;
    if (!file->empty() && !std::filesystem::is_regular_file(*file, ignored)) {
      result = {GraphFailure::MissingDecoder, "", GST_RESOURCE_ERROR_NOT_FOUND};
      return nullptr;
    }
  }
  auto graph = std::make_unique<StreamerGraph>(shape, options, std::move(sink),
                                               std::move(notify));
  MovieBoxes boxes;
  if (shape == MovieShape::SideBySide && ReadMovieBoxes(left, boxes)) {
    MovieFileLayout layout = LayoutOfBoxes(boxes);
    graph->SetLayout(layout.shape, layout.rightFirst, layout.fromBoxes);
  }
  if (!graph->Create(left, right, result)) return nullptr;
  return graph;
}

// The GStreamer movie pipeline on small movies made by ffmpeg: frame rows,
// single steps, accurate seeks, the two-view shapes and their failures.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include <unistd.h>

#include <gst/app/gstappsink.h>

#include "core/viewer_state.h"
#include "platform/movie_graph.h"
#include "platform/movie_pipeline_parts.h"
#include "stereo/present.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Frame n of the made movies is red n x 10 all over; green tells the view
// (200 left, 50 right); blue is the row y x 8, so row order shows.
constexpr int kW = 32, kH = 16;

std::string Geq(int fps, int seconds, int green) {
  return "color=c=black:s=" + std::to_string(kW) + "x" + std::to_string(kH) +
         ":r=" + std::to_string(fps) + ":d=" + std::to_string(seconds) +
         ",format=gbrp,geq=r='N*10':g='" + std::to_string(green) +
         "':b='Y*8',format=bgr24";
}

struct Captured {
  int width, height, format;
  int64_t positionNs;
  uint8_t left[3], right[3];  // B, G, R of stored row 0 at x 0 and at w/2
};

struct Recorder {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Captured> frames;
  std::vector<int> events;

  MovieFrameSink Sink() {
    return [this](const GrabbedFrame& f, int64_t at) {
      Captured c{f.width, f.height, f.format, at, {}, {}};
      const uint8_t* row = f.pixels;
      int e = f.format == FrameRgb24 ? 3 : f.format == FrameYuy2 ? 2 : 1;
      for (int i = 0; i < 3; ++i) {
        c.left[i] = row[i % e];
        c.right[i] = row[(f.width / 2) * e + i % e];
      }
      std::lock_guard guard(lock);
      frames.push_back(c);
      changed.notify_all();
    };
  }
  size_t Count() {
    std::lock_guard guard(lock);
    return frames.size();
  }
  bool WaitFor(size_t count, std::chrono::milliseconds limit = 10s) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, limit, [&] { return frames.size() >= count; });
  }
  Captured Last() {
    std::lock_guard guard(lock);
    return frames.back();
  }
};

class MoviePipelineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) return;
    dir_ = fs::temp_directory_path() /
           ("duoramic-movies-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    auto make = [](const std::string& args, const char* name) {
      std::string command = "ffmpeg -v error -y " + args + " '" +
                            (dir_ / name).string() + "'";
      return std::system(command.c_str()) == 0;
    };
    const std::string raw = " -c:v rawvideo -pix_fmt bgr24";
    made_ = make("-f lavfi -i \"" + Geq(10, 2, 200) + "\"" + raw, "raw.avi") &&
            make("-f lavfi -i \"" + Geq(10, 2, 200) + "\" -f lavfi -i \"" +
                     Geq(10, 2, 50) + "\" -map 0 -map 1" + raw,
                 "two.avi") &&
            make("-f lavfi -i \"" + Geq(15, 1, 50) + "\"" + raw, "right15.avi") &&
            make("-f lavfi -i \"" + Geq(10, 1, 50) +
                     "\" -c:v rawvideo -pix_fmt yuyv422",
                 "yuy2.avi") &&
            make("-f lavfi -i \"" + Geq(10, 2, 200) + "\" -f lavfi -i \"" +
                     Geq(10, 2, 50) + "\" -f lavfi -i sine=d=2 -map 0 -map 1 "
                     "-map 2 -c:a adpcm_ima_wav" + raw,
                 "sound.avi") &&
            make("-f lavfi -i \"" + Geq(10, 2, 200) +
                     "\" -f lavfi -i sine=d=2 -c:a adpcm_ima_wav -c:v mjpeg",
                 "sbs_sound.avi") &&
            make("-f lavfi -i testsrc2=s=128x48:r=25:d=1 -c:v libx264 "
                 "-preset ultrafast -pix_fmt yuv420p",
                 "sbs.mp4");
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }
  void SetUp() override {
    if (!made_) GTEST_SKIP() << "ffmpeg is missing or could not make the movies";
  }
  static std::string Movie(const char* name) { return (dir_ / name).string(); }

  std::unique_ptr<MovieGraph> Build(const std::string& left,
                                    const std::string& right = "",
                                    bool rgb = true) {
    MovieGraphOptions options;
    options.forceRgb = rgb;
    options.paced = false;
    auto graph = BuildMovieGraph(left, right, options, recorder_.Sink(),
                                 nullptr, result_);
    return graph;
  }

  // Plays to the end; true when the end-of-stream event came.
  bool PlayToEnd(MovieGraph& graph) {
    if (!graph.Run()) return false;
    for (int i = 0; i < 200; ++i) {
      for (int event : graph.TakeEvents())
        if (event == kGraphEndOfStream) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  void DecodedPlanesMatchConvertedFrames(const std::string& size);

  static inline fs::path dir_;
  static inline bool made_ = false;
  Recorder recorder_;
  GraphBuildResult result_;
};

TEST_F(MoviePipelineTest, RgbFramesArriveBottomUpWithTheirPosition) {
  auto graph = Build(Movie("raw.avi"));
  ASSERT_TRUE(graph) << result_.text;
  EXPECT_EQ(graph->Shape(), MovieShape::SideBySide);
  ASSERT_TRUE(recorder_.WaitFor(1));  // the first frame shows while paused
  Captured first = recorder_.Last();
  EXPECT_EQ(first.format, FrameRgb24);
  EXPECT_EQ(first.width, kW);
  EXPECT_EQ(first.height, kH);
  // Stored row 0 is the picture's bottom row: blue (h - 1) x 8.
  EXPECT_EQ(first.left[0], (kH - 1) * 8);
  EXPECT_EQ(first.left[1], 200);
  EXPECT_EQ(first.left[2], 0);
  EXPECT_EQ(graph->FrameDurationNs(), 100'000'000);
  EXPECT_NEAR(graph->DurationNs() / 1e6, 2000, 1);
  ASSERT_TRUE(PlayToEnd(*graph));
  // Every frame once: the first frame shown while paused is not shown again.
  EXPECT_EQ(recorder_.Count(), 20u);
}

TEST_F(MoviePipelineTest, StepShowsExactlyOneNewFrameAndSeekLandsOnItsFrame) {
  auto graph = Build(Movie("raw.avi"));
  ASSERT_TRUE(graph && recorder_.WaitFor(1));
  ASSERT_TRUE(graph->StepFrame());
  ASSERT_TRUE(recorder_.WaitFor(2));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(recorder_.Count(), 2u);
  EXPECT_EQ(recorder_.Last().left[2], 10);  // frame 1
  EXPECT_NEAR(graph->PositionNs() / 1e6, 100, 1);

  ASSERT_TRUE(graph->Seek(700'000'000));  // frame 7, still paused
  ASSERT_TRUE(recorder_.WaitFor(3));
  EXPECT_EQ(recorder_.Last().left[2], 70);
  EXPECT_EQ(recorder_.Last().positionNs, 700'000'000);
  ASSERT_TRUE(graph->Seek(650'000'000));  // inside frame 6
  ASSERT_TRUE(recorder_.WaitFor(4));
  EXPECT_EQ(recorder_.Last().left[2], 60);
}

// The end of an H.264 movie is its last frame: the seek lands on it,
// paused, without ending the movie, also where the container's duration
// runs past the last frame (a camera's movie from the test data: 109
// frames of 50 ms, 5492 ms long); from there it plays out.
TEST_F(MoviePipelineTest, TheEndOfAMovieIsItsLastFrame) {
  std::vector<std::string> movies = {Movie("sbs.mp4")};
  fs::path camera = fs::path(TestDataDir()) / "movie" /
                    "DERIVED_sbs_full_from_3ds_sample.mp4";
  if (fs::exists(camera)) movies.push_back(camera.string());
  for (const std::string& movie : movies) {
    SCOPED_TRACE(movie);
    {
      std::lock_guard guard(recorder_.lock);
      recorder_.frames.clear();
    }
    auto graph = Build(movie);
    ASSERT_TRUE(graph && recorder_.WaitFor(1));
    int64_t frame = graph->FrameDurationNs(), duration = graph->DurationNs();
    ASSERT_GT(frame, 0);
    ASSERT_TRUE(graph->Seek(LastFrameSeekNs(duration, frame)));
    ASSERT_TRUE(recorder_.WaitFor(2));
    EXPECT_GE(recorder_.Last().positionNs, duration - frame);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(graph->TakeEvents(), std::vector<int>{});
    EXPECT_TRUE(PlayToEnd(*graph));
  }
}

// A side-by-side movie's 4:2:0 frames come as decoded.
TEST_F(MoviePipelineTest, YuvComesAsYuy2Or420UnlessRgbIsForcedRgbComesAsRgb) {
  for (const char* name : {"yuy2.avi", "sbs.mp4"}) {
    auto graph = Build(Movie(name), "", false);
    ASSERT_TRUE(graph && recorder_.WaitFor(1)) << name;
    EXPECT_EQ(recorder_.Last().format, name[0] == 's' ? FrameYuv420 : FrameYuy2)
        << name;
    graph.reset();
    recorder_.frames.clear();
    graph = Build(Movie(name), "", true);
    ASSERT_TRUE(graph && recorder_.WaitFor(1)) << name;
    EXPECT_EQ(recorder_.Last().format, FrameRgb24) << name;
    EXPECT_EQ(recorder_.Last().width, name[0] == 's' ? 128 : kW) << name;
    graph.reset();
    recorder_.frames.clear();
  }
  auto graph = Build(Movie("raw.avi"), "", false);
  ASSERT_TRUE(graph && recorder_.WaitFor(1));
  EXPECT_EQ(recorder_.Last().format, FrameRgb24);
}

TEST_F(MoviePipelineTest, TwoStreamAviIsMergedWithTheFirstStreamOnTheLeft) {
  auto graph = Build(Movie("two.avi"));
  ASSERT_TRUE(graph) << result_.text;
  EXPECT_EQ(graph->Shape(), MovieShape::TwoStreams);
  ASSERT_TRUE(recorder_.WaitFor(1));
  Captured c = recorder_.Last();
  EXPECT_EQ(c.width, 2 * kW);
  EXPECT_EQ(c.left[1], 200);
  EXPECT_EQ(c.right[1], 50);
  EXPECT_EQ(c.left[2], c.right[2]);  // the same frame of both views
  EXPECT_TRUE(PlayToEnd(*graph));
}

// A decoder for the tests' IMA ADPCM sound that refuses to start, as
// libav's did after an update.
struct RefusingDecoder {
  GstElement parent;
};
struct RefusingDecoderClass {
  GstElementClass parent;
};
G_DEFINE_TYPE(RefusingDecoder, refusing_decoder, GST_TYPE_ELEMENT)

GstStateChangeReturn RefuseToStart(GstElement* element, GstStateChange change) {
  if (change == GST_STATE_CHANGE_READY_TO_PAUSED) return GST_STATE_CHANGE_FAILURE;
  return GST_ELEMENT_CLASS(refusing_decoder_parent_class)->change_state(element, change);
}

GstStaticPadTemplate refusingSink = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-adpcm"));
GstStaticPadTemplate refusingSource = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-raw"));

void refusing_decoder_class_init(RefusingDecoderClass* type) {
  auto* element = GST_ELEMENT_CLASS(type);
  gst_element_class_add_static_pad_template(element, &refusingSink);
  gst_element_class_add_static_pad_template(element, &refusingSource);
  gst_element_class_set_static_metadata(element, "Refusing sound decoder",
                                        "Codec/Decoder/Audio", "Never starts", "tests");
  element->change_state = RefuseToStart;
}

void refusing_decoder_init(RefusingDecoder* self) {
  for (GstStaticPadTemplate* pad : {&refusingSink, &refusingSource})
    gst_element_add_pad(GST_ELEMENT(self),
                        gst_pad_new_from_static_template(pad, pad->name_template));
}

// Sound that cannot be decoded leaves the pictures playing, silently, and
// prerolled by the time the movie is open, whether the file's views are
// two streams or one.  The only decoder offered for it refuses to start.
TEST_F(MoviePipelineTest, MoviesPlayWithoutSoundTheyCannotDecode) {
  ASSERT_TRUE(MovieStreamerReady());
  ASSERT_TRUE(gst_element_register(nullptr, "refusingsounddec", GST_RANK_PRIMARY,
                                   refusing_decoder_get_type()));
  GstCaps* adpcm = gst_caps_from_string("audio/x-adpcm");
  GList* decoders = gst_element_factory_list_get_elements(
      GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_NONE);
  std::vector<std::pair<GstPluginFeature*, guint>> ranks;
  for (GList* l = decoders; l; l = l->next)
    if (gst_element_factory_can_sink_any_caps(GST_ELEMENT_FACTORY(l->data), adpcm)) {
      auto* feature = GST_PLUGIN_FEATURE(l->data);
      bool refusing = std::string(GST_OBJECT_NAME(feature)) == "refusingsounddec";
      ranks.emplace_back(feature, refusing ? guint{GST_RANK_NONE}
                                           : gst_plugin_feature_get_rank(feature));
      if (!refusing) gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
    }
  gst_caps_unref(adpcm);
  for (const char* name : {"sound.avi", "sbs_sound.avi"}) {
    SCOPED_TRACE(name);
    recorder_.frames.clear();
    auto graph = Build(Movie(name));
    size_t prerolled = recorder_.Count();  // what `info` reads the size from
    EXPECT_EQ(result_.failure, GraphFailure::None) << result_.text;
    EXPECT_GE(prerolled, 1u);
    EXPECT_TRUE(graph && PlayToEnd(*graph));
    EXPECT_GT(recorder_.Count(), 5u);
  }
  for (auto& [feature, rank] : ranks) gst_plugin_feature_set_rank(feature, rank);
  gst_plugin_feature_list_free(decoders);
  EXPECT_GE(ranks.size(), 2u);  // ours and libav's
}

TEST_F(MoviePipelineTest, TwoFilesOfDifferentRatesPlayToTheirEnd) {
  auto graph = Build(Movie("raw.avi"), Movie("right15.avi"));
  ASSERT_TRUE(graph) << result_.text;
  EXPECT_EQ(graph->Shape(), MovieShape::TwoFiles);
  ASSERT_TRUE(PlayToEnd(*graph));
  ASSERT_GT(recorder_.Count(), 5u);
  Captured c = recorder_.Last();
  EXPECT_EQ(c.width, 2 * kW);
  EXPECT_EQ(c.left[1], 200);
  EXPECT_EQ(c.right[1], 50);
}

TEST_F(MoviePipelineTest, FailuresSayWhichKind) {
  fs::path text = dir_ / "notes.mp4";
  std::ofstream(text) << "not a movie at all";
  EXPECT_FALSE(Build(text.string()));
  EXPECT_EQ(result_.failure, GraphFailure::MissingDecoder);
  // A stream in a coding nothing decodes: GStreamer names what is missing.
  std::ifstream in(Movie("raw.avi"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  size_t header = bytes.find("strh"), format = bytes.find("strf");
  ASSERT_NE(header, std::string::npos);
  ASSERT_NE(format, std::string::npos);
  bytes.replace(header + 12, 4, "ZZZZ");  // the stream's handler
  bytes.replace(format + 24, 4, "ZZZZ");  // the frames' compression
  fs::path odd = dir_ / "odd.avi";
  std::ofstream(odd, std::ios::binary) << bytes;
  EXPECT_FALSE(Build(odd.string()));
  EXPECT_EQ(result_.failure, GraphFailure::MissingDecoder);
  EXPECT_NE(result_.missing.find("video/x-avi-unknown"), std::string::npos)
      << result_.missing;
  // Views of different sizes cannot be merged.
  EXPECT_FALSE(Build(Movie("raw.avi"), Movie("sbs.mp4")));
  EXPECT_EQ(result_.failure, GraphFailure::MismatchedInputs);
}

// The frames of `movie` as videoconvert packs them into YUY2, which is what
// the grabber received of 4:2:0 movies before their planes came as decoded.
std::vector<std::shared_ptr<MappedFrame>> ConvertedToYuy2(const std::string& movie) {
  std::string description = "filesrc location=\"" + movie +
                            "\" ! decodebin ! videoconvert ! "
                            "video/x-raw,format=YUY2 ! appsink name=sink sync=false";
  std::vector<std::shared_ptr<MappedFrame>> frames;
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  if (!pipeline) return frames;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  while (GstSample* sample =
             gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
    if (auto mapped = MapFrame(sample)) frames.push_back(mapped);
    gst_sample_unref(sample);
  }
  gst_object_unref(sink);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return frames;
}

// Decoded planes, padded by the decoder and cropped to a size no macroblock
// fits (rendered into the sink's buffers, or, narrower than its
// macroblocks, copied), build the display frame and the Dubois window pixel
// for pixel as the converter's YUY2 of the same frame does.  Every frame is
// held to the end, as a paused player holds its last: the frames the
// decoder still references, handed on without a copy, must not change
// under the holder.
TEST_F(MoviePipelineTest, DecodedPlanesShowAsTheConvertersYuy2) {
  for (const char* size : {"128x46", "118x46"}) {
    SCOPED_TRACE(size);
    DecodedPlanesMatchConvertedFrames(size);
    recorder_.frames.clear();
  }
}

void MoviePipelineTest::DecodedPlanesMatchConvertedFrames(const std::string& size) {
  std::string movie = (dir_ / ("odd" + size + ".mp4")).string();
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=s=" + size +
                         ":r=25:d=2 -c:v libx264 -preset veryfast "
                         "-pix_fmt yuv420p '" + movie + "'").c_str()), 0);
  std::vector<GrabbedFrame> planar;
  MovieGraphOptions options;
  options.paced = false;
  auto graph = BuildMovieGraph(
      movie, "", options,
      [&](const GrabbedFrame& f, int64_t) {
        std::lock_guard guard(recorder_.lock);
        planar.push_back(f);
        recorder_.frames.push_back({});
        recorder_.changed.notify_all();
      },
      nullptr, result_);
  ASSERT_TRUE(graph) << result_.text;
  ASSERT_TRUE(PlayToEnd(*graph));
  std::vector<std::shared_ptr<MappedFrame>> packed = ConvertedToYuy2(movie);
  std::lock_guard guard(recorder_.lock);
  ASSERT_EQ(planar.size(), 50u);
  ASSERT_EQ(packed.size(), planar.size());

  Viewer = ViewerState();
  Viewer.StereoType = DuboisAnaglyph;
  Viewer.MovieOpen = true;
  SetClientSize(planar[0].width / 2, planar[0].height);
  for (size_t n = 0; n < planar.size(); ++n) {
    ASSERT_EQ(planar[n].format, FrameYuv420);
    ASSERT_TRUE(planar[n].owner);
    ASSERT_EQ(packed[n]->grabbed.format, FrameYuy2);
    std::vector<uint8_t> display[2];
    std::vector<uint32_t> window[2];
    for (int i = 0; i < 2; ++i) {
      ResetMovieFrameState();
      ASSERT_EQ(PresentGrabbedFrame(i ? planar[n] : packed[n]->grabbed), 0);
      window[i] = Presentation.frame.pixels;
      CompleteFramePicture();
      const Picture& p = FramePicture();
      ASSERT_TRUE(p);
      for (int y = 0; y < PictureHeight(p); ++y)
        display[i].insert(display[i].end(), PictureRow(p.get(), y),
                          PictureRow(p.get(), y) + 3 * PictureWidth(p));
    }
    EXPECT_TRUE(display[0] == display[1]) << "frame " << n;
    EXPECT_TRUE(window[0] == window[1]) << "frame " << n;
  }
  SetGrabbedFrame({});
  ResetMovieFrameState();
}

TEST(MovieTestdata, RealMoviesOpenInTheirShapes) {
  std::string dir = TestDataDir() + "/movie/";
  std::string avi = dir + "3ds_kouheisatou_sample_2video_streams.avi";
  if (!fs::exists(avi)) GTEST_SKIP() << "no " << avi;
  struct Case {
    std::string left, right;
    MovieShape shape;
    int width, height;
  } cases[] = {
      {avi, "", MovieShape::TwoStreams, 960, 240},
      {dir + "DERIVED_sbs_full_from_3ds_sample.mp4", "", MovieShape::SideBySide, 960, 240},
      {dir + "pair_unrival578_left.mp4", dir + "pair_unrival578_right.mp4",
       MovieShape::TwoFiles, 1280, 368},
  };
  for (const Case& c : cases) {
    Recorder recorder;
    GraphBuildResult result;
    MovieGraphOptions options;
    options.paced = false;
    auto graph = BuildMovieGraph(c.left, c.right, options, recorder.Sink(),
                                 nullptr, result);
    ASSERT_TRUE(graph) << c.left << ": " << result.text;
    EXPECT_EQ(graph->Shape(), c.shape) << c.left;
    ASSERT_TRUE(recorder.WaitFor(1)) << c.left;
    EXPECT_EQ(recorder.Last().width, c.width) << c.left;
    EXPECT_EQ(recorder.Last().height, c.height) << c.left;
  }
}

}  // namespace

// GLib leaks its first quark block by design once a program has made more
// than 2048 quarks, as a process with GStreamer's plugins loaded does.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libglib-2.0.so\n";
}

// Paused after playing, the sink shows the frame after the clock's position;
// the frame counter and the first step must go from the frame seen.
TEST_F(MoviePipelineTest, AfterPlayingAPauseStepsFromTheFrameOnScreen) {
  for (const char* movie : {"raw.avi", "two.avi"}) {
    SCOPED_TRACE(movie);
    Recorder recorder;
    MovieGraphOptions options;
    options.forceRgb = true;  // paced: the clock runs, as in the viewer
    auto graph = BuildMovieGraph(Movie(movie), "", options, recorder.Sink(),
                                 nullptr, result_);
    ASSERT_TRUE(graph && recorder.WaitFor(1)) << result_.text;
    ASSERT_TRUE(graph->Run());
    std::this_thread::sleep_for(650ms);
    ASSERT_TRUE(graph->Pause());
    std::this_thread::sleep_for(400ms);
    // Red is frame n x 10 and frames are 100 ms long.
    int seen = recorder.Last().left[2] / 10;
    ASSERT_GT(seen, 0);
    EXPECT_EQ(graph->ShownPositionNs(), seen * 100'000'000LL);

    size_t before = recorder.Count();
    ASSERT_TRUE(graph->StepFrame());
    ASSERT_TRUE(recorder.WaitFor(before + 1));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(recorder.Last().left[2] / 10, seen + 1);
    EXPECT_EQ(graph->ShownPositionNs(), (seen + 1) * 100'000'000LL);
  }
}

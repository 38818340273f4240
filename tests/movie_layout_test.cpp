// How a movie's own metadata sets its shape: `st3d` and the MV-HEVC boxes
// in an MP4 (FFmpeg's movies with boxes added by the tests' writer), and
// Matroska's StereoMode through GStreamer's multiview caps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/movie_graph.h"
#include "tests/movie_box_files.h"

namespace fs = std::filesystem;
using namespace movie_box_files;

namespace {

class MovieLayoutTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) return;
    dir_ = fs::temp_directory_path() /
           ("duoramic-layouts-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    auto make = [](const std::string& args, const char* name) {
      std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=s=64x48:r=10:d=0.5 " +
                            args + " '" + (dir_ / name).string() + "'";
      return std::system(command.c_str()) == 0;
    };
    made_ = make("-c:v libx264 -pix_fmt yuv420p", "plain.mp4") &&
            make("-c:v libx265 -pix_fmt yuv420p -tag:v hvc1 -x265-params log-level=none",
                 "plain_hevc.mp4") &&
            make("-c:v libx264 -pix_fmt yuv420p -metadata:s:v stereo_mode=top_bottom",
                 "top_bottom.mkv") &&
            make("-c:v libx264 -pix_fmt yuv420p -metadata:s:v stereo_mode=bottom_top",
                 "bottom_top.mkv");
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }
  void SetUp() override {
    if (!made_) GTEST_SKIP() << "ffmpeg (with libx264 and libx265) is missing";
  }
  static std::string Path(const char* name) { return (dir_ / name).string(); }
  // `base` with `children` appended to its video sample entry.
  static std::string WithBoxes(const char* base, const Bytes& children,
                               const char* name) {
    Bytes file = ReadAll(Path(base));
    EXPECT_TRUE(AddToVideoEntry(file, children)) << base;
    EXPECT_TRUE(WriteAll(Path(name), file));
    return Path(name);
  }

  std::unique_ptr<MovieGraph> Build(const std::string& file) {
    MovieGraphOptions options;
    options.paced = false;
    auto graph = BuildMovieGraph(file, "", options,
                                 [](const GrabbedFrame&, int64_t) {}, nullptr, result_);
    EXPECT_TRUE(graph) << file << ": " << result_.text;
    return graph;
  }

  static inline fs::path dir_;
  static inline bool made_ = false;
  GraphBuildResult result_;
};

// A frame as I420 bytes (luma rows, then U, then V), whatever its layout.
struct I420Frame {
  int width = 0, height = 0, format = 0;
  std::vector<uint8_t> bytes;
};

I420Frame AsI420(const GrabbedFrame& f) {
  I420Frame out{f.width, f.height, f.format, {}};
  if (f.format != FrameYuv420) {
    // Packed rows, top row first (RGB24 rows come bottom-up).
    size_t bytes = size_t(f.width) * (f.format == FrameRgb24 ? 3 : 2);
    for (int t = 0; t < f.height; ++t) {
      const uint8_t* row = f.pixels + ptrdiff_t{f.stride} *
                                          (f.format == FrameRgb24 ? f.height - 1 - t : t);
      out.bytes.insert(out.bytes.end(), row, row + bytes);
    }
    return out;
  }
  for (int y = 0; y < f.height; ++y)
    out.bytes.insert(out.bytes.end(), f.pixels + ptrdiff_t{f.stride} * y,
                     f.pixels + ptrdiff_t{f.stride} * y + f.width);
  for (const uint8_t* plane : {f.u, f.v})
    for (int y = 0; y < f.height / 2; ++y)
      for (int x = 0; x < f.width / 2; ++x)
        out.bytes.push_back(plane[ptrdiff_t{f.chromaStride} * y + x * f.chromaStep]);
  return out;
}

// FFmpeg's decode of frame `index`, cropped to `crop` (w:h:x:y), as I420.
std::vector<uint8_t> FfmpegI420(const std::string& file, int index,
                                const std::string& crop,
                                const char* pixelFormat = "yuv420p") {
  fs::path raw = file + "." + std::to_string(index) + ".yuv";
  std::string command = "ffmpeg -v error -y -i '" + file + "' -vf \"select=eq(n\\," +
                        std::to_string(index) + "),crop=" + crop +
                        "\" -frames:v 1 -f rawvideo -pix_fmt " + pixelFormat + " '" +
                        raw.string() + "'";
  if (std::system(command.c_str()) != 0) return {};
  return ReadAll(raw.string());
}

// The side-by-side frame's left (or right) half as I420 bytes.
std::vector<uint8_t> HalfOf(const I420Frame& f, bool right) {
  int w = f.width / 2, h = f.height;
  std::vector<uint8_t> out;
  if (f.format != FrameYuv420) {
    size_t bpp = f.format == FrameRgb24 ? 3 : 2, half = w * bpp;
    for (int t = 0; t < h; ++t) {
      auto row = f.bytes.begin() + long(t * 2 * half + (right ? half : 0));
      out.insert(out.end(), row, row + long(half));
    }
    return out;
  }
  auto rows = [&](size_t at, int width, int height, int stride) {
    for (int y = 0; y < height; ++y) {
      size_t from = at + size_t(y) * stride + (right ? width : 0);
      out.insert(out.end(), f.bytes.begin() + long(from), f.bytes.begin() + long(from + width));
    }
  };
  rows(0, w, h, f.width);
  size_t luma = size_t(f.width) * h, chroma = luma / 4;
  rows(luma, w / 2, h / 2, f.width / 2);
  rows(luma + chroma, w / 2, h / 2, f.width / 2);
  return out;
}

class FrameCatcher {
 public:
  MovieFrameSink Sink() {
    return [this](const GrabbedFrame& f, int64_t) {
      std::lock_guard guard(lock_);
      frames_.push_back(AsI420(f));
      changed_.notify_all();
    };
  }
  bool WaitFor(size_t count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(10),
                             [&] { return frames_.size() >= count; });
  }
  I420Frame At(size_t k) {
    std::lock_guard guard(lock_);
    return frames_.at(k);
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<I420Frame> frames_;
};

TEST_F(MovieLayoutTest, Mp4StereoBoxesSetTheShape) {
  struct Case {
    uint8_t mode;
    MovieShape shape;
    bool rightFirst;
  } cases[] = {{1, MovieShape::OverUnder, false},
               {2, MovieShape::SideBySide, false},
               {4, MovieShape::SideBySide, true},
               {0, MovieShape::SideBySide, false},   // mono: the default
               {3, MovieShape::SideBySide, false}};  // custom: the default
  for (const Case& c : cases) {
    std::string name = "st3d_" + std::to_string(c.mode) + ".mp4";
    auto graph = Build(WithBoxes("plain.mp4", St3d(c.mode), name.c_str()));
    ASSERT_TRUE(graph);
    EXPECT_EQ(graph->Shape(), c.shape) << name;
    EXPECT_EQ(graph->RightFirst(), c.rightFirst) << name;
  }
  auto plain = Build(Path("plain.mp4"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Shape(), MovieShape::SideBySide);
}

TEST_F(MovieLayoutTest, MatroskaStereoModeSetsTheShape) {
  auto topBottom = Build(Path("top_bottom.mkv"));
  ASSERT_TRUE(topBottom);
  EXPECT_EQ(topBottom->Shape(), MovieShape::OverUnder);
  EXPECT_FALSE(topBottom->RightFirst());
  auto bottomTop = Build(Path("bottom_top.mkv"));
  ASSERT_TRUE(bottomTop);
  EXPECT_EQ(bottomTop->Shape(), MovieShape::OverUnder);
  EXPECT_TRUE(bottomTop->RightFirst());
}

TEST_F(MovieLayoutTest, SpatialVideoIsNeverSplit) {
  Bytes spatial = Join({Lhvc(), Vexu(3, 1, 64000, 150), Hfov(71590)});
  auto graph = Build(WithBoxes("plain_hevc.mp4", spatial, "spatial.mov"));
  ASSERT_TRUE(graph);
  EXPECT_EQ(graph->Shape(), MovieShape::MvHevc);
  EXPECT_STREQ(MovieShapeName(graph->Shape()), "mv-hevc");
  // The second layer's box alone says nothing of eyes: the default, and an
  // `st3d` beside it still counts.
  auto bare = Build(WithBoxes("plain_hevc.mp4", Join({Lhvc(), St3d(1)}), "bare.mp4"));
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->Shape(), MovieShape::OverUnder);
}

TEST_F(MovieLayoutTest, OverUnderFramesComeSideBySide) {
  // The oracle: FFmpeg's own decode of each half of the coded frame.  Both
  // decode with libavcodec, so the planes match exactly; a step brings the
  // next frame in the same arrangement.
  for (bool swapped : {false, true}) {
    std::string file = Path(swapped ? "bottom_top.mkv" : "top_bottom.mkv");
    FrameCatcher catcher;
    MovieGraphOptions options;
    options.paced = false;
    auto graph = BuildMovieGraph(file, "", options, catcher.Sink(), nullptr, result_);
    ASSERT_TRUE(graph) << result_.text;
    ASSERT_TRUE(catcher.WaitFor(1));
    ASSERT_TRUE(graph->StepFrame());
    ASSERT_TRUE(catcher.WaitFor(2));
    for (int index : {0, 1}) {
      I420Frame frame = catcher.At(size_t(index));
      ASSERT_EQ(frame.format, FrameYuv420);
      ASSERT_EQ(frame.width, 128);
      ASSERT_EQ(frame.height, 24);
      std::vector<uint8_t> top = FfmpegI420(file, index, "64:24:0:0");
      std::vector<uint8_t> bottom = FfmpegI420(file, index, "64:24:0:24");
      ASSERT_FALSE(top.empty());
      ASSERT_NE(top, bottom);
      EXPECT_EQ(HalfOf(frame, false), swapped ? bottom : top) << file << " " << index;
      EXPECT_EQ(HalfOf(frame, true), swapped ? top : bottom) << file << " " << index;
    }
  }
}

TEST_F(MovieLayoutTest, PackedFramesComeSideBySide) {
  // YUY2 passes GStreamer as decoded: exact.  RGB is converted by each
  // side's own code, so the halves only come close; a half from the wrong
  // place (or upside down) would be far off.
  std::string file = Path("yuy2_top_bottom.mkv");
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=s=64x48:r=10:d=0.5 "
                         "-c:v rawvideo -pix_fmt yuyv422 -metadata:s:v "
                         "stereo_mode=top_bottom '" + file + "'").c_str()), 0);
  for (bool rgb : {false, true}) {
    FrameCatcher catcher;
    MovieGraphOptions options;
    options.paced = false;
    options.forceRgb = rgb;
    auto graph = BuildMovieGraph(file, "", options, catcher.Sink(), nullptr, result_);
    ASSERT_TRUE(graph) << result_.text;
    ASSERT_TRUE(catcher.WaitFor(1));
    I420Frame frame = catcher.At(0);
    ASSERT_EQ(frame.format, rgb ? FrameRgb24 : FrameYuy2);
    ASSERT_EQ(frame.width, 128);
    ASSERT_EQ(frame.height, 24);
    const char* format = rgb ? "bgr24" : "yuyv422";
    for (bool right : {false, true}) {
      std::vector<uint8_t> want = FfmpegI420(file, 0, right ? "64:24:0:24" : "64:24:0:0", format);
      std::vector<uint8_t> got = HalfOf(frame, right);
      ASSERT_EQ(got.size(), want.size());
      if (!rgb) {
        EXPECT_EQ(got, want) << "right " << right;
        continue;
      }
      // Edges differ where the two upsample chroma differently: compare
      // the mean difference with that to the other half.
      std::vector<uint8_t> other =
          FfmpegI420(file, 0, right ? "64:24:0:0" : "64:24:0:24", format);
      auto mean = [&](const std::vector<uint8_t>& to) {
        double sum = 0;
        for (size_t k = 0; k < got.size(); ++k) sum += std::abs(got[k] - to[k]);
        return sum / double(got.size());
      };
      EXPECT_LT(mean(want), 6.0) << "right " << right;
      EXPECT_LT(mean(want) * 4, mean(other)) << "right " << right;
    }
  }
}

TEST_F(MovieLayoutTest, SpatialVideoShowsItsOneEyeToBoth) {
  std::string file = WithBoxes("plain_hevc.mp4", Join({Lhvc(), Vexu(3, 1, 1, 0)}),
                               "eye.mov");
  FrameCatcher catcher;
  MovieGraphOptions options;
  options.paced = false;
  auto graph = BuildMovieGraph(file, "", options, catcher.Sink(), nullptr, result_);
  ASSERT_TRUE(graph) << result_.text;
  ASSERT_TRUE(catcher.WaitFor(1));
  I420Frame frame = catcher.At(0);
  ASSERT_EQ(frame.width, 128);
  ASSERT_EQ(frame.height, 48);
  std::vector<uint8_t> whole = FfmpegI420(file, 0, "64:48:0:0");
  EXPECT_EQ(HalfOf(frame, false), whole);
  EXPECT_EQ(HalfOf(frame, true), whole);
}

}  // namespace

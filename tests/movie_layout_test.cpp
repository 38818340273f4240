// How a movie's own metadata sets its shape: `st3d` and the MV-HEVC boxes
// in an MP4 (FFmpeg's movies with boxes added by the tests' writer), and
// Matroska's StereoMode through GStreamer's multiview caps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

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

}  // namespace

// The MP4 box walker: spherical boxes written by FFmpeg and by the tests'
// own box writer, MV-HEVC eye boxes, and the damaged files it must refuse
// without reading outside them.
#include "movie/movie_boxes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/movie_box_files.h"

namespace fs = std::filesystem;
using namespace movie_box_files;

namespace {

constexpr uint32_t kQuarter = 0x40000000;

MovieBoxes Read(const Bytes& file) {
  MovieBoxes boxes;
  EXPECT_TRUE(ReadMovieBoxes(file, boxes)) << boxes.problem;
  return boxes;
}

fs::path TempPath(const char* name) {
  return fs::temp_directory_path() /
         ("duoramic-boxes-" + std::to_string(::getpid()) + "-" + name);
}

TEST(MovieBoxesTest, FfmpegTopBottomMp4) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "ffmpeg is missing";
  // FFmpeg 5.1's MP4 muxer writes `st3d` only from the stream's stereo side
  // data, which its Matroska reader makes from StereoMode.
  fs::path mkv = TempPath("tb.mkv"), mp4 = TempPath("tb.mp4");
  std::string command =
      "ffmpeg -v error -y -f lavfi -i testsrc2=s=64x64:d=0.2 -c:v libx264 "
      "-metadata:s:v stereo_mode=top_bottom '" + mkv.string() +
      "' && ffmpeg -v error -y -i '" + mkv.string() +
      "' -c copy -strict unofficial '" + mp4.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  MovieBoxes boxes;
  ASSERT_TRUE(ReadMovieBoxes(mp4.string(), boxes)) << boxes.problem;
  EXPECT_EQ(boxes.sampleEntry, "avc1");
  ASSERT_TRUE(boxes.stereoMode.has_value());
  EXPECT_EQ(*boxes.stereoMode, BoxStereoMode::TopBottom);
  EXPECT_FALSE(boxes.IsMvHevc());
  EXPECT_EQ(boxes.projection, MovieProjection::Rectilinear);
  EXPECT_TRUE(boxes.problem.empty()) << boxes.problem;
  // Matroska is no ISO file: refused with a reason.
  MovieBoxes notIso;
  EXPECT_FALSE(ReadMovieBoxes(mkv.string(), notIso));
  EXPECT_FALSE(notIso.problem.empty());
  fs::remove(mkv);
  fs::remove(mp4);
}

TEST(MovieBoxesTest, SphericalBoxes) {
  // VR180: left-right, the front half of the sphere.
  MovieBoxes vr180 = Read(MovieFile(
      {Track("vide", Entry("avc1", Join({St3d(2), Sv3dEqui(0, 0, kQuarter, kQuarter)})))}));
  EXPECT_EQ(vr180.stereoMode, BoxStereoMode::LeftRight);
  EXPECT_EQ(vr180.projection, MovieProjection::Equirectangular);
  EXPECT_DOUBLE_EQ(vr180.HorizontalFovDeg(), 180);
  EXPECT_DOUBLE_EQ(vr180.VerticalFovDeg(), 180);
  // A whole sphere, over/under.
  MovieBoxes full = Read(MovieFile(
      {Track("vide", Entry("hvc1", Join({St3d(1), Sv3dEqui(0, 0, 0, 0)})))}));
  EXPECT_EQ(full.stereoMode, BoxStereoMode::TopBottom);
  EXPECT_DOUBLE_EQ(full.HorizontalFovDeg(), 360);
  // Right-left, and a cube map.
  Bytes cube = Box("sv3d", Box("proj", Join({FullBox("prhd", {90u << 16, 0, 0}),
                                             FullBox("cbmp", {0, 0})})));
  MovieBoxes rl = Read(MovieFile({Track("vide", Entry("avc1", Join({St3d(4), cube})))}));
  EXPECT_EQ(rl.stereoMode, BoxStereoMode::RightLeft);
  EXPECT_EQ(rl.projection, MovieProjection::Cubemap);
  EXPECT_DOUBLE_EQ(rl.yawDeg, 90);
  EXPECT_EQ(rl.HorizontalFovDeg(), 0);
}

TEST(MovieBoxesTest, SpatialVideoBoxes) {
  Bytes spatial = Join({Lhvc(), Vexu(0x03, 1, 63500, -120), Hfov(63400)});
  MovieBoxes mv = Read(MovieFile({Track("vide", Entry("hvc1", spatial))}));
  EXPECT_TRUE(mv.IsMvHevc());
  EXPECT_EQ(mv.spatial.hasLeft, true);
  EXPECT_EQ(mv.spatial.hasRight, true);
  EXPECT_EQ(mv.spatial.heroEye, 1);
  EXPECT_EQ(mv.spatial.baselineUm, 63500u);
  EXPECT_EQ(mv.spatial.disparity, -120);
  EXPECT_EQ(mv.spatial.hfovMilli, 63400u);
  EXPECT_TRUE(mv.problem.empty()) << mv.problem;
  // A second layer is HEVC's alone; `lhvC` without `vexu` is damage, and
  // the movie stays the default shape.
  EXPECT_FALSE(Read(MovieFile({Track("vide", Entry("avc1", spatial))})).IsMvHevc());
  MovieBoxes bare = Read(MovieFile({Track("vide", Entry("hev1", Lhvc()))}));
  EXPECT_FALSE(bare.IsMvHevc());
  EXPECT_NE(bare.problem.find("vexu"), std::string::npos);
}

TEST(MovieBoxesTest, OnlyTheVideoTrackCounts) {
  // `st3d` in a sound track's entry is nobody's layout; the video track
  // after it is read.
  MovieBoxes boxes = Read(MovieFile({Track("soun", Entry("mp4a", St3d(1))),
                                     Track("vide", Entry("avc1", St3d(4)))}));
  EXPECT_EQ(boxes.stereoMode, BoxStereoMode::RightLeft);
  EXPECT_EQ(boxes.sampleEntry, "avc1");
  MovieBoxes soundOnly = Read(MovieFile({Track("soun", Entry("mp4a", St3d(1)))}));
  EXPECT_FALSE(soundOnly.stereoMode.has_value());
  EXPECT_TRUE(soundOnly.sampleEntry.empty());
}

TEST(MovieBoxesTest, DamagedBoxesAreLeftOut) {
  // Bounds that cross leave no sphere: not equirectangular.
  MovieBoxes crossed = Read(MovieFile(
      {Track("vide", Entry("avc1", Join({St3d(2), Sv3dEqui(0, 0, 0xA0000000u, 0x60000000u)})))}));
  EXPECT_EQ(crossed.projection, MovieProjection::Rectilinear);
  EXPECT_EQ(crossed.stereoMode, BoxStereoMode::LeftRight);
  EXPECT_FALSE(crossed.problem.empty());
  // An `st3d` whose size runs past its sample entry.
  Bytes file = MovieFile({Track("vide", Entry("avc1", St3d(1)))});
  size_t st3d = file.size() - 13;
  ASSERT_EQ(GetBe32(file, st3d + 4), GetBe32(St3d(1), 4));
  SetBe32(file, st3d, 200);
  MovieBoxes past = Read(file);
  EXPECT_FALSE(past.stereoMode.has_value());
  EXPECT_FALSE(past.problem.empty());
  // An unknown mode byte.
  MovieBoxes unknown = Read(MovieFile({Track("vide", Entry("avc1", St3d(9)))}));
  EXPECT_FALSE(unknown.stereoMode.has_value());
  // Every truncation of a full file: no read outside it, no false result
  // for what is there.
  Bytes whole = MovieFile({Track("vide", Entry("hvc1", Join({St3d(1), Sv3dEqui(1, 2, 3, 4),
                                                             Lhvc(), Vexu(3, 2, 1, 1)})))});
  for (size_t n = 0; n < whole.size(); ++n) {
    MovieBoxes cut;
    ReadMovieBoxes(std::span<const uint8_t>(whole.data(), n), cut);
    EXPECT_FALSE(cut.IsMvHevc() && cut.problem.empty()) << n;
  }
}

TEST(MovieBoxesTest, MoovAfterHugeMdatIsFoundBySeeking) {
  // A 64-bit `mdat` of 6 GiB, then the movie box: the file is sparse, and
  // the walk must seek past the data rather than read it.
  fs::path path = TempPath("huge.mp4");
  const uint64_t mdatSize = uint64_t{6} << 30;
  Bytes head = Ftyp();
  Bytes mdat{0, 0, 0, 1, 'm', 'd', 'a', 't'};
  for (int shift = 56; shift >= 0; shift -= 8) mdat.push_back(uint8_t(mdatSize >> shift));
  head.insert(head.end(), mdat.begin(), mdat.end());
  Bytes moov = Box("moov", Track("vide", Entry("avc1", St3d(1))));
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
    out.seekp(std::streamoff(Ftyp().size() + mdatSize));
    out.write(reinterpret_cast<const char*>(moov.data()), std::streamsize(moov.size()));
    ASSERT_TRUE(out) << "no room for a sparse file";
  }
  MovieBoxes boxes;
  EXPECT_TRUE(ReadMovieBoxes(path.string(), boxes)) << boxes.problem;
  EXPECT_EQ(boxes.stereoMode, BoxStereoMode::TopBottom);
  // The same `moov` declared as running past the file's end is refused.
  {
    std::fstream patch(path, std::ios::binary | std::ios::in | std::ios::out);
    patch.seekp(std::streamoff(Ftyp().size() + mdatSize));
    const char big[4] = {0x7f, 0, 0, 0};
    patch.write(big, 4);
  }
  EXPECT_TRUE(ReadMovieBoxes(path.string(), boxes));
  EXPECT_FALSE(boxes.stereoMode.has_value());
  EXPECT_FALSE(boxes.problem.empty());
  fs::remove(path);
}

}  // namespace

#include "movie/avi_streams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/test_support.h"

namespace {

void Put(std::vector<uint8_t>& b, size_t at, const void* bytes, size_t n) {
  std::memcpy(b.data() + at, bytes, n);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void PutList(std::vector<uint8_t>& b, size_t at, const char* kind) {
  Put(b, at, "strl", 4);
  Put(b, at + 12, kind, 4);
}

// A maker note starting at 1000 (its "FILM" block the file's second), with
// the parallax tag pair 50 bytes in and its two rationals at 200 and 208.
std::vector<uint8_t> WithMakerNote(int32_t xNum, uint32_t xDen, int32_t yNum,
                                   uint32_t yDen) {
  std::vector<uint8_t> b(2000);
  PutList(b, 100, "vids");
  PutList(b, 300, "vids");
  Put(b, 500, "FILM\x0C\x00", 6);
  Put(b, 1004, "FILM\x0C\x00", 6);
  const uint8_t tags[] = {0x11, 0xB2, 0, 0, 0, 0, 0, 0, 200, 0, 0, 0,
                          0x12, 0xB2, 0, 0, 0, 0, 0, 0, 208, 0, 0, 0};
  Put(b, 1050, tags, sizeof tags);
  Put32(b, 1200, uint32_t(xNum));
  Put32(b, 1204, xDen);
  Put32(b, 1208, uint32_t(yNum));
  Put32(b, 1212, yDen);
  return b;
}

TEST(AviStreams, CountsVideoStreamListsInTheFirst32000Bytes) {
  std::vector<uint8_t> b(40000);
  PutList(b, 100, "vids");
  PutList(b, 400, "auds");
  EXPECT_EQ(CountVideoStreams(b).result, 0);
  PutList(b, 32500, "vids");  // beyond the probe
  EXPECT_EQ(CountVideoStreams(b).videoStreams, 1);
  PutList(b, 900, "vids");
  AviStreamInfo info = CountVideoStreams(b, 4, 5);
  EXPECT_EQ(info.result, 1);
  EXPECT_EQ(info.videoStreams, 2);
  EXPECT_EQ(info.parallaxX, 4);  // no maker note: the shifts stay
  EXPECT_EQ(info.parallaxY, 5);
}

TEST(AviStreams, MakerNoteParallaxFromEitherDenominator) {
  for (uint32_t den : {640u, 320u}) {
    AviStreamInfo info = CountVideoStreams(WithMakerNote(1500, den, 350, den * 3 / 4));
    EXPECT_EQ(info.result, 1);
    EXPECT_TRUE(info.makerNote);
    EXPECT_EQ(info.parallaxX, -15);
    EXPECT_EQ(info.parallaxY, 3);
  }
  // Other denominators leave that shift alone; one "FILM" block is no note.
  AviStreamInfo other = CountVideoStreams(WithMakerNote(-700, 100, 350, 480), 9, 9);
  EXPECT_EQ(other.parallaxX, 9);
  EXPECT_EQ(other.parallaxY, 3);
  std::vector<uint8_t> single = WithMakerNote(1500, 640, 0, 480);
  single[1004] = 'X';
  EXPECT_EQ(CountVideoStreams(single, 2, 2).parallaxX, 2);
}

TEST(AviStreams, TruncatedOrHostileMakerNoteReadsNothingOutside) {
  std::vector<uint8_t> b = WithMakerNote(1500, 640, 350, 480);
  // Offsets far past the end (and one that wraps a 32-bit sum).
  Put32(b, 1058, 0xFFFFFFF0u);
  Put32(b, 1070, 5000);
  AviStreamInfo info = CountVideoStreams(b, 1, 1);
  EXPECT_FALSE(info.makerNote);
  EXPECT_EQ(info.parallaxX, 1);
  // Cut inside the rationals, then inside the tag pair itself.
  for (size_t size : {1206u, 1066u}) {
    std::vector<uint8_t> cut = WithMakerNote(1500, 640, 350, 480);
    cut.resize(size);
    cut.shrink_to_fit();
    EXPECT_EQ(CountVideoStreams(cut, 1, 1).parallaxX, 1) << size;
  }
  EXPECT_EQ(CountVideoStreams(std::span<const uint8_t>()).result, 0);
}

TEST(AviStreams, ReadsAFileAndReportsOneThatCannotBeOpened) {
  EXPECT_EQ(CountVideoStreams(ScratchDir() + "/missing.avi").result, -1);
  std::string path = TestDataPath("movie/3ds_kouheisatou_sample_2video_streams.avi");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "not found: " << path;
  AviStreamInfo info = CountVideoStreams(path);
  EXPECT_EQ(info.result, 1);
  EXPECT_EQ(info.videoStreams, 2);
  std::printf("camera AVI: streams %d, maker note %d, parallax %d, %d\n",
              info.videoStreams, info.makerNote, info.parallaxX, info.parallaxY);
}

}  // namespace

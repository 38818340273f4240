#include "image/mpo_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/jpeg_reader.h"
#include "tests/synthetic_jpeg.h"
#include "tests/reader_support.h"

namespace {

using synthetic::Bytes;

Picture Decode(const Bytes& bytes) {
  return DecodeJpegData(bytes.data(), bytes.size());
}

int Load(const Bytes& file, Picture& left, Picture& right) {
  return LoadMpoData(file.data(), file.size(), left, right);
}

// Stored row `row` of `view` equals stored row `row + rowOffset` of `source`
// from column `columnOffset` on, for every row of the view.
bool IsWindowOf(const Picture& view, const Picture& source, int columnOffset,
                int rowOffset) {
  size_t rowBytes = 3 * static_cast<size_t>(PictureWidth(view));
  for (int y = 0; y < PictureHeight(view); ++y)
    if (std::memcmp(PictureRow(view.get(), y),
                    PictureRow(source.get(), y + rowOffset) + 3 * columnOffset,
                    rowBytes))
      return false;
  return true;
}

class MpoReader : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCurrentComment();
    ParallaxShiftX = ParallaxShiftY = 0;
    first = synthetic::Compress(synthetic::TestCard(48, 32, 1));
    second = synthetic::Compress(synthetic::TestCard(48, 32, 2));
  }
  void TearDown() override { ClearCurrentComment(); }

  Bytes Mpo(const synthetic::MpoOptions& options = {}) const {
    return synthetic::BuildMpo({first, second}, options);
  }

  Bytes first, second;
  Picture left, right;
};

synthetic::Parallax ParallaxOf(int32_t hNum, int32_t hDen, int32_t vNum,
                               int32_t vDen) {
  synthetic::Parallax p;
  p.present = true;
  p.horizontalNumerator = hNum, p.horizontalDenominator = hDen;
  p.verticalNumerator = vNum, p.verticalDenominator = vDen;
  return p;
}

TEST_F(MpoReader, ViewsAreCutByTheSecondPicturesParallax) {
  using synthetic::Parallax;
  const Parallax none;
  struct Case {
    const char* what;
    synthetic::MpoOptions options;
    int shiftX, shiftY, width, height;
    int leftColumn, leftRow, rightColumn, rightRow;  // windows of the sources
  } cases[] = {
      {"no parallax", {true, none, true}, 0, 0, 48, 32, 0, 0, 0, 0},
      {"MPF before Exif", {true, none, false}, 0, 0, 48, 32, 0, 0, 0, 0},
      {"no maker notes", {false, none, true}, 0, 0, 48, 32, 0, 0, 0, 0},
      // 48 x -10 x -0.01 = 4.8: truncated toward zero.
      {"negative", {true, ParallaxOf(-10, 1, 0, 1), true}, 4, 0, 44, 32, 0, 0, 4, 0},
      // 32 x 25 x 0.01 = 8: the left view loses its top rows (kept from the
      // bottom); the right view, shifted by -8, loses its bottom rows.
      {"vertical", {true, ParallaxOf(0, 1, 25, 1), true}, 0, 8, 48, 24, 0, 0, 0, 8},
      // The scan ends at the second MPF mark: a maker note behind it is unseen.
      {"maker note after the second MPF mark",
       {true, ParallaxOf(-10, 1, 0, 1), false}, 0, 0, 48, 32, 0, 0, 0, 0},
      {"zero denominators", {true, ParallaxOf(3, 0, 5, 0), true}, 0, 0, 48, 32, 0, 0, 0, 0},
      {"only the vertical denominator zero",
       {true, ParallaxOf(-10, 1, 5, 0), true}, 4, 0, 44, 32, 0, 0, 4, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParallaxShiftX = ParallaxShiftY = 0;
    Bytes file = Mpo(c.options);
    if (c.options.makerNotes) {
      ASSERT_NE(std::string(file.begin(), file.end()).find("FUJIFILM"),
                std::string::npos);
    }
    ASSERT_EQ(Load(file, left, right), 1) << LastLoadFailure();
    EXPECT_EQ(ParallaxShiftX, c.shiftX);
    EXPECT_EQ(ParallaxShiftY, c.shiftY);
    for (const Picture* view : {&left, &right}) {
      EXPECT_EQ(PictureBits(*view), 24);
      EXPECT_EQ(PictureWidth(*view), c.width);
      EXPECT_EQ(PictureHeight(*view), c.height);
    }
    EXPECT_TRUE(IsWindowOf(left, Decode(first), c.leftColumn, c.leftRow));
    EXPECT_TRUE(IsWindowOf(right, Decode(second), c.rightColumn, c.rightRow));
  }
}

TEST_F(MpoReader, ThreePictureFileUsesTheSecondAsTheRightView) {
  Bytes third = synthetic::Compress(synthetic::TestCard(40, 24, 3));
  Bytes file = synthetic::BuildMpo({first, second, third});
  ASSERT_EQ(Load(file, left, right), 1) << LastLoadFailure();
  EXPECT_TRUE(SamePixels(left, Decode(first)));
  EXPECT_TRUE(SamePixels(right, Decode(second)));
}

TEST_F(MpoReader, ParallaxOfOneAndAHalfPercentOn3584ColumnsCuts53) {
  Bytes wideFirst = synthetic::Compress(synthetic::TestCard(3584, 16, 1));
  Bytes wideSecond = synthetic::Compress(synthetic::TestCard(3584, 16, 2));
  synthetic::MpoOptions options;
  options.parallax = ParallaxOf(3, 2, 0, 1);
  Bytes file = synthetic::BuildMpo({wideFirst, wideSecond}, options);
  ASSERT_EQ(Load(file, left, right), 1) << LastLoadFailure();
  EXPECT_EQ(ParallaxShiftX, -53);  // 3584 x 1.5 x -0.01 = -53.76
  EXPECT_EQ(ParallaxShiftY, 0);
  EXPECT_EQ(PictureWidth(left), 3531);
  EXPECT_EQ(PictureWidth(right), 3531);
  EXPECT_EQ(PictureHeight(left), 16);
  // The left view loses its 53 leftmost columns, the right its rightmost.
  EXPECT_TRUE(IsWindowOf(left, Decode(wideFirst), 53, 0));
  EXPECT_TRUE(IsWindowOf(right, Decode(wideSecond), 0, 0));
}

TEST_F(MpoReader, ParallaxThatLeavesNothingFailsCleanly) {
  synthetic::MpoOptions options;
  options.parallax = ParallaxOf(-100, 1, 0, 1);  // the whole width
  ASSERT_EQ(Load(Mpo(options), left, right), 0);
  EXPECT_FALSE(left);
  EXPECT_FALSE(right);
  EXPECT_EQ(ParallaxShiftX, 0);
  options.parallax = ParallaxOf(INT32_MAX, 1, INT32_MIN, 1);
  ASSERT_EQ(Load(Mpo(options), left, right), 0);
  EXPECT_FALSE(left);
}

TEST_F(MpoReader, FileWithoutASecondMpfMarkIsRefusedAndStoresNothing) {
  Picture keepLeft = CreatePicture(2, 2, 24),
          keepRight = CreatePicture(2, 2, 24);
  uint8_t* leftBlock = keepLeft.get();
  left = std::move(keepLeft);
  right = std::move(keepRight);
  ClearLoadFailure();
  EXPECT_EQ(Load(first, left, right), 0);
  EXPECT_EQ(LastLoadFailure(), "no second MPF mark");
  EXPECT_EQ(left.get(), leftBlock);
  // One MPF mark, or marks without a byte-order mark after them.
  Bytes one = synthetic::InsertAfterStart(first, synthetic::MpfIndexSegment(1));
  EXPECT_EQ(Load(one, left, right), 0);
  EXPECT_EQ(left.get(), leftBlock);
}

// Writers that give only the first picture an MP segment (Pillow does): the
// second picture is where the index's second entry points, counted from the
// MP header.  An entry pointing anywhere but at a picture's start, or out of
// the file, is refused without reading outside.
TEST_F(MpoReader, WithOneMpfMarkTheIndexGivesTheSecondPicture) {
  Bytes file = Mpo();
  std::string text(file.begin(), file.end());
  size_t firstMark = text.find("MPF");
  size_t secondMark = text.find("MPF", firstMark + 1);
  file[secondMark + 4] = 'X';
  ASSERT_EQ(Load(file, left, right), 1) << LastLoadFailure();
  EXPECT_TRUE(IsWindowOf(left, Decode(first), 0, 0));
  EXPECT_TRUE(IsWindowOf(right, Decode(second), 0, 0));
  // The second entry's offset: the index's entries follow its directory.
  size_t offsetAt = firstMark + 4 + 8 + 2 + 3 * 12 + 4 + 16 + 8;
  for (uint32_t offset : {1u, 0x7FFFFFF0u, 0xFFFFFFFFu,
                          static_cast<uint32_t>(file.size())}) {
    SCOPED_TRACE(offset);
    Bytes bad = file;
    synthetic::Patch32Le(bad, offsetAt, offset);
    left.reset();
    EXPECT_EQ(Load(bad, left, right), 0);
    EXPECT_FALSE(left);
  }
  // The directory's entry count beyond the segment.
  Bytes bad = file;
  bad[firstMark + 4 + 8] = 0xFF;
  bad[firstMark + 4 + 9] = 0xFF;
  EXPECT_EQ(Load(bad, left, right), 0);
}

// Found by the index alone, a second picture typed "undefined" (as Pillow
// writes them) is a view only when it is as large as the first: a phone's
// gain map, smaller and typed so too, is no right eye.
TEST_F(MpoReader, AnUndefinedIndexedPictureIsAViewOnlyAtTheFirstsSize) {
  for (bool sameSize : {true, false}) {
    SCOPED_TRACE(sameSize);
    Bytes other = sameSize ? second
                           : synthetic::Compress(synthetic::TestCard(24, 16, 2));
    Bytes file = synthetic::BuildMpo({first, other});
    std::string text(file.begin(), file.end());
    size_t firstMark = text.find("MPF");
    file[text.find("MPF", firstMark + 1) + 4] = 'X';
    size_t attributeAt = firstMark + 4 + 8 + 2 + 3 * 12 + 4 + 16;
    synthetic::Patch32Le(file, attributeAt, 0);  // type: undefined
    left.reset();
    ClearLoadFailure();
    EXPECT_EQ(Load(file, left, right), sameSize ? 1 : 0) << LastLoadFailure();
    if (!sameSize) {
      EXPECT_NE(LastLoadFailure().find("no view of the same size"),
                std::string::npos)
          << LastLoadFailure();
    }
  }
}

TEST_F(MpoReader, HostileMakerNoteOffsetsAreRefusedWithoutReadingOutside) {
  for (uint32_t offset : {0x7FFFFFF0u, 0xFFFFFFF8u, 0xFFFFFFFFu, 100000u}) {
    SCOPED_TRACE(offset);
    synthetic::MpoOptions options;
    options.parallax = ParallaxOf(3, 2, 1, 1);
    options.parallax.horizontalOffset = offset;
    EXPECT_EQ(Load(Mpo(options), left, right), 0);
    EXPECT_FALSE(left);
    options.parallax.horizontalOffset = 0;
    options.parallax.verticalOffset = offset;
    EXPECT_EQ(Load(Mpo(options), left, right), 0);
    EXPECT_FALSE(left);
  }
  // An offset to the very last 8 bytes of the file is still inside.
  synthetic::MpoOptions options;
  options.parallax = ParallaxOf(3, 2, 0, 1);
  Bytes file = Mpo(options);
  std::string text(file.begin(), file.end());
  const std::string mark("FUJIFILM\x0C\0", 10);
  size_t makerNote = text.find(mark, text.find(mark) + 1);
  ASSERT_NE(makerNote, std::string::npos);
  Bytes tail = {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0};  // -1 / 1 at the end
  file.insert(file.end(), tail.begin(), tail.end());
  uint32_t lastEight = static_cast<uint32_t>(file.size() - 8 - makerNote);
  size_t entry = text.find(std::string("\x11\xB2", 2), makerNote);
  synthetic::Patch32Le(file, entry + 8, lastEight);
  ASSERT_EQ(Load(file, left, right), 1) << LastLoadFailure();
  EXPECT_EQ(ParallaxShiftX, 0);  // 48 x -1 x -0.01 = 0.48
}

TEST_F(MpoReader, SecondMpfMarkInTheLastBytesIsRefused) {
  Bytes file =
      synthetic::InsertAfterStart(first, synthetic::MpfIndexSegment(2));
  for (const std::string& tail :
       {std::string("MPF\0MM", 6), std::string("MPF\0II", 6),
        std::string("xxMPF\0MMx", 9)}) {
    Bytes withTail = file;
    withTail.insert(withTail.end(), tail.begin(), tail.end());
    EXPECT_EQ(Load(withTail, left, right), 0);
    EXPECT_FALSE(left);
  }
  // Two marks at the very start: start would lie before the data.
  Bytes early = {'M', 'P', 'F', 0, 'M', 'M', 'M', 'P', 'F', 0, 'I', 'I'};
  EXPECT_EQ(Load(early, left, right), 0);
  Bytes tiny = {'M', 'P', 'F', 0, 'M', 'M'};
  EXPECT_EQ(Load(tiny, left, right), 0);
  EXPECT_EQ(LoadMpoData(nullptr, 0, left, right), 0);
}

TEST_F(MpoReader, TruncatedSecondPictureIsRefusedOrDecodedWithoutCrashing) {
  Bytes file = Mpo();
  std::string text(file.begin(), file.end());
  size_t secondMark = text.find("MPF", text.find("MPF") + 1);
  // Cut within the second picture's headers: no picture to decode.
  for (size_t cut : {secondMark + 6, secondMark + 40, secondMark + 200}) {
    Bytes head(file.begin(), file.begin() + cut);
    EXPECT_EQ(Load(head, left, right), 0) << cut;
    EXPECT_FALSE(left);
  }
  // Cut inside its scan: the library fills the missing rows and warns.
  Bytes most(file.begin(), file.end() - 100);
  Load(most, left, right);
}

TEST_F(MpoReader, MakerNoteWindowAtTheEndOfTheDataStaysInside) {
  // The second maker-note mark sits a few bytes before the end, so the
  // 400-byte window runs past it.
  Bytes file = {'F', 'U', 'J', 'I', 'F', 'I', 'L', 'M', 0x0C, 0, 0, 0};
  Bytes again = file;
  file.insert(file.end(), again.begin(), again.end());
  Bytes entries = {0x11, 0xB2, 10,   0,    1,    0,    0,
                   0,    0xF0, 0xFF, 0xFF, 0xFF, 0x12, 0xB2};
  file.insert(file.end(), entries.begin(), entries.end());
  for (const char* mark : {"MPF\0MM", "MPF\0MM"})
    file.insert(file.end(), mark, mark + 6);
  EXPECT_EQ(Load(file, left, right), 0);
}

TEST_F(MpoReader, FileOnDiskLoadsAsItsBytesDo) {
  std::string path = ScratchDir() + "/pair.mpo";
  synthetic::MpoOptions options;
  options.parallax = ParallaxOf(-10, 1, 0, 1);
  WriteTestFile(path, Mpo(options));
  ASSERT_EQ(LoadMpoFile(path, left, right), 1) << LastLoadFailure();
  EXPECT_EQ(PictureWidth(left), 44);
  EXPECT_EQ(LoadMpoFile(ScratchDir() + "/missing.mpo", left, right), 0);
}

TEST_F(MpoReader, NintendoCameraFileGivesTwoFullViews) {
  REQUIRE_TEST_FILES("mpo/pillow_sugarshack.mpo");
  Picture l, r;
  ASSERT_EQ(LoadMpoFile(TestDataPath("mpo/pillow_sugarshack.mpo"), l, r), 1)
      << LastLoadFailure();
  EXPECT_EQ(PictureWidth(l), 640);
  EXPECT_EQ(PictureHeight(r), 480);
  EXPECT_EQ(ParallaxShiftX, 0);
  EXPECT_FALSE(SamePixels(l, r));
}

TEST_F(MpoReader, CommentComesFromTheFirstPicture) {
  synthetic::CompressOptions withComment;
  withComment.comments = {"left comment"};
  Bytes commented =
      synthetic::Compress(synthetic::TestCard(16, 16), withComment);
  withComment.comments = {"right comment"};
  Bytes other =
      synthetic::Compress(synthetic::TestCard(16, 16, 1), withComment);
  ASSERT_EQ(Load(synthetic::BuildMpo({commented, other}), left, right), 1);
  EXPECT_STREQ(CurrentComment, "left comment");
  ClearCurrentComment();
  ASSERT_EQ(Load(synthetic::BuildMpo({first, other}), left, right), 1);
  EXPECT_STREQ(CurrentComment, "right comment");
}

}  // namespace

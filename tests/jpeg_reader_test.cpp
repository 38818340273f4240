#include "image/jpeg_reader.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/still_reader.h"
#include "tests/reader_support.h"
#include "tests/synthetic_jpeg.h"
#include "tests/test_support.h"

namespace {

using synthetic::Bytes;
using synthetic::RawImage;

Picture Decode(const Bytes& bytes) {
  return DecodeJpegData(bytes.data(), bytes.size());
}

// The library's own decode, top-down, in the colour space asked for.
RawImage DecodeRaw(const Bytes& bytes, J_COLOR_SPACE space) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = space;
  jpeg_start_decompress(&cinfo);
  RawImage image;
  image.width = static_cast<int>(cinfo.output_width);
  image.height = static_cast<int>(cinfo.output_height);
  image.components = cinfo.output_components;
  image.space = space;
  size_t rowBytes = static_cast<size_t>(image.width) * image.components;
  image.samples.resize(rowBytes * image.height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = image.samples.data() + rowBytes * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return image;
}

// Blue, green, red of the pixel at column x, row y counted from the top.
const uint8_t* PixelAt(const Picture& p, int x, int y) {
  return PictureRow(p.get(), PictureHeight(p) - 1 - y) + 3 * x;
}

RawImage Grey(int width, int height) {
  RawImage image{width, height, 1, JCS_GRAYSCALE, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.samples.push_back(static_cast<uint8_t>((x * 9 + y * 31) & 0xFF));
  return image;
}

RawImage Flat(int width, int height, std::vector<uint8_t> sample,
              J_COLOR_SPACE space) {
  RawImage image{width, height, static_cast<int>(sample.size()), space, {}};
  for (int k = 0; k < width * height; ++k)
    image.samples.insert(image.samples.end(), sample.begin(), sample.end());
  return image;
}

// The CMYK rule applied to the samples the library delivers.
uint8_t CmykChannel(int sample, int fourth) {
  int ink = (255 - sample) + (255 - fourth) / 3;
  return static_cast<uint8_t>(255 - (ink < 255 ? ink : 255));
}

// Every pixel of the reader's picture is what the library decodes in
// `space` (grey replicated, CMYK through the ink rule), bottom-up, blue
// first.
void ExpectLibraryPixels(const Bytes& bytes, J_COLOR_SPACE space) {
  Picture p = Decode(bytes);
  ASSERT_TRUE(p) << LastLoadFailure();
  ASSERT_EQ(PictureBits(p), 24);
  RawImage raw = DecodeRaw(bytes, space);
  ASSERT_EQ(raw.components, space == JCS_GRAYSCALE ? 1 : space == JCS_RGB ? 3 : 4);
  ASSERT_EQ(PictureWidth(p), raw.width);
  ASSERT_EQ(PictureHeight(p), raw.height);
  for (int y = 0; y < raw.height; ++y) {
    for (int x = 0; x < raw.width; ++x) {
      const uint8_t* s = &raw.samples[size_t(raw.components) *
                                      (static_cast<size_t>(y) * raw.width + x)];
      uint8_t r = s[0], g = s[0], b = s[0];
      if (space == JCS_RGB) g = s[1], b = s[2];
      if (space == JCS_CMYK)
        r = CmykChannel(s[0], s[3]), g = CmykChannel(s[1], s[3]),
        b = CmykChannel(s[2], s[3]);
      const uint8_t* px = PixelAt(p, x, y);
      ASSERT_EQ(px[0], b) << x << "," << y;
      ASSERT_EQ(px[1], g) << x << "," << y;
      ASSERT_EQ(px[2], r) << x << "," << y;
    }
  }
}

class JpegReader : public ::testing::Test {
 protected:
  void SetUp() override { ClearCurrentComment(); }
  void TearDown() override { ClearCurrentComment(); }
};

// --- pictures -------------------------------------------------------------

TEST_F(JpegReader, ColourAndGreyPicturesAreBottomUpBlueGreenRedAsTheLibraryDecodes) {
  struct Case { RawImage image; int w, h; } cases[] = {
      {synthetic::TestCard(37, 21, 2), 37, 21}, {Grey(19, 11), 19, 11}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image.components == 1 ? "grey" : "colour");
    Bytes bytes = synthetic::Compress(c.image);
    ASSERT_NO_FATAL_FAILURE(ExpectLibraryPixels(bytes, c.image.space));
    Picture p = Decode(bytes);
    EXPECT_EQ(PictureWidth(p), c.w);
    EXPECT_EQ(PictureHeight(p), c.h);
  }
}

TEST_F(JpegReader, ResultHeaderIsFilledAndRowPaddingIsZero) {
  Bytes bytes = synthetic::Compress(synthetic::TestCard(5, 3));
  Picture p = Decode(bytes);
  ASSERT_TRUE(p);
  const BitmapInfoHeader* h = PictureHeader(p);
  EXPECT_EQ(h->biSize, 40u);
  EXPECT_EQ(h->biWidth, 5);
  EXPECT_EQ(h->biHeight, 3);
  EXPECT_EQ(h->biPlanes, 1);
  EXPECT_EQ(h->biBitCount, 24);
  EXPECT_EQ(h->biCompression, 0u);
  EXPECT_EQ(h->biSizeImage, 3u * 16);
  EXPECT_EQ(h->biXPelsPerMeter, 0);
  EXPECT_EQ(h->biClrUsed, 0u);
  EXPECT_EQ(PicturePixels(p), p.get() + 40);
  for (int row = 0; row < 3; ++row)
    EXPECT_EQ(PictureRow(p.get(), row)[15], 0) << row;
}

TEST_F(JpegReader, CmykWhiteStaysWhiteAndNoBlackInkDropsEachChannelBy85) {
  // Quality 100 keeps flat samples exact; the rule is checked against what
  // the library delivers either way.
  synthetic::CompressOptions best;
  best.quality = 100;
  Bytes white =
      synthetic::Compress(Flat(16, 16, {255, 255, 255, 255}, JCS_CMYK), best);
  Bytes inked =
      synthetic::Compress(Flat(16, 16, {255, 255, 255, 0}, JCS_CMYK), best);
  ExpectLibraryPixels(white, JCS_CMYK);
  ExpectLibraryPixels(inked, JCS_CMYK);
  RawImage raw = DecodeRaw(inked, JCS_CMYK);
  ASSERT_EQ(raw.samples[3], 0);  // the flat samples survived compression
  Picture p = Decode(white);
  EXPECT_EQ(PixelAt(p, 3, 3)[0], 255);
  EXPECT_EQ(PixelAt(p, 3, 3)[2], 255);
  p = Decode(inked);
  EXPECT_EQ(PixelAt(p, 3, 3)[0], 170);
  EXPECT_EQ(PixelAt(p, 3, 3)[1], 170);
  EXPECT_EQ(PixelAt(p, 3, 3)[2], 170);
}

TEST_F(JpegReader, GreyAndCmykConformanceFilesDecodeAsTheLibraryAndTheInkRuleSay) {
  REQUIRE_TEST_FILES("jpeg/pillow_hopper_gray.jpg",
                     "jpeg/jpegsuite/baseline/32x32x8_cmyk.jpg",
                     "jpeg/jpegsuite/progressive_huffman/32x32x8_cmyk_interleaved.jpg",
                     "jpeg/pillow_pil_sample_cmyk.jpg");
  struct Case { const char* name; J_COLOR_SPACE space; } cases[] = {
      {"jpeg/pillow_hopper_gray.jpg", JCS_GRAYSCALE},
      {"jpeg/jpegsuite/baseline/32x32x8_cmyk.jpg", JCS_CMYK},
      {"jpeg/jpegsuite/progressive_huffman/32x32x8_cmyk_interleaved.jpg", JCS_CMYK},
      {"jpeg/pillow_pil_sample_cmyk.jpg", JCS_CMYK}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectLibraryPixels(ReadTestFile(TestDataPath(c.name)), c.space);
  }
}

TEST_F(JpegReader, OtherComponentCountsAreRefused) {
  RawImage two{8, 8, 2, JCS_UNKNOWN, Bytes(8 * 8 * 2, 100)};
  Bytes bytes = synthetic::Compress(two);
  ClearLoadFailure();
  EXPECT_FALSE(Decode(bytes));
  EXPECT_NE(LastLoadFailure().find("2 colour components"), std::string::npos)
      << LastLoadFailure();
}

TEST_F(JpegReader, PicturesOverThePixelLimitAreRefusedBeforeDecoding) {
  Bytes bytes = synthetic::Compress(synthetic::TestCard(40, 30));
  {
    ScopedPixelLimit limit(40 * 30 - 1);
    EXPECT_FALSE(Decode(bytes));
    EXPECT_EQ(LastLoadFailure(), "picture too large");
  }
  EXPECT_TRUE(Decode(bytes));
}

TEST_F(JpegReader, BrokenDataGivesNullWithTheLibrarysReason) {
  ClearLoadFailure();
  EXPECT_FALSE(DecodeJpegData(nullptr, 0));
  EXPECT_FALSE(LastLoadFailure().empty());
  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  EXPECT_FALSE(Decode(png));
  EXPECT_NE(LastLoadFailure().find("Not a JPEG file"), std::string::npos)
      << LastLoadFailure();
  Bytes good = synthetic::Compress(synthetic::TestCard(32, 32));
  for (size_t cut : {size_t{2}, size_t{20}, size_t{100}, size_t{200}}) {
    Bytes head(good.begin(), good.begin() + cut);
    EXPECT_FALSE(Decode(head)) << cut;  // cut before the scan: no picture
  }
  // Cut inside the scan: the library fills the rest and only warns.
  Bytes most(good.begin(), good.end() - 40);
  EXPECT_TRUE(Decode(most));
}

// A file cut inside its scan is shown as far as it goes, and the reader
// says so; a whole file after it says nothing (no stale warning), from
// memory and from a file alike.
TEST_F(JpegReader, AFileCutInsideItsScanComesWithAWarningAWholeOneWithout) {
  Bytes good = synthetic::Compress(synthetic::TestCard(64, 48));
  Bytes cut(good.begin(), good.end() - 60);
  std::string path = ScratchDir() + "/cut.jpg";
  for (const auto& [bytes, warning] :
       {std::pair{cut, "the file ends early"}, std::pair{good, ""},
        std::pair{cut, "the file ends early"}}) {
    StillDecode memory = DecodeStillData(bytes.data(), bytes.size());
    EXPECT_TRUE(memory.picture);
    EXPECT_EQ(memory.warning, warning);
    WriteTestFile(path, bytes);
    StillDecode file = DecodeStill(path);
    EXPECT_TRUE(file.picture);
    EXPECT_EQ(file.warning, warning);
  }
}

TEST_F(JpegReader, FileAndMemoryGiveTheSamePicture) {
  REQUIRE_TEST_FILES("jpeg/pillow_flower.jpg");
  ExpectPathReadsLikeMemory(DecodeJpeg, DecodeJpegData,
                            TestDataPath("jpeg/pillow_flower.jpg"));
  EXPECT_NE(LastLoadFailure().find("cannot open"), std::string::npos);
}

TEST_F(JpegReader, PatchedStartDecodesWhateverTheFirstTwoBytesHold) {
  Bytes bytes = synthetic::Compress(synthetic::TestCard(24, 16, 1));
  Picture expected = Decode(bytes);
  bytes[0] = 0x12;
  bytes[1] = 0x34;
  EXPECT_FALSE(Decode(bytes));
  Picture p = DecodeJpegStream({bytes.data(), bytes.size(), true});
  ASSERT_TRUE(p) << LastLoadFailure();
  EXPECT_EQ(
      std::memcmp(p.get(), expected.get(), 40 + PictureHeader(p)->biSizeImage),
      0);
  EXPECT_FALSE(DecodeJpegStream({bytes.data(), 1, true}));
  EXPECT_FALSE(DecodeJpegStream({bytes.data(), 2, true}));
  EXPECT_FALSE(DecodeJpegStream({nullptr, 0, true}));
  EXPECT_FALSE(DecodeJpegStream({nullptr, 10, false}));
}

TEST_F(JpegReader, CroppedDecodeEqualsCroppingTheDecodedPicture) {
  REQUIRE_TEST_FILES("jpeg/jpegsuite/baseline/32x32x8_cmyk.jpg", "jpeg/pillow_flower2.jpg");
  synthetic::CompressOptions best;
  best.quality = 100;
  std::vector<Bytes> streams = {
      synthetic::Compress(synthetic::TestCard(45, 37, 1)),
      synthetic::Compress(Grey(33, 20)),
      synthetic::Compress(Flat(20, 18, {10, 200, 30, 90}, JCS_CMYK), best),
      ReadTestFile(TestDataPath("jpeg/jpegsuite/baseline/32x32x8_cmyk.jpg")),
      ReadTestFile(TestDataPath("jpeg/pillow_flower2.jpg"))};
  for (const Bytes& bytes : streams) {
    Picture whole = Decode(bytes);
    ASSERT_TRUE(whole);
    int w = PictureWidth(whole), h = PictureHeight(whole);
    for (int dx : {0, -1, 1, -7, 9, -(w - 1), w - 1}) {
      for (int dy : {0, 1, -1, 5, -6, h - 1, -(h - 1)}) {
        SCOPED_TRACE(testing::Message()
                     << w << "x" << h << " by " << dx << "," << dy);
        Picture p = DecodeJpegStream({bytes.data(), bytes.size()}, dx, dy);
        ASSERT_TRUE(SamePixels(p, CropPicture(whole, dx, dy)));
        EXPECT_EQ(PictureHeader(p)->biSizeImage,
                  static_cast<uint32_t>(RowStride(PictureWidth(p), 24) *
                                        PictureHeight(p)));
      }
    }
    for (auto [dx, dy] : {std::pair{w, 0},
                          {-w, 0},
                          {0, h},
                          {0, -h},
                          {INT32_MIN, 0},
                          {0, INT32_MIN}}) {
      EXPECT_FALSE(DecodeJpegStream({bytes.data(), bytes.size()}, dx, dy));
      EXPECT_EQ(LastLoadFailure(), "the crop leaves no picture");
    }
  }
}

TEST_F(JpegReader, SizeIsReadFromTheHeadersAlone) {
  Bytes bytes = synthetic::CommentAfterScan(
      synthetic::Compress(synthetic::TestCard(45, 37)), "x");
  int w = 0, h = 0;
  ASSERT_TRUE(ReadJpegSize({bytes.data(), bytes.size()}, w, h));
  EXPECT_EQ(w, 45);
  EXPECT_EQ(h, 37);
  bytes[0] = 0;
  EXPECT_FALSE(ReadJpegSize({bytes.data(), bytes.size()}, w, h));
  EXPECT_TRUE(ReadJpegSize({bytes.data(), bytes.size(), true}, w, h));
  Bytes cut(bytes.begin(), bytes.begin() + 30);
  EXPECT_FALSE(ReadJpegSize({cut.data(), cut.size(), true}, w, h));
  EXPECT_TRUE(CurrentCommentEmpty());
}

// --- comments -------------------------------------------------------------

Bytes WithComments(std::vector<std::string> comments,
                   RawImage image = Grey(8, 8)) {
  synthetic::CompressOptions options;
  options.comments = std::move(comments);
  return synthetic::Compress(image, options);
}

// Inserts a segment right after the stream's first SOF0 segment.
Bytes InsertAfterFrame(const Bytes& jpeg, const Bytes& segment) {
  for (size_t i = 2; i + 3 < jpeg.size();) {
    size_t length = size_t{jpeg[i + 2]} << 8 | jpeg[i + 3];
    size_t next = i + 2 + length;
    if (jpeg[i + 1] == 0xC0) {
      Bytes out(jpeg.begin(), jpeg.begin() + next);
      out.insert(out.end(), segment.begin(), segment.end());
      out.insert(out.end(), jpeg.begin() + next, jpeg.end());
      return out;
    }
    i = next;
  }
  ADD_FAILURE() << "no SOF0";
  return jpeg;
}

Bytes CommentSegment(const std::string& text) {
  return synthetic::Segment(0xFE, Bytes(text.begin(), text.end()));
}

void ExpectComment(const std::string& want) {
  if (want.empty())
    EXPECT_TRUE(CurrentCommentEmpty()) << CurrentComment;
  else
    EXPECT_STREQ(CurrentComment, want.c_str());
}

TEST_F(JpegReader, CommentIsTheLastBeforeTheScanOfAColourFrame) {
  struct Case { const char* what; Bytes bytes; std::string comment; } cases[] = {
      {"before the scan", WithComments({"Mt. Fuji from Lake Kawaguchi"}),
       "Mt. Fuji from Lake Kawaguchi"},
      {"after the scan",
       synthetic::CommentAfterScan(WithComments({}), "too late"), ""},
      {"the last of several", WithComments({"one", "two", "three"}), "three"},
      {"Shift JIS", WithComments({"\x95\x78\x8E\x6D\x8E\x52"}),
       "\xE5\xAF\x8C\xE5\xA3\xAB\xE5\xB1\xB1"},
      // A one-component baseline frame ends the walk; a colour one does not.
      {"after a grey frame",
       InsertAfterFrame(WithComments({}, Grey(8, 8)),
                        CommentSegment("after a grey frame")), ""},
      {"after a colour frame",
       InsertAfterFrame(WithComments({}, synthetic::TestCard(8, 8)),
                        CommentSegment("after a colour frame")),
       "after a colour frame"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearCurrentComment();
    ASSERT_TRUE(Decode(c.bytes));
    ExpectComment(c.comment);
  }
}

TEST_F(JpegReader, ASecondDecodeKeepsTheCommentAlreadyHeld) {
  ASSERT_TRUE(Decode(WithComments({"first"})));
  ASSERT_TRUE(Decode(WithComments({"second"})));
  EXPECT_STREQ(CurrentComment, "first");
}

TEST_F(JpegReader, LongCommentIsCutOnACharacterBoundary) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "\xE5\xAF\x8C";  // 富, 3 bytes each
  // 85 whole characters; one byte more in front and a 254th byte would split.
  for (auto [comment, length] : {std::pair{text, 255u}, {"a" + text, 253u}}) {
    ClearCurrentComment();
    ASSERT_TRUE(Decode(WithComments({comment})));
    EXPECT_EQ(std::strlen(CurrentComment), length);
    EXPECT_TRUE(IsValidUtf8(CurrentComment));
  }
}

TEST_F(JpegReader, CommentWalkStopsAtASegmentRunningPastTheEnd) {
  // Segments running past the end, length fields cut off and lengths below
  // 2 all stop the walk; a segment ending exactly at the end is read.
  struct Case { Bytes bytes; std::string comment; } cases[] = {
      {{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x40, 'a', 'b', 'c'}, ""},
      {{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c'}, "abc"},
      {{0xFF, 0xD8, 0xFF, 0xFE}, ""},
      {{0xFF, 0xD8, 0xFF, 0xFE, 0x00}, ""},
      {{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x01, 0xFF, 0xFE, 0, 3, 'x'}, ""},
      {{0xFF, 0xD8, 0xFF, 0xC0, 0, 17, 8}, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    ClearCurrentComment();
    ReadJpegCommentData(c.bytes.data(), c.bytes.size());
    ExpectComment(c.comment);
  }
}

TEST_F(JpegReader, CommentAfterMoreThan64KiBOfMetadataIsFoundInMemoryAndOnDisk) {
  // Two 60,000-byte APP1 segments (a large Exif and XMP) put the comment
  // past the first read of the file; a second comment after the scan is
  // still not seen.
  Bytes metadata;
  for (uint8_t code : {0xE1, 0xE1}) {
    Bytes app = synthetic::Segment(code, Bytes(60000, 'x'));
    metadata.insert(metadata.end(), app.begin(), app.end());
  }
  Bytes com = CommentSegment("after the metadata");
  metadata.insert(metadata.end(), com.begin(), com.end());
  Bytes jpeg = synthetic::CommentAfterScan(
      synthetic::InsertAfterStart(WithComments({}), metadata), "too late");
  ASSERT_GT(jpeg.size(), size_t{120000});
  std::string path = ScratchDir() + "/large-metadata.jpg";
  WriteTestFile(path, jpeg);

  ReadJpegCommentData(jpeg.data(), jpeg.size());
  ExpectComment("after the metadata");
  ClearCurrentComment();
  ReadJpegComment(path);
  ExpectComment("after the metadata");
  ClearCurrentComment();
  ASSERT_TRUE(DecodeJpeg(path));
  ExpectComment("after the metadata");
  ClearCurrentComment();
  ASSERT_TRUE(Decode(jpeg));
  ExpectComment("after the metadata");

  // Cut inside the comment segment: nothing half-read is taken.
  ClearCurrentComment();
  WriteTestFile(path, Bytes(jpeg.begin(), jpeg.begin() + 120000 + 10));
  ReadJpegComment(path);
  ExpectComment("");
}

TEST_F(JpegReader, DataThatIsNoJpegLeavesTheCommentAlone) {
  // Bytes of another format that happen to hold a COM-like pattern.
  Bytes other = {'I', 'I', '*', 0, 0xFF, 0xFE, 0x00, 0x05, 'b', 'a', 'd'};
  EXPECT_FALSE(Decode(other));
  EXPECT_TRUE(CurrentCommentEmpty()) << CurrentComment;
}

TEST_F(JpegReader, CommentIsReadFromAFileOnDisk) {
  std::string path = ScratchDir() + "/comment.jpg";
  WriteTestFile(path, WithComments({"on disk"}));
  ReadJpegComment(path);
  EXPECT_STREQ(CurrentComment, "on disk");
  ClearCurrentComment();
  ASSERT_TRUE(DecodeJpeg(path));
  EXPECT_STREQ(CurrentComment, "on disk");
  ClearCurrentComment();
  ReadJpegComment(ScratchDir() + "/missing.jpg");
  EXPECT_TRUE(CurrentCommentEmpty());
}

}  // namespace

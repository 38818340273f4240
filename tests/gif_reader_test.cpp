#include "image/gif_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "image/comment.h"
#include "tests/reader_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, int v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

void PutSubBlocks(Bytes& b, const Bytes& data) {
  for (size_t i = 0; i < data.size(); i += 255) {
    size_t n = std::min<size_t>(255, data.size() - i);
    b.push_back(static_cast<uint8_t>(n));
    b.insert(b.end(), data.begin() + i, data.begin() + i + n);
  }
  b.push_back(0);
}

// LZW data of literal codes only, following the decoder's code widths.
Bytes Lzw(const Bytes& indices, int minSize) {
  Bytes out;
  uint32_t acc = 0;
  int bits = 0;
  int clear = 1 << minSize, next = clear + 2, width = minSize + 1;
  auto emit = [&](int code) {
    acc |= static_cast<uint32_t>(code) << bits;
    for (bits += width; bits >= 8; bits -= 8, acc >>= 8)
      out.push_back(static_cast<uint8_t>(acc));
  };
  emit(clear);
  bool afterClear = true;
  for (uint8_t index : indices) {
    emit(index);
    if (!afterClear) ++next;
    if (next == (1 << width) && width < 12) ++width;
    afterClear = false;
    if (next == 4095) {
      emit(clear);
      next = clear + 2, width = minSize + 1, afterClear = true;
    }
  }
  emit(clear + 1);
  if (bits > 0) out.push_back(static_cast<uint8_t>(acc));
  return out;
}

// Colour tables as lists of 0xRRGGBB.
Bytes Table(const std::vector<uint32_t>& colours) {
  Bytes t;
  for (uint32_t c : colours) t.insert(t.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  return t;
}

struct Gif {
  Bytes b;

  Gif(int width, int height, int sizeBits, const std::vector<uint32_t>& global) {
    b = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(b, width);
    Put16(b, height);
    b.push_back(static_cast<uint8_t>((global.empty() ? 0 : 0x80) | (sizeBits - 1)));
    b.push_back(0), b.push_back(0);
    Bytes t = Table(global);
    b.insert(b.end(), t.begin(), t.end());
  }
  Gif& Control(bool transparent, int index) {
    b.insert(b.end(), {0x21, 0xF9, 4, uint8_t(transparent ? 1 : 0), 0, 0,
                       uint8_t(index), 0});
    return *this;
  }
  Gif& Comment(const std::string& text) {
    b.insert(b.end(), {0x21, 0xFE});
    PutSubBlocks(b, Bytes(text.begin(), text.end()));
    return *this;
  }
  Gif& Image(int width, int height, const Bytes& indices,
             const std::vector<uint32_t>& local = {}, bool interlaced = false,
             int minSize = 0) {
    b.push_back(0x2C);
    Put16(b, 0), Put16(b, 0), Put16(b, width), Put16(b, height);
    int localBits = 0;
    while ((2 << localBits) < static_cast<int>(local.size())) ++localBits;
    b.push_back(static_cast<uint8_t>((local.empty() ? 0 : 0x80 | localBits) |
                                     (interlaced ? 0x40 : 0)));
    Bytes t = Table(local);
    b.insert(b.end(), t.begin(), t.end());
    if (minSize == 0) minSize = 8;
    b.push_back(static_cast<uint8_t>(minSize));
    PutSubBlocks(b, Lzw(indices, minSize));
    return *this;
  }
  Bytes End() {
    Bytes done = b;
    done.push_back(0x3B);
    return done;
  }
};

Picture Decode(const Bytes& file) { return DecodeGifData(file.data(), file.size()); }

const auto At = RgbAt;

constexpr uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, W = 0xFFFFFF;

std::vector<uint32_t> Grey(int n) {
  std::vector<uint32_t> t;
  for (int i = 0; i < n; ++i) t.push_back(0x010101u * static_cast<uint32_t>(i));
  return t;
}

// The depth is the deepest of the screen's, the local table's and what the
// highest index needs; an index one past a depth (2 needs 4 bits, 16 needs 8)
// would otherwise be cut to a lower one and show another table entry.
// Indices beyond every table show black.
TEST(GifReader, DepthHoldsTheScreensSizeAndTheHighestIndexAtEveryBoundary) {
  struct Case { int sizeBits, highest, bits; } cases[] = {
      {1, 1, 1}, {1, 2, 4}, {1, 9, 4}, {1, 15, 4}, {1, 16, 8}, {1, 255, 8},
      {2, 1, 4}, {4, 15, 4}, {4, 16, 8}, {5, 1, 8}, {8, 255, 8}};
  for (Case c : cases) {
    // Every entry distinct and none black.
    std::vector<uint32_t> global;
    for (int k = 0; k < (1 << c.sizeBits); ++k) global.push_back(0x800000u | k);
    Bytes file = Gif(3, 1, c.sizeBits, global)
                     .Image(3, 1, {1, uint8_t(c.highest), 0}).End();
    Picture p = Decode(file);
    ASSERT_TRUE(p) << c.sizeBits << " " << c.highest;
    EXPECT_EQ(PictureBits(p), c.bits) << c.sizeBits << " " << c.highest;
    uint32_t shown = c.highest < int(global.size()) ? global[c.highest] : 0u;
    ExpectPixels(p, {{0, 0, 0x800001u}, {1, 0, shown}, {2, 0, 0x800000u}});
  }
}

TEST(GifReader, AnAnimationYieldsItsLastImageAtThatImagesOwnSize) {
  Bytes file = Gif(4, 4, 2, {R, G, B, W})
                   .Image(4, 4, Bytes(16, 0))
                   .Image(3, 2, {1, 2, 1, 2, 1, 2})
                   .End();
  Picture p = Decode(file);
  ASSERT_TRUE(p);
  ExpectPixels(p, {{0, 0, G}, {1, 1, G}, {2, 1, B}});
  EXPECT_EQ(PictureWidth(p), 3);
  EXPECT_EQ(PictureHeight(p), 2);
}

TEST(GifReader, TheTransparentEntryShowsWhiteForItsOwnImageOnly) {
  Gif gif(2, 1, 2, {R, G, B, 0});
  gif.Control(true, 1).Image(2, 1, {0, 1});
  ExpectPixels(Decode(gif.End()), {{0, 0, R}, {1, 0, W}});
  // A graphic control describes the one image after it.
  ExpectPixels(Decode(gif.Image(2, 1, {1, 1}).End()), {{0, 0, G}});
}

TEST(GifReader, InterlacedRowsLandInTheirPassOrder) {
  // Rows in the data: passes start at 0, 4, 2, 1 with steps 8, 8, 4, 2.
  const int order[] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
  Bytes indices;
  for (int row : order) indices.insert(indices.end(), 2, uint8_t(row));
  Picture p = Decode(Gif(2, 10, 4, Grey(16)).Image(2, 10, indices, {}, true).End());
  ASSERT_TRUE(p);
  for (int y = 0; y < 10; ++y) EXPECT_EQ(At(p, 1, y), 0x010101u * y) << y;
}

TEST(GifReader, CommentExtensionsFillTheCurrentComment) {
  ClearCurrentComment();
  Picture p = Decode(Gif(1, 1, 1, {R, G}).Comment("first").Image(1, 1, {0})
                         .Comment("second").End());
  ASSERT_TRUE(p);
  EXPECT_STREQ(CurrentComment, "second");

  REQUIRE_TEST_FILES("gif/suite-pygif/comment.gif", "gif/suite-pygif/nul-comment.gif",
                     "gif/suite-pygif/large-comment.gif");
  std::string hello;
  while (hello.size() < 255) hello += "Hello World! ";
  struct { const char* file; std::string text; } suite[] = {
      {"comment.gif", "Hello World!"},
      {"nul-comment.gif", ""},                       // a zero ends the text
      {"large-comment.gif", hello.substr(0, 255)}};  // the first sub-block
  for (const auto& c : suite) {
    std::strcpy(CurrentComment, "old");
    Bytes file = ReadTestFile(TestDataPath(std::string("gif/suite-pygif/") + c.file));
    ASSERT_TRUE(Decode(file)) << c.file;
    EXPECT_EQ(std::string(CurrentComment), c.text) << c.file;
  }
  // Without a comment extension the comment is left alone.
  std::strcpy(CurrentComment, "kept");
  ASSERT_TRUE(Decode(Gif(1, 1, 1, {R, G}).Image(1, 1, {0}).End()));
  EXPECT_STREQ(CurrentComment, "kept");
}

TEST(GifReader, OnlyTheFirstHundredImagesAndOneMoreCommentAreRead) {
  Gif gif(1, 1, 8, Grey(256));
  for (int i = 0; i < 100; ++i) gif.Image(1, 1, {uint8_t(i)});
  gif.Comment("after the hundredth").Image(1, 1, {200}).Comment("too late");
  ExpectPixels(Decode(gif.End()), {{0, 0, 0x010101u * 99}});
  EXPECT_STREQ(CurrentComment, "after the hundredth");
}

TEST(GifReader, ALocalTableLargerThanTheScreenDepthDeepensThePicture) {
  std::vector<uint32_t> local = Grey(256);
  local[200] = B;
  Picture p = Decode(Gif(2, 1, 1, {R, G}).Image(2, 1, {1, 200}, local).End());
  ASSERT_TRUE(p);
  ExpectPixels(p, {{0, 0, 0x010101u}, {1, 0, B}});
  EXPECT_EQ(PictureBits(p), 8);
}

TEST(GifReader, DamagedImageDataKeepsWhatWasDecoded) {
  Gif gif(4, 3, 2, {R, G, B, W});
  gif.Image(4, 3, Bytes(12, 2));
  Bytes whole = gif.End();
  // Cut the data after six bytes of 9-bit codes (clear and four pixels):
  // the first row survives and the rest shows colour index 0.
  size_t dataStart = 13 + 12 + 10 + 1 + 1;
  Bytes cut(whole.begin(), whole.begin() + dataStart + 6);
  Picture p = Decode(cut);
  ExpectPixels(p, {{0, 0, B}, {1, 0, B}, {2, 0, B}, {3, 0, B}, {0, 1, R}, {3, 2, R}});

  // An image whose first code is not in the table gives no picture; the
  // image before it stands.
  Bytes bad = gif.b;
  bad.insert(bad.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 1, 0xFF, 0, 0x3B});
  p = Decode(bad);
  ASSERT_TRUE(p);
  EXPECT_EQ(PictureWidth(p), 4);
  bad = Gif(1, 1, 1, {R, G}).b;
  bad.insert(bad.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 1, 0xFF, 0, 0x3B});
  EXPECT_FALSE(Decode(bad));
  REQUIRE_TEST_FILES("gif/suite-pygif/invalid-code.gif", "gif/suite-pygif/overflow-codes.gif");
  for (const char* name : {"invalid-code.gif", "overflow-codes.gif"})
    EXPECT_FALSE(Decode(ReadTestFile(TestDataPath(std::string("gif/suite-pygif/") + name))))
        << name;
}

TEST(GifReader, ImagesOfImpossibleSizeAndFilesWithoutImagesGiveNull) {
  REQUIRE_TEST_FILES("gif/broken_pillow_decompression_bomb.gif");
  const char* what[] = {"empty image", "65535 square", "no image", "bomb", "GIF79a"};
  int i = 0;
  for (const Bytes& file :
       {Gif(1, 1, 1, {R, G}).Image(0, 1, {}).End(),
        Gif(1, 1, 1, {R, G}).Image(65535, 65535, {0}).End(),
        Gif(1, 1, 1, {R, G}).Comment("only").End(),
        ReadTestFile(TestDataPath("gif/broken_pillow_decompression_bomb.gif")),
        Bytes{'G', 'I', 'F', '7', '9', 'a', 1, 0, 1, 0, 0, 0, 0}})
    EXPECT_FALSE(Decode(file)) << what[i++];
}

TEST(GifReader, EveryTruncationOfAFileIsReadSafely) {
  REQUIRE_TEST_FILES("gif/pillow_iss634.gif", "gif/suite-peterdn/animated_loop_interlaced.gif");
  for (const char* name : {"gif/pillow_iss634.gif",
                           "gif/suite-peterdn/animated_loop_interlaced.gif"}) {
    SCOPED_TRACE(name);
    Bytes whole = ReadTestFile(TestDataPath(name));
    ASSERT_FALSE(whole.empty());
    ForEachPrefix(whole, [](size_t n) { return n + (n < 1000 ? 7 : 997); },
                  [](const Bytes& part) {
                    if (Picture p = Decode(part)) {
                      EXPECT_GT(PictureWidth(p), 0);
                    }
                  });
  }
}

TEST(GifReader, ThePathEntryPointReadsLikeTheMemoryOne) {
  REQUIRE_TEST_FILES("gif/pillow_hopper.gif");
  ExpectPathReadsLikeMemory(DecodeGif, DecodeGifData,
                            TestDataPath("gif/pillow_hopper.gif"));
}

}  // namespace

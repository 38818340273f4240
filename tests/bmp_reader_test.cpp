#include "image/bmp_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "tests/reader_support.h"

namespace {

std::vector<uint8_t> Suite(const char* name) {
  return ReadTestFile(TestDataPath(std::string("bmpsuite/") + name));
}

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t value) {
  // at(): a missing fixture fails the test instead of writing past the end.
  for (int i = 0; i < 4; ++i) v.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

// A BMP file with a 40-byte header; `extra` (masks or colour table) goes
// between header and pixels.
std::vector<uint8_t> BmpFile(int width, int height, int bits,
                             uint32_t compression,
                             const std::vector<uint8_t>& extra,
                             const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> f(54);
  f[0] = 'B', f[1] = 'M';
  Put32(f, 2, static_cast<uint32_t>(54 + extra.size() + pixels.size()));
  Put32(f, 10, static_cast<uint32_t>(54 + extra.size()));
  Put32(f, 14, 40);
  Put32(f, 18, static_cast<uint32_t>(width));
  Put32(f, 22, static_cast<uint32_t>(height));
  f[26] = 1, f[28] = static_cast<uint8_t>(bits);
  Put32(f, 30, compression);
  f.insert(f.end(), extra.begin(), extra.end());
  f.insert(f.end(), pixels.begin(), pixels.end());
  return f;
}

Picture Decode(const std::vector<uint8_t>& file) {
  return DecodeBmpData(file.data(), file.size());
}

// The 24-bit form of whatever the reader returned.
Picture As24(Picture p) {
  if (!p || PictureBits(p) == 24) return p;
  return ConvertTo24(p);
}

std::vector<uint8_t> Pixels24(const Picture& p) {
  size_t bytes = RowStride(PictureWidth(p), 24) * size_t(PictureHeight(p));
  return {PicturePixels(p), PicturePixels(p) + bytes};
}


TEST(BmpReader, VariantsOfOnePictureDecodeToTheSamePixels) {
  REQUIRE_TEST_FILES("bmpsuite/g/pal8.bmp", "bmpsuite/g/pal8os2.bmp",
                     "bmpsuite/g/pal8topdown.bmp", "bmpsuite/g/pal8rle.bmp",
                     "bmpsuite/g/pal8v5.bmp", "bmpsuite/q/pal8os2v2-40sz.bmp",
                     "bmpsuite/b/badpalettesize.bmp");
  Picture reference = As24(Decode(Suite("g/pal8.bmp")));
  ASSERT_TRUE(reference);
  std::vector<uint8_t> mb = Suite("g/pal8.bmp");
  mb.at(0) = 'M', mb.at(1) = 'B';
  for (const auto& file :
       {mb, Suite("g/pal8os2.bmp"), Suite("g/pal8topdown.bmp"),
        Suite("g/pal8rle.bmp"), Suite("g/pal8v5.bmp"),
        Suite("q/pal8os2v2-40sz.bmp"), Suite("b/badpalettesize.bmp")}) {
    Picture p = Decode(file);
    ASSERT_TRUE(p);
    EXPECT_EQ(PictureBits(p), 8);
    EXPECT_EQ(PictureHeader(p)->biHeight, 64);  // bottom-up, as stored
    Picture converted = As24(std::move(p));
    EXPECT_EQ(Pixels24(converted), Pixels24(reference));
  }
}

TEST(BmpReader, CoreHeadersGetTheFortyByteFormAndFourBytePaletteEntries) {
  // 12-byte header: 16-bit sizes, 3-byte palette entries (blue, green, red).
  std::vector<uint8_t> f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0,
                            12, 0, 0, 0, 3, 0, 1, 0, 1, 0, 1, 0,
                            0, 0, 255, 0, 255, 0,  // red, green
                            0x60, 0, 0, 0};        // 0, 1, 1
  Picture p = Decode(f);
  ASSERT_TRUE(p);
  EXPECT_EQ(PictureHeader(p)->biSize, 40u);
  EXPECT_EQ(PictureWidth(p), 3);
  ExpectPixels(As24(std::move(p)), {{0, 0, 0xFF0000u}, {1, 0, 0x00FF00u}, {2, 0, 0x00FF00u}});
}

TEST(BmpReader, TopDown24BitFilesComeBackBottomUpWithAPositiveHeight) {
  std::vector<uint8_t> rows = {0, 0, 255, 0,    // top: red, padded
                               255, 0, 0, 0};   // bottom: blue
  Picture p = Decode(BmpFile(1, -2, 24, kBiRgb, {}, rows));
  ASSERT_TRUE(p);
  ExpectPixels(p, {{0, 1, 0x0000FFu}, {0, 0, 0xFF0000u}});
  EXPECT_EQ(PictureBits(p), 24);
  EXPECT_EQ(PictureHeader(p)->biHeight, 2);
}

TEST(BmpReader, BitfieldFilesKeepTheirDepthAndMasksFor565) {
  std::vector<uint8_t> masks = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  Picture p = Decode(BmpFile(2, 1, 16, kBiBitfields, masks,
                             {0x00, 0xF8, 0x1F, 0x00}));
  ASSERT_TRUE(p);
  EXPECT_EQ(PictureBits(p), 16);
  ExpectPixels(As24(std::move(p)), {{0, 0, 0xFF0000u}, {1, 0, 0x0000FFu}});
}

// The colour table holds biClrUsed entries (all the depth can index when 0),
// never more than the depth can index nor than fit before the pixels; an
// index on the last entry shows it, one past it shows black.
TEST(BmpReader, TheColourTableEndsAtItsCountItsDepthOrThePixels) {
  struct Case {
    int bits, clrUsed, entriesInFile;
    uint8_t last;  // the highest index with its own colour
    bool beyond;   // whether last + 1 is an index to try
  } cases[] = {
      {4, 0, 16, 15, false}, {4, 3, 3, 2, true}, {4, 17, 16, 15, false},
      {8, 0, 256, 255, false}, {8, 200, 200, 199, true},
      {8, 5, 4, 3, true},  // the pixels begin after four entries
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> table;
    for (int k = 0; k < c.entriesInFile; ++k)
      table.insert(table.end(), {uint8_t(k), 0, 0x80, 0});
    uint8_t next = c.beyond ? uint8_t(c.last + 1) : 0;
    std::vector<uint8_t> pixels =
        c.bits == 8 ? std::vector<uint8_t>{c.last, next, 0, 1}
                    : std::vector<uint8_t>{uint8_t(c.last << 4 | next),
                                           0x01, 0, 0};
    std::vector<uint8_t> file = BmpFile(4, 1, c.bits, 0, table, pixels);
    Put32(file, 46, uint32_t(c.clrUsed));
    Picture p = As24(Decode(file));
    ASSERT_TRUE(p) << c.bits << " bits, " << c.clrUsed << " used";
    ExpectPixels(p, {{0, 0, 0x800000u | c.last},
                     {1, 0, c.beyond ? 0u : 0x800000u},
                     {3, 0, 0x800001u}});
  }
}

TEST(BmpReader, RunLengthFilesConvertWithoutABlockSize) {
  // biSizeImage left 0 by the writer: the reader records the real length.
  std::vector<uint8_t> table = {0, 0, 0, 0, 0, 0, 255, 0};
  Picture p = Decode(BmpFile(4, 2, 8, kBiRle8, table,
                             {4, 1, 0, 0, 0, 2, 1, 0, 1, 1, 0, 1}));
  ASSERT_TRUE(p);
  // (0, 0) and (2, 0) are skipped by the delta.
  ExpectPixels(As24(std::move(p)), {{0, 1, 0xFF0000u}, {1, 1, 0xFF0000u},
                                    {2, 1, 0xFF0000u}, {3, 1, 0xFF0000u},
                                    {0, 0, 0u}, {1, 0, 0xFF0000u}, {2, 0, 0u}});
}

TEST(BmpReader, HeaderSizesThatCannotHoldTheFieldsAreRefused) {
  REQUIRE_TEST_FILES("bmpsuite/g/pal8.bmp", "bmpsuite/q/pal8os2v2-16.bmp");
  for (uint32_t size : {0u, 4u, 11u, 13u, 15u}) {
    std::vector<uint8_t> f = Suite("g/pal8.bmp");
    Put32(f, 14, size);
    EXPECT_FALSE(Decode(f)) << size;
  }
  EXPECT_TRUE(Decode(Suite("q/pal8os2v2-16.bmp")));  // 16 bytes: enough
}

TEST(BmpReader, ShortPixelDataLeavesTheMissingLinesBlack) {
  REQUIRE_TEST_FILES("bmpsuite/b/shortfile.bmp");
  // Four rows of red declared, one and a half present.
  std::vector<uint8_t> table = {0, 0, 255, 0, 255, 255, 255, 0};
  std::vector<uint8_t> f = BmpFile(4, 4, 8, kBiRgb, table,
                                   {0, 0, 0, 0, 0, 0});
  Picture p = Decode(f);
  ASSERT_TRUE(p);
  ExpectPixels(p, {{3, 3, 0xFF0000u}, {1, 2, 0xFF0000u}, {2, 2, 0u}, {0, 0, 0u}});
  EXPECT_EQ(PictureBits(p), 24);  // converted where the length was known

  Picture cut = As24(Decode(Suite("b/shortfile.bmp")));
  ASSERT_TRUE(cut);
  EXPECT_EQ(PictureHeight(cut), 64);
}

TEST(BmpReader, WrongFileSizesAndOffsetsAreMendedOrRefused) {
  REQUIRE_TEST_FILES("bmpsuite/g/pal1.bmp",
                     "bmpsuite/extra/broken_ci_SanselanTest.bmp");
  // bfSize far too small, as some writers leave it: the pixels are read.
  Picture reference = As24(Decode(Suite("g/pal1.bmp")));
  std::vector<uint8_t> f = Suite("g/pal1.bmp");
  Put32(f, 2, 54);
  EXPECT_EQ(Pixels24(As24(Decode(f))), Pixels24(reference));

  // bfOffBits beyond the file: nothing to show.
  Put32(f, 10, static_cast<uint32_t>(f.size() + 10));
  EXPECT_FALSE(Decode(f));

  // bfOffBits inside the colour table cuts the table there.
  Picture sanselan = Decode(Suite("extra/broken_ci_SanselanTest.bmp"));
  ASSERT_TRUE(sanselan);
  EXPECT_EQ(PictureWidth(sanselan), 40);
}

TEST(BmpReader, HostileHeadersAreRefusedBeforeAnythingIsAllocated) {
  REQUIRE_TEST_FILES("bmpsuite/b/reallybig.bmp", "bmpsuite/b/badwidth.bmp",
                     "bmpsuite/q/rgb24jpeg.bmp", "bmpsuite/q/rgb24png.bmp",
                     "bmpsuite/b/rletopdown.bmp", "bmpsuite/g/rgb24.bmp");
  for (const char* name : {"b/reallybig.bmp", "b/badwidth.bmp", "q/rgb24jpeg.bmp",
                           "q/rgb24png.bmp", "b/rletopdown.bmp"})
    EXPECT_FALSE(Decode(Suite(name))) << name;
  std::vector<uint8_t> f = Suite("g/rgb24.bmp");
  Put32(f, 22, 0x80000000u);  // a height whose magnitude overflows
  EXPECT_FALSE(Decode(f));
  Put32(f, 22, 0);
  EXPECT_FALSE(Decode(f));
  std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(Decode(gif));
}

TEST(BmpReader, EveryTruncationOfAFileIsReadSafely) {
  REQUIRE_TEST_FILES("bmpsuite/g/pal4rle.bmp", "bmpsuite/g/rgb16-565.bmp",
                     "bmpsuite/g/pal8v5.bmp", "bmpsuite/g/pal8os2.bmp");
  for (const char* name : {"g/pal4rle.bmp", "g/rgb16-565.bmp", "g/pal8v5.bmp",
                           "g/pal8os2.bmp"}) {
    SCOPED_TRACE(name);
    ForEachPrefix(Suite(name), [](size_t n) { return n + (n < 200 ? 1 : 97); },
                  [](const std::vector<uint8_t>& part) {
                    if (Picture p = As24(Decode(part))) {
                      EXPECT_EQ(PictureWidth(p), 127);
                    }
                  });
  }
}

TEST(BmpReader, ThePathEntryPointReadsLikeTheMemoryOne) {
  REQUIRE_TEST_FILES("bmpsuite/g/rgb32bf.bmp");
  ExpectPathReadsLikeMemory(DecodeBmp, DecodeBmpData,
                            TestDataPath("bmpsuite/g/rgb32bf.bmp"));
}

}  // namespace

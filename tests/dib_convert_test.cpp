#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "core/picture.h"

namespace {

// A bitmap block as the platform would take it: header, masks or colour
// table, pixels; built into a vector of exactly its size so that a read past
// the end shows under the address sanitizer.
struct Dib {
  std::vector<uint8_t> bytes;

  Dib(int width, int height, int bits, uint32_t compression,
      uint32_t headerSize = 40) {
    bytes.resize(std::max<uint32_t>(headerSize, sizeof(BitmapInfoHeader)));
    BitmapInfoHeader h{};
    h.biSize = headerSize;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<uint16_t>(bits);
    h.biCompression = compression;
    std::memcpy(bytes.data(), &h, sizeof h);
  }
  BitmapInfoHeader& Header() {
    return *reinterpret_cast<BitmapInfoHeader*>(bytes.data());
  }
  void Words(std::initializer_list<uint32_t> words) {
    for (uint32_t w : words)
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  void Colours(std::initializer_list<uint32_t> rgb) {
    for (uint32_t c : rgb) Words({c});  // 0x00RRGGBB is B, G, R, 0 in memory
    Header().biClrUsed = static_cast<uint32_t>(rgb.size());
  }
  void Pixels(std::initializer_list<uint8_t> data) {
    bytes.insert(bytes.end(), data);
  }
  Picture Convert(bool bounded = true) {
    return ConvertTo24(bytes.data(), bounded ? bytes.size() : 0);
  }
};

// Colour of pixel x on stored row y (0 = bottom) as 0xRRGGBB.
uint32_t At(const Picture& p, int x, int y) {
  const uint8_t* px = PictureRow(p.get(), y) + 3 * x;
  return px[2] << 16 | px[1] << 8 | px[0];
}

std::vector<uint32_t> Row(const Picture& p, int y) {
  std::vector<uint32_t> row;
  for (int x = 0; x < PictureWidth(p); ++x) row.push_back(At(p, x, y));
  return row;
}

constexpr uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, K = 0;

TEST(ConvertTo24, Rle8DrawsRunsAbsoluteRunsAndHonoursEveryEscape) {
  Dib d(6, 4, 8, kBiRle8);
  d.Colours({K, R, G, B});
  d.Pixels({
      2, 1,           // row 0: two red
      0, 3, 2, 3, 1, 0,  // absolute run: green, blue, red, pad byte
      0, 0,           // end of line
      0, 2, 2, 1,     // delta: right 2, up 1 -> row 2, x 2
      1, 3,           // one blue at (2, 2)
      0, 0,           // end of line: on to row 3
      9, 2,           // a run longer than the row is clipped, not wrapped
      0, 1,           // end of bitmap
      5, 1});         // never read
  d.Header().biSizeImage = static_cast<uint32_t>(d.bytes.size() - 40 - 16);
  for (bool bounded : {true, false}) {
    Picture p = d.Convert(bounded);
    ASSERT_TRUE(p);
    EXPECT_EQ(Row(p, 0), (std::vector<uint32_t>{R, R, G, B, R, K}));
    EXPECT_EQ(Row(p, 1), (std::vector<uint32_t>(6, K)));  // skipped
    EXPECT_EQ(Row(p, 2), (std::vector<uint32_t>{K, K, B, K, K, K}));
    EXPECT_EQ(Row(p, 3), (std::vector<uint32_t>(6, G)));
  }
}

TEST(ConvertTo24, Rle4AlternatesTheTwoNibblesOfRunsAndAbsoluteRuns) {
  Dib d(7, 2, 4, kBiRle4);
  d.Colours({K, R, G, B});
  d.Pixels({3, 0x12,             // red, green, red
            0, 3, 0x31, 0x20,    // absolute: blue, red, green (2 bytes)
            0, 0,
            0, 5, 0x12, 0x30, 0x10, 0,  // five nibbles: 3 bytes + pad
            0, 1});
  d.Header().biSizeImage = static_cast<uint32_t>(d.bytes.size() - 40 - 16);
  Picture p = d.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(Row(p, 0), (std::vector<uint32_t>{R, G, R, B, R, G, K}));
  EXPECT_EQ(Row(p, 1), (std::vector<uint32_t>{R, G, B, K, R, K, K}));
}

TEST(ConvertTo24, RunLengthDataEndingMidRunDrawsWhatIsThereAndNoMore) {
  Dib d(8, 2, 8, kBiRle8);
  d.Colours({K, R});
  d.Pixels({0, 6, 1, 1, 1});  // absolute run of six, only three bytes left
  Picture p = d.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(Row(p, 0), (std::vector<uint32_t>{R, R, R, K, K, K, K, K}));
  // Trusted blocks bound run-length data by biSizeImage; without it they
  // cannot be read.
  EXPECT_FALSE(d.Convert(false));
}

TEST(ConvertTo24, SixteenBitPixelsScaleEachMaskToFullRange) {
  // 5-5-5 without masks: white, pure red, a mid green (16 of 31).
  Dib rgb(3, 1, 16, kBiRgb);
  rgb.Pixels({0xFF, 0x7F, 0x00, 0x7C, 0x00, 0x02, 0, 0});
  Picture p = rgb.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(Row(p, 0), (std::vector<uint32_t>{0xFFFFFF, R, 0x008400}));

  // 5-6-5 from masks after a 40-byte header: green has 6 bits.
  Dib bf(3, 1, 16, kBiBitfields);
  bf.Words({0xF800, 0x07E0, 0x001F});
  bf.Pixels({0xE0, 0x07, 0x1F, 0x00, 0x20, 0x00, 0, 0});
  p = bf.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(Row(p, 0), (std::vector<uint32_t>{G, B, 0x000400}));
}

TEST(ConvertTo24, ThirtyTwoBitPixelsUseHeaderMasksOrTheBgrxOrder) {
  Dib plain(2, 1, 32, kBiRgb);
  plain.Pixels({1, 2, 3, 99, 0xFF, 0, 0, 0});
  Picture p = plain.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(Row(p, 0), (std::vector<uint32_t>{0x030201, B}));

  // A V5 header holds its masks itself: here red in the low byte.
  Dib v5(1, 1, 32, kBiBitfields, 124);
  std::memcpy(v5.bytes.data() + 40, "\xFF\0\0\0\0\xFF\0\0\0\0\xFF\0", 12);
  v5.Pixels({0x11, 0x22, 0x33, 0x44});
  p = v5.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(At(p, 0, 0), 0x112233u);

  // Ten-bit channels scale down with rounding.
  Dib wide(1, 1, 32, kBiBitfields);
  wide.Words({0x3FF00000, 0x000FFC00, 0x000003FF});
  wide.Words({0x3FF00000 | (512u << 10) | 1u});
  p = wide.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(At(p, 0, 0), 0xFF8000u);
}

TEST(ConvertTo24, IndicesBeyondTheColourTableAreBlack) {
  Dib d(4, 1, 8, kBiRgb);
  d.Colours({R, G});
  d.Pixels({1, 2, 200, 0});
  Picture p = d.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(Row(p, 0), (std::vector<uint32_t>{G, K, K, R}));

  Dib two(5, 1, 2, kBiRgb);  // 2-bit pixels, as some writers use
  two.Colours({R, G, B});
  two.Pixels({0b00011011, 0b01000000, 0, 0});
  p = two.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(Row(p, 0), (std::vector<uint32_t>{R, G, B, K, G}));
}

TEST(ConvertTo24, TopDownRowsComeOutBottomUp) {
  Dib d(1, -3, 8, kBiRgb);
  d.Colours({R, G, B});
  d.Pixels({0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0});  // top row first
  Picture p = d.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(PictureHeight(p), 3);
  EXPECT_EQ(At(p, 0, 2), R);
  EXPECT_EQ(At(p, 0, 0), B);
}

TEST(ConvertTo24, ShortBlocksAreReadOnlyAsFarAsTheyGo) {
  // Two full rows of four and one pixel of the third: the rest is black.
  Dib d(4, 4, 8, kBiRgb);
  d.Colours({K, R});
  d.Pixels({1, 1, 1, 1, 1, 1, 1, 1, 1});
  Picture p = d.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(At(p, 3, 1), R);
  EXPECT_EQ(Row(p, 2), (std::vector<uint32_t>{R, K, K, K}));
  EXPECT_EQ(Row(p, 3), (std::vector<uint32_t>(4, K)));

  // A colour table the block cannot hold: no entry is read past the end.
  Dib cut(2, 1, 8, kBiRgb);
  cut.Colours({R});
  cut.Header().biClrUsed = 200;
  p = cut.Convert();
  ASSERT_TRUE(p);
  EXPECT_EQ(Row(p, 0), (std::vector<uint32_t>{K, K}));

  // Masks that would lie past the end refuse the block.
  Dib noMasks(1, 1, 16, kBiBitfields);
  EXPECT_FALSE(noMasks.Convert());
}

TEST(ConvertTo24, BlocksThatDescribeNoDrawableBitmapGiveNull) {
  Dib d24(2, 2, 24, kBiRgb);
  d24.Pixels(std::initializer_list<uint8_t>(
      {1, 2, 3, 4, 5, 6, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}));
  std::vector<uint8_t> before = d24.bytes;
  EXPECT_FALSE(d24.Convert());
  EXPECT_EQ(d24.bytes, before);

  EXPECT_FALSE(Dib(2, 2, 4, kBiRle8).Convert());    // RLE8 needs 8 bits
  EXPECT_FALSE(Dib(2, 2, 8, kBiBitfields).Convert());
  EXPECT_FALSE(Dib(2, 2, 64, kBiRgb).Convert());
  EXPECT_FALSE(Dib(2, -2, 8, kBiRle8).Convert());   // RLE cannot be top-down
  EXPECT_FALSE(Dib(0, 2, 8, kBiRgb).Convert());
  EXPECT_FALSE(Dib(70000, 2, 8, kBiRgb).Convert());
  Dib core(2, 2, 8, kBiRgb, 12);
  core.bytes.resize(60);
  EXPECT_FALSE(core.Convert());
  std::vector<uint8_t> tiny(20, 0);
  EXPECT_FALSE(ConvertTo24(tiny.data(), tiny.size()));
}

}  // namespace

#include "image/tiff_reader.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/reader_support.h"

namespace {

// One image of a TIFF written by libtiff.  `pixels` holds the scanlines
// top row first (all planes one after the other when planar); 16-bit
// samples are in host order, as libtiff takes them.
struct TiffPlan {
  uint32_t width = 1, height = 1;
  uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t compression = COMPRESSION_NONE, planar = PLANARCONFIG_CONTIG;
  uint16_t predictor = 0;
  uint32_t rowsPerStrip = 0;  // 0: libtiff's choice
  uint32_t tileSide = 0;      // 0: strips
  std::vector<uint16_t> colourMap;
  std::vector<uint16_t> extraSamples;
  std::vector<uint8_t> pixels;
};

uint64_t ScanlineBytes(const TiffPlan& s) {
  int perPixel = s.planar == PLANARCONFIG_SEPARATE ? 1 : s.samples;
  return (uint64_t{s.width} * s.bits * perPixel + 7) / 8;
}

void WriteTiles(TIFF* tif, const TiffPlan& s) {
  uint64_t line = ScanlineBytes(s);
  uint64_t tileLine = uint64_t{s.tileSide} * s.bits * s.samples / 8;
  std::vector<uint8_t> tile(tileLine * s.tileSide);
  for (uint32_t y = 0; y < s.height; y += s.tileSide) {
    for (uint32_t x = 0; x < s.width; x += s.tileSide) {
      std::fill(tile.begin(), tile.end(), 0);
      uint64_t offset = uint64_t{x} * s.bits * s.samples / 8;
      for (uint32_t r = 0; r < s.tileSide && y + r < s.height; ++r)
        std::memcpy(&tile[tileLine * r], &s.pixels[line * (y + r) + offset],
                    std::min(tileLine, line - offset));
      TIFFWriteTile(tif, tile.data(), x, y, 0, 0);
    }
  }
}

void WriteImage(TIFF* tif, const TiffPlan& s) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planar);
  if (s.predictor) TIFFSetField(tif, TIFFTAG_PREDICTOR, s.predictor);
  if (!s.extraSamples.empty())
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(s.extraSamples.size()),
                 s.extraSamples.data());
  if (!s.colourMap.empty()) {
    size_t n = s.colourMap.size() / 3;
    TIFFSetField(tif, TIFFTAG_COLORMAP, s.colourMap.data(),
                 s.colourMap.data() + n, s.colourMap.data() + 2 * n);
  }
  if (s.tileSide) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tileSide);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tileSide);
    WriteTiles(tif, s);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 s.rowsPerStrip ? s.rowsPerStrip : s.height);
    uint64_t line = ScanlineBytes(s);
    int planes = s.planar == PLANARCONFIG_SEPARATE ? s.samples : 1;
    for (int p = 0; p < planes; ++p)
      for (uint32_t y = 0; y < s.height; ++y)
        TIFFWriteScanline(
            tif, const_cast<uint8_t*>(&s.pixels[line * (p * s.height + y)]), y,
            uint16_t(p));
  }
  TIFFWriteDirectory(tif);
}

std::vector<uint8_t> WriteTiff(const std::vector<TiffPlan>& pages) {
  std::string path = ScratchDir() + "/tiff_reader_test.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  for (const TiffPlan& page : pages) WriteImage(tif, page);
  TIFFClose(tif);
  return ReadTestFile(path);
}

std::vector<uint8_t> WriteTiff(const TiffPlan& plan) {
  return WriteTiff(std::vector<TiffPlan>{plan});
}

Picture Decode(const std::vector<uint8_t>& bytes) {
  return DecodeTiffData(bytes.data(), bytes.size());
}

const auto PixelAt = BgrAt;
const auto Grey = GreyBgr;

// The top row of the picture read from `plan` starts with `want`.
void ExpectTopRow(const TiffPlan& plan, const std::vector<std::vector<int>>& want) {
  ExpectTopRow(Decode(WriteTiff(plan)), want);
}

std::vector<uint8_t> Samples16(std::vector<uint16_t> values) {
  std::vector<uint8_t> bytes(2 * values.size());
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

TiffPlan GreyRow(uint16_t bits, uint16_t photometric, std::vector<uint8_t> row,
                 uint32_t width) {
  TiffPlan s;
  s.width = width, s.bits = bits, s.photometric = photometric;
  s.pixels = std::move(row);
  return s;
}

TEST(TiffRefusal, JpegCompressionAndYCbCrAreRefused) {
  REQUIRE_TEST_FILES("tiff/ci_TestJpegStrips_ycbcr_jpeg.tiff", "tiff/pillow_hopper_jpg.tif",
                     "tiff/libtiff_logluv-3c-16b.tiff");
  for (const char* name : {"tiff/ci_TestJpegStrips_ycbcr_jpeg.tiff",
                           "tiff/pillow_hopper_jpg.tif",
                           "tiff/libtiff_logluv-3c-16b.tiff"}) {
    std::vector<uint8_t> file = ReadTestFile(TestDataPath(name));
    ASSERT_FALSE(file.empty()) << name;
    EXPECT_FALSE(Decode(file)) << name;
  }
  TiffPlan ycbcr;
  ycbcr.samples = 3, ycbcr.photometric = PHOTOMETRIC_YCBCR;
  ycbcr.pixels = {1, 2, 3};
  EXPECT_FALSE(Decode(WriteTiff(ycbcr)));
  ycbcr.photometric = PHOTOMETRIC_RGB;  // the same samples read as RGB
  EXPECT_TRUE(Decode(WriteTiff(ycbcr)));
}

TEST(TiffRefusal, LayoutsWithoutASoundConversionAreRefused) {
  TiffPlan planarRgb;
  planarRgb.samples = 3, planarRgb.photometric = PHOTOMETRIC_RGB;
  planarRgb.planar = PLANARCONFIG_SEPARATE;
  planarRgb.pixels = {1, 2, 3};
  EXPECT_FALSE(Decode(WriteTiff(planarRgb)));

  EXPECT_FALSE(Decode(WriteTiff(GreyRow(6, PHOTOMETRIC_MINISBLACK, {4}, 1))));
  TiffPlan widePalette = GreyRow(16, PHOTOMETRIC_PALETTE, Samples16({1}), 1);
  widePalette.colourMap.assign(3 * 65536, 0);
  EXPECT_FALSE(Decode(WriteTiff(widePalette)));
}

TEST(TiffRefusal, TruncatedOrOversizedFilesGiveNoPicture) {
  TiffPlan s;
  s.width = 40, s.height = 30, s.samples = 3, s.photometric = PHOTOMETRIC_RGB;
  s.compression = COMPRESSION_LZW;
  for (int i = 0; i < 40 * 30 * 3; ++i) s.pixels.push_back(uint8_t(i * 31));
  std::vector<uint8_t> file = WriteTiff(s);
  ASSERT_TRUE(Decode(file));
  for (size_t cut = 0; cut < file.size(); cut += 11) {
    std::vector<uint8_t> part(file.begin(), file.begin() + cut);
    EXPECT_FALSE(Decode(part)) << cut;
  }
  ScopedPixelLimit limit(40 * 29);
  EXPECT_FALSE(Decode(file));
}

TEST(TiffColour, CmykFollowsTheInkFormulaAtBothDepths) {
  TiffPlan s;
  s.samples = 4, s.photometric = PHOTOMETRIC_SEPARATED;
  s.pixels = {0, 128, 255, 64};
  // (255 - ink) x (255 - k) / 255 for blue, green, red.
  ExpectTopRow(s, {{0, 95, 191}});
  s.bits = 16;
  s.pixels = Samples16({0x00FF, 0x80FF, 0xFF00, 0x4012});
  ExpectTopRow(s, {{0, 95, 191}});
}

TEST(TiffColour, RgbUsesThreeSamplesAndTheHighByte) {
  TiffPlan s;
  s.width = 2, s.samples = 4, s.photometric = PHOTOMETRIC_RGB;
  s.extraSamples = {EXTRASAMPLE_UNASSALPHA};
  s.pixels = {10, 20, 30, 0, 40, 50, 60, 255};
  ExpectTopRow(s, {{30, 20, 10}, {60, 50, 40}});
  s.width = 1, s.samples = 3, s.bits = 16, s.extraSamples.clear();
  s.pixels = Samples16({0x12FF, 0x3400, 0x5680});
  ExpectTopRow(s, {{0x56, 0x34, 0x12}});
}

// A map whose values all fit in 8 bits is taken as it is; a single value of
// 256 or more, in any of the three arrays and at any entry up to the last,
// makes it a 16-bit map, every value scaled by 255 / 65535.
TEST(TiffPalette, OneValueOf256AnywhereMakesTheMapSixteenBits) {
  TiffPlan s = GreyRow(1, PHOTOMETRIC_PALETTE, {0b01000000}, 2);
  s.colourMap = {10, 200, 200, 20, 200, 30};  // red, green, blue arrays
  Picture picture = Decode(WriteTiff(s));
  ASSERT_TRUE(picture);
  EXPECT_EQ(PictureBits(picture), 1);
  ExpectTopRow(picture, {{200, 200, 10}, {30, 20, 200}});  // blue, green, red
  for (int at = 0; at < 6; ++at) {  // each entry of each array
    for (int value : {255, 256}) {
      TiffPlan t = s;
      t.colourMap[at] = uint16_t(value);
      Picture p = Decode(WriteTiff(t));
      ASSERT_TRUE(p);
      for (int x = 0; x < 2; ++x)
        for (int c = 0; c < 3; ++c) {
          int v = t.colourMap[2 * (2 - c) + x];  // c: blue, green, red
          ASSERT_EQ(PixelAt(p, x, 0)[c], value == 256 ? v * 255 / 65535 : v)
              << "value " << value << " at " << at << ", pixel " << x;
        }
    }
  }
  // Full 16-bit values are scaled down, not cut to their low byte.
  s.colourMap = {0xFF00, 65535, 32768, 256, 255, 0};
  ExpectTopRow(s, {{0, 127, 254}, {0, 0, 255}});
}

TEST(TiffGrey, WhiteIsZeroAndBlackIsZeroTablesAtEachDepth) {
  struct Case { uint16_t bits; std::vector<uint8_t> row; int level; };
  for (const Case& c : {Case{1, {0b01000000}, 255}, Case{4, {0x03}, 51},
                        Case{8, {0, 200}, 200}}) {
    Picture white = Decode(WriteTiff(
        GreyRow(c.bits, PHOTOMETRIC_MINISWHITE, c.row, 2)));
    Picture black = Decode(WriteTiff(
        GreyRow(c.bits, PHOTOMETRIC_MINISBLACK, c.row, 2)));
    ASSERT_TRUE(white && black);
    SCOPED_TRACE(testing::Message() << c.bits << " bits");
    EXPECT_EQ(PictureBits(white), c.bits);
    ExpectTopRow(white, {Grey(255), Grey(255 - c.level)});
    ExpectTopRow(black, {Grey(0), Grey(c.level)});
  }
}

TEST(TiffGrey, OddDepthsAreConvertedNotCopied) {
  // 2 bits: widened to 4-bit nibbles with a four-level ramp.
  Picture picture = Decode(WriteTiff(
      GreyRow(2, PHOTOMETRIC_MINISBLACK, {0b00011011, 0b10000000}, 5)));
  ASSERT_TRUE(picture);
  EXPECT_EQ(PictureBits(picture), 4);
  ExpectTopRow(picture, {Grey(0), Grey(85), Grey(170), Grey(255), Grey(170)});
  // 12 bits: the high 8 bits of each sample.
  ExpectTopRow(GreyRow(12, PHOTOMETRIC_MINISBLACK, {0xAB, 0xC1, 0x23}, 2),
               {Grey(0xAB), Grey(0x12)});
  // 16 bits: the high byte, through the 8-bit table.
  picture = Decode(WriteTiff(
      GreyRow(16, PHOTOMETRIC_MINISWHITE, Samples16({0x12FF, 0xFF00}), 2)));
  ASSERT_TRUE(picture);
  EXPECT_EQ(PictureBits(picture), 8);
  ExpectTopRow(picture, {Grey(255 - 0x12), Grey(0)});
}

TEST(TiffGrey, AlphaSamplesAreSkippedWhetherInterleavedOrInPlanes) {
  TiffPlan s;
  s.width = 3, s.samples = 2, s.extraSamples = {EXTRASAMPLE_UNASSALPHA};
  s.pixels = {100, 0, 200, 255, 50, 128};
  ExpectTopRow(s, {Grey(100), Grey(200), Grey(50)});
  s.planar = PLANARCONFIG_SEPARATE;
  s.pixels = {100, 200, 50, 0, 255, 128};
  ExpectTopRow(s, {Grey(100), Grey(200), Grey(50)});
}

TiffPlan Gradient(uint32_t width, uint32_t height) {
  TiffPlan s;
  s.width = width, s.height = height, s.samples = 3;
  s.photometric = PHOTOMETRIC_RGB;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      s.pixels.insert(s.pixels.end(), {uint8_t(x * 5), uint8_t(y * 9), 77});
  return s;
}

void ExpectGradient(const Picture& picture, uint32_t width, uint32_t height) {
  ASSERT_TRUE(picture);
  ASSERT_EQ(PictureWidth(picture), int(width));
  ASSERT_EQ(PictureHeight(picture), int(height));
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      ASSERT_EQ(PixelAt(picture, x, y),
                (std::vector<int>{77, int(uint8_t(y * 9)), int(uint8_t(x * 5))}))
          << x << "," << y;
}

TEST(TiffLayout, StripsAndTilesFillThePictureTopRowLast) {
  TiffPlan s = Gradient(37, 21);
  for (uint32_t rows : {1u, 4u, 21u, 1000u}) {
    s.rowsPerStrip = rows;
    ExpectGradient(Decode(WriteTiff(s)), 37, 21);
  }
  s.rowsPerStrip = 0;
  s.tileSide = 16;
  ExpectGradient(Decode(WriteTiff(s)), 37, 21);

  TiffPlan bilevel = GreyRow(1, PHOTOMETRIC_MINISBLACK, {}, 37);
  bilevel.height = 3, bilevel.tileSide = 16;
  for (int y = 0; y < 3; ++y)
    bilevel.pixels.insert(bilevel.pixels.end(), {0xF0, 0x0F, 0xAA, 0x55, 0x80});
  Picture tiled = Decode(WriteTiff(bilevel));
  ASSERT_TRUE(tiled);
  for (int x : {0, 4, 12, 16, 17, 32, 36})
    EXPECT_EQ(PixelAt(tiled, x, 2),
              Grey((bilevel.pixels[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0)) << x;
}

TEST(TiffLayout, EveryAcceptedCodecGivesTheSamePicture) {
  TiffPlan s = Gradient(30, 17);
  s.rowsPerStrip = 5;
  for (uint16_t codec : {COMPRESSION_NONE, COMPRESSION_LZW,
                         COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE,
                         COMPRESSION_DEFLATE}) {
    s.compression = codec;
    s.predictor = codec == COMPRESSION_LZW ? PREDICTOR_HORIZONTAL : 0;
    ExpectGradient(Decode(WriteTiff(s)), 30, 17);
  }
  TiffPlan fax = GreyRow(1, PHOTOMETRIC_MINISWHITE, {}, 20);
  fax.height = 4;
  for (int y = 0; y < 4; ++y)
    fax.pixels.insert(fax.pixels.end(), {uint8_t(0x0F << y), 0xC3, 0x50});
  Picture plain = Decode(WriteTiff(fax));
  ASSERT_TRUE(plain);
  for (uint16_t codec : {COMPRESSION_CCITTRLE, COMPRESSION_CCITTFAX3}) {
    fax.compression = codec;
    EXPECT_TRUE(SamePixels(Decode(WriteTiff(fax)), plain)) << codec;
  }
}

TEST(TiffLayout, FirstPageIsReadAndPathMatchesMemory) {
  TiffPlan second = Gradient(5, 5);
  std::vector<uint8_t> file = WriteTiff({Gradient(9, 4), second});
  std::string path = ScratchDir() + "/two_pages.tif";
  WriteTestFile(path, file);
  Picture fromPath = DecodeTiff(path);
  ExpectGradient(fromPath, 9, 4);
  EXPECT_EQ(PictureHeader(fromPath)->biXPelsPerMeter, 2834);
  ExpectPathReadsLikeMemory(DecodeTiff, DecodeTiffData, path);
}

}  // namespace

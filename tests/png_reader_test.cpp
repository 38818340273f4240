#include "image/png_reader.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "image/comment.h"
#include "tests/reader_support.h"

namespace {

struct TextChunk {
  int compression;  // PNG_TEXT_COMPRESSION_NONE, _zTXt or PNG_ITXT_...
  std::string text;
};

// A PNG written by libpng.  Rows are given as libpng expects them (packed
// samples, 16-bit samples most significant byte first).
struct PngPlan {
  int width = 1, height = 1, depth = 8, colourType = PNG_COLOR_TYPE_RGB;
  bool interlaced = false;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<png_color> palette;
  std::vector<uint8_t> trnsAlpha;
  bool hasTrnsColour = false;
  png_color_16 trnsColour{};
  double fileGamma = 0;
  std::vector<TextChunk> texts;
  size_t privateChunkBytes = 0;  // an unknown chunk before the texts
};

void Collect(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

std::vector<uint8_t> WritePng(const PngPlan& plan) {
  std::vector<uint8_t> out;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng could not write the test file";
    return {};
  }
  png_set_write_fn(png, &out, Collect, nullptr);
  png_set_IHDR(png, info, plan.width, plan.height, plan.depth, plan.colourType,
               plan.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!plan.palette.empty())
    png_set_PLTE(png, info, plan.palette.data(), int(plan.palette.size()));
  if (!plan.trnsAlpha.empty() || plan.hasTrnsColour)
    png_set_tRNS(png, info, plan.trnsAlpha.data(), int(plan.trnsAlpha.size()),
                 plan.hasTrnsColour ? &plan.trnsColour : nullptr);
  if (plan.fileGamma > 0) png_set_gAMA(png, info, plan.fileGamma);
  std::vector<uint8_t> privateData(plan.privateChunkBytes, 'p');
  png_unknown_chunk privateChunk{};
  if (plan.privateChunkBytes) {
    std::memcpy(privateChunk.name, "prVt", 5);
    privateChunk.data = privateData.data();
    privateChunk.size = privateData.size();
    privateChunk.location = PNG_HAVE_IHDR;
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, nullptr, 0);
    png_set_unknown_chunks(png, info, &privateChunk, 1);
  }
  std::vector<png_text> texts(plan.texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    texts[i].compression = plan.texts[i].compression;
    texts[i].key = const_cast<char*>("Comment");
    texts[i].text = const_cast<char*>(plan.texts[i].text.c_str());
  }
  if (!texts.empty()) png_set_text(png, info, texts.data(), int(texts.size()));
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const auto& row : plan.rows) rows.push_back(const_cast<uint8_t*>(row.data()));
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

const auto PixelAt = BgrAt;
const auto Grey = GreyBgr;

Picture Decode(const std::vector<uint8_t>& bytes) {
  return DecodePngData(bytes.data(), bytes.size());
}

// A plan of one row.
PngPlan Row(int colourType, int depth, int width, std::vector<uint8_t> row) {
  PngPlan plan;
  plan.colourType = colourType, plan.depth = depth, plan.width = width;
  plan.rows = {std::move(row)};
  return plan;
}

PngPlan GreyPixel(std::vector<TextChunk> texts) {
  PngPlan plan = Row(PNG_COLOR_TYPE_GRAY, 8, 1, {0x80});
  plan.texts = std::move(texts);
  return plan;
}

TEST(PngComment, IsTheFirstShortTextAfterZtxtNearTheStartIsDropped) {
  const TextChunk zTxt{PNG_TEXT_COMPRESSION_zTXt, "compressed"};
  const TextChunk plain{PNG_TEXT_COMPRESSION_NONE, "plain"};
  struct Case {
    const char* what;
    std::vector<TextChunk> texts;
    size_t privateBytes;
    std::string comment;
  } cases[] = {
      {"zTXt near the start is dropped", {zTxt, plain}, 0, "plain"},
      {"zTXt beyond the first 1000 bytes stays", {zTxt, plain}, 1200, "compressed"},
      {"zTXt inside other data is not cut",
       {{PNG_TEXT_COMPRESSION_NONE, "about zTXt chunks"}}, 0, "about zTXt chunks"},
      {"no text empties it", {}, 0, ""},
      {"a first text of 250 bytes empties it",
       {{PNG_TEXT_COMPRESSION_NONE, std::string(250, 'a')},
        {PNG_TEXT_COMPRESSION_NONE, "short"}}, 0, ""},
      {"249 bytes are kept",
       {{PNG_TEXT_COMPRESSION_NONE, std::string(249, 'a')}}, 0,
       std::string(249, 'a')},
      {"iTXt", {{PNG_ITXT_COMPRESSION_NONE, "\xE6\x97\xA5\xE6\x9C\xAC"}}, 0,
       "\xE6\x97\xA5\xE6\x9C\xAC"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetCurrentComment(reinterpret_cast<const uint8_t*>("old"), 3);
    PngPlan plan = GreyPixel(c.texts);
    plan.privateChunkBytes = c.privateBytes;
    Picture picture = Decode(WritePng(plan));
    ExpectTopRow(picture, {Grey(0x80)});
    EXPECT_EQ(std::string(CurrentComment), c.comment);
  }
}

TEST(PngTransparency, PaletteEntriesAreBlendedWithWhiteByTheirAlpha) {
  PngPlan plan = Row(PNG_COLOR_TYPE_PALETTE, 8, 3, {0, 1, 2});
  plan.palette = {{10, 20, 30}, {200, 100, 0}, {1, 2, 3}};
  plan.trnsAlpha = {0, 128};
  Picture picture = Decode(WritePng(plan));
  ASSERT_TRUE(picture);
  EXPECT_EQ(PictureBits(picture), 8);
  // c x a / 255 + (255 - a), as blue, green, red.
  ExpectTopRow(picture, {Grey(255), {127, 177, 227}, {3, 2, 1}});
}

TEST(PngTransparency, AlphaChannelsAreBlendedWithWhite) {
  PngPlan plan = Row(PNG_COLOR_TYPE_RGBA, 8, 4,
                     {0, 0, 0, 128, 255, 0, 0, 255, 9, 9, 9, 0, 200, 100, 50, 64});
  Picture picture = Decode(WritePng(plan));
  ASSERT_TRUE(picture);
  EXPECT_EQ(PictureBits(picture), 24);
  // Last: (64 c + 191 x 255 + 128), then (x + x / 256) / 256.
  ExpectTopRow(picture, {Grey(127), {0, 0, 255}, Grey(255), {204, 216, 241}});

  // Grey 0x00FF, alpha 0x807F.
  PngPlan greyAlpha = Row(PNG_COLOR_TYPE_GRAY_ALPHA, 16, 1, {0x00, 0xFF, 0x80, 0x7F});
  ExpectTopRow(Decode(WritePng(greyAlpha)), {Grey(127)});
}

TEST(PngTransparency, TheTransparentColourIsMatchedOnAllSixteenBits) {
  PngPlan plan = Row(PNG_COLOR_TYPE_RGB, 16, 3,
                     {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC,    // the colour
                      0x12, 0x35, 0x56, 0x78, 0x9A, 0xBC,    // one step off
                      0xFF, 0x00, 0x00, 0x00, 0x00, 0x00});
  plan.hasTrnsColour = true;
  plan.trnsColour.red = 0x1234, plan.trnsColour.green = 0x5678;
  plan.trnsColour.blue = 0x9ABC;
  ExpectTopRow(Decode(WritePng(plan)), {Grey(255), {0x9A, 0x56, 0x12}, {0, 0, 0xFF}});

  PngPlan grey = Row(PNG_COLOR_TYPE_GRAY, 4, 2, {0x34});
  grey.hasTrnsColour = true;
  grey.trnsColour.gray = 3;
  ExpectTopRow(Decode(WritePng(grey)), {Grey(255), Grey(4 * 17)});
}

TEST(PngDepths, PackedIndicesKeepTheirDepthAndTwoBitsWidenToNibbles) {
  PngPlan plan = Row(PNG_COLOR_TYPE_PALETTE, 2, 5,
                     {0b00011011, 0b10000000});  // indices 0 1 2 3 2
  plan.palette = {{0, 0, 0}, {10, 10, 10}, {20, 20, 20}, {30, 30, 30}};
  Picture picture = Decode(WritePng(plan));
  ASSERT_TRUE(picture);
  EXPECT_EQ(PictureBits(picture), 4);
  const uint8_t* row = PictureRow(picture.get(), 0);
  EXPECT_EQ(row[0], 0x01);
  EXPECT_EQ(row[1], 0x23);
  EXPECT_EQ(row[2] >> 4, 2);
  ExpectTopRow(picture, {Grey(0), Grey(10), Grey(20), Grey(30), Grey(20)});

  // A full palette at each depth: the highest index, on the depth's
  // boundary, still finds its own entry.
  for (int depth : {1, 2, 4, 8}) {
    int highest = (1 << depth) - 1;
    plan = Row(PNG_COLOR_TYPE_PALETTE, depth, 2,
               {uint8_t(depth == 8 ? highest : highest << (8 - depth)), 0});
    plan.palette.clear();
    for (int k = 0; k <= highest; ++k)
      plan.palette.push_back({uint8_t(k), uint8_t(255 - k), 128});
    picture = Decode(WritePng(plan));
    ASSERT_TRUE(picture) << depth;
    EXPECT_EQ(PictureBits(picture), depth == 2 ? 4 : depth);
    ExpectTopRow(picture, {{128, 255 - highest, highest}, {128, 255, 0}});
  }
}

TEST(PngDepths, GreyRampCarriesTheDisplayGammaForPackedLevels) {
  PngPlan plan = Row(PNG_COLOR_TYPE_GRAY, 2, 4, {0b00011011});
  Picture linearRamp = Decode(WritePng(plan));
  ASSERT_TRUE(linearRamp);
  EXPECT_EQ(PictureBits(linearRamp), 4);
  ExpectTopRow(linearRamp, {Grey(0), Grey(85), Grey(170), Grey(255)});

  // A linear file (gamma 1.0) on a 2.2 display: level^(1/2.2), as libpng
  // corrects 8-bit levels.
  plan.fileGamma = 1.0;
  Picture corrected = Decode(WritePng(plan));
  ASSERT_TRUE(corrected);
  for (int x = 0; x < 4; ++x) {
    int want = int(std::floor(255 * std::pow(85 * x / 255.0, 0.45455) + .5));
    EXPECT_EQ(PixelAt(corrected, x, 0), Grey(want)) << x;
  }
  // The same levels at 8 bits go through libpng's own gamma.
  plan.depth = 8;
  plan.rows = {{0, 85, 170, 255}};
  Picture eightBit = Decode(WritePng(plan));
  ASSERT_TRUE(eightBit);
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(PixelAt(eightBit, x, 0), PixelAt(corrected, x, 0));
}

TEST(PngLayout, InterlacedFilesGiveTheSamePictureTopRowLast) {
  PngPlan plan;
  plan.width = 11, plan.height = 9;
  plan.colourType = PNG_COLOR_TYPE_RGBA;
  for (int y = 0; y < plan.height; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < plan.width; ++x)
      row.insert(row.end(), {uint8_t(x * 20), uint8_t(y * 25), 7,
                             uint8_t(255 - x * y * 3)});
    plan.rows.push_back(row);
  }
  Picture plain = Decode(WritePng(plan));
  plan.interlaced = true;
  Picture interlaced = Decode(WritePng(plan));
  ASSERT_TRUE(plain && interlaced);
  EXPECT_TRUE(SamePixels(plain, interlaced));
  EXPECT_EQ(PictureWidth(plain), 11);
  EXPECT_EQ(PictureHeight(plain), 9);
  // The first stored row is the bottom line of the image.
  const uint8_t* bottom = PictureRow(plain.get(), 0);
  EXPECT_EQ((std::vector<int>{bottom[0], bottom[1], bottom[2]}),
            (std::vector<int>{7, 200, 0}));
  EXPECT_EQ(PixelAt(plain, 10, 0), (std::vector<int>{7, 0, 200}));
}

std::vector<uint8_t> SmallRgbFile() {
  PngPlan plan;
  plan.width = 64, plan.height = 64;
  for (int y = 0; y < 64; ++y) {
    std::vector<uint8_t> row(3 * 64);
    for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 7 + y * 13);
    plan.rows.push_back(row);
  }
  return WritePng(plan);
}

TEST(PngRefusal, TruncatedDataNeverGivesAPicture) {
  std::vector<uint8_t> file = SmallRgbFile();
  ASSERT_TRUE(Decode(file));
  for (size_t cut = 0; cut < file.size(); cut += 7) {
    std::vector<uint8_t> part(file.begin(), file.begin() + cut);
    EXPECT_FALSE(Decode(part)) << cut;
  }
  EXPECT_FALSE(DecodePngData(nullptr, 0));
}

TEST(PngRefusal, ZtxtLengthRunningPastTheEndIsNotFollowed) {
  std::vector<uint8_t> file =
      WritePng(GreyPixel({{PNG_TEXT_COMPRESSION_zTXt, "compressed"}}));
  size_t z = std::string(file.begin(), file.end()).find("zTXt");
  ASSERT_NE(z, std::string::npos);
  file[z - 4] = 0x7F;  // length far beyond the data
  EXPECT_FALSE(Decode(file));
}

TEST(PngRefusal, SizesBeyondThePixelLimitAreRefusedBeforeReading) {
  {
    ScopedPixelLimit limit(64 * 63);
    EXPECT_FALSE(Decode(SmallRgbFile()));
  }
  EXPECT_TRUE(Decode(SmallRgbFile()));
}

TEST(PngLayout, PathAndMemoryEntryPointsAgree) {
  std::string path = ScratchDir() + "/png_reader_test.png";
  WriteTestFile(path, SmallRgbFile());
  ExpectPathReadsLikeMemory(DecodePng, DecodePngData, path);
}

}  // namespace

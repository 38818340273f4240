#include "core/picture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

void SetPixel(Picture& p, int x, int storedRow, uint8_t b, uint8_t g, uint8_t r) {
  uint8_t* px = PictureRow(p.get(), storedRow) + 3 * x;
  px[0] = b, px[1] = g, px[2] = r;
}

Picture Numbered(int width, int height) {
  // Each pixel's blue byte is its column, green its stored row.
  Picture p = CreatePicture(width, height, 24);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) SetPixel(p, x, y, x, y, 7);
  return p;
}

TEST(Picture, StrideAndBlockFollowTheBitmapLayout) {
  EXPECT_EQ(RowStride(5, 24), 16);
  EXPECT_EQ(RowStride(5, 1), 4);
  EXPECT_EQ(RowStride(33, 1), 8);
  EXPECT_EQ(RowStride(9, 4), 8);
  EXPECT_EQ(RowStride(5, 8), 8);
  EXPECT_EQ(RowStride(5, 32), 20);
  EXPECT_EQ(RowStride(5, 2), 0);

  Picture p = CreatePicture(5, 2, 24);
  ASSERT_TRUE(p);
  const BitmapInfoHeader* h = PictureHeader(p);
  EXPECT_EQ(h->biSize, 40u);
  EXPECT_EQ(h->biWidth, 5);
  EXPECT_EQ(h->biHeight, 2);
  EXPECT_EQ(h->biPlanes, 1);
  EXPECT_EQ(h->biBitCount, 24);
  EXPECT_EQ(h->biSizeImage, 32u);
  int entries = -1;
  EXPECT_EQ(PicturePixels(p, &entries), p.get() + 40);
  EXPECT_EQ(entries, 0);
  // A fresh picture is black.
  for (int i = 0; i < 32; ++i) EXPECT_EQ(PicturePixels(p)[i], 0);
}

TEST(Picture, DepthsAboveEightBecome24AndOddDepthsAreRefused) {
  Picture p16 = CreatePicture(3, 3, 16);
  ASSERT_TRUE(p16);
  EXPECT_EQ(PictureBits(p16), 24);
  EXPECT_FALSE(CreatePicture(3, 3, 2));
  Picture p8 = CreatePicture(3, 3, 8);
  int entries = 0;
  EXPECT_EQ(PicturePixels(p8, &entries), p8.get() + 40 + 1024);
  EXPECT_EQ(entries, 256);
}

TEST(Picture, SizesOutsideTheSixteenBitRangeAreRefused) {
  EXPECT_FALSE(CreatePicture(0, 10, 24));
  EXPECT_FALSE(CreatePicture(10, 0, 24));
  EXPECT_FALSE(CreatePicture(65536, 1, 24));
  EXPECT_FALSE(CreatePicture(-4, 4, 24));
  EXPECT_TRUE(PictureSizeAllowed(65535, 1));
  EXPECT_FALSE(PictureSizeAllowed(65535, 65535));  // beyond the pixel limit
}

TEST(Picture, AccessorsReadTheLowSixteenBits) {
  Picture p = CreatePicture(4, 4, 24);
  PictureHeader(p)->biWidth = 70000;
  EXPECT_EQ(PictureWidth(p), 4464);
}

TEST(Picture, ConvertingA24BitPictureGivesNullAndLeavesItAlone) {
  Picture p = Numbered(3, 2);
  Picture before = CreatePicture(3, 2, 24);
  std::memcpy(before.get(), p.get(), 40 + 2 * 12);
  EXPECT_FALSE(ConvertTo24(p));
  EXPECT_EQ(std::memcmp(before.get(), p.get(), 40 + 2 * 12), 0);
}

TEST(Picture, PaletteExpansionKeepsRowsBottomUp) {
  Picture p = CreatePicture(10, 2, 4);
  uint8_t* table = p.get() + 40;
  table[4 * 1 + 2] = 200;  // entry 1: red 200
  table[4 * 15 + 0] = 9;   // entry 15: blue 9
  PicturePixels(p)[0] = 0x1F;               // bottom row: indices 1, 15
  PicturePixels(p)[RowStride(10, 4)] = 0xF0;  // top row: 15, 0
  Picture out = ConvertTo24(p);
  ASSERT_TRUE(out);
  const uint8_t* bottom = PictureRow(out.get(), 0);
  const uint8_t* top = PictureRow(out.get(), 1);
  EXPECT_EQ(bottom[2], 200);
  EXPECT_EQ(bottom[3], 9);
  EXPECT_EQ(top[0], 9);
  EXPECT_EQ(top[5], 0);
}

TEST(Picture, CropDropsColumnsAndRowsOnTheSignedSide) {
  Picture p = Numbered(10, 6);
  Picture same = CropPicture(p, 0, 0);
  ASSERT_TRUE(same);
  EXPECT_EQ(std::memcmp(PicturePixels(same), PicturePixels(p), 6 * 32), 0);

  Picture noLeft = CropPicture(p, -3, 0);
  Picture noRight = CropPicture(p, 3, 0);
  ASSERT_TRUE(noLeft && noRight);
  EXPECT_EQ(PictureWidth(noLeft), 7);
  EXPECT_EQ(PictureWidth(noRight), 7);
  EXPECT_EQ(PictureRow(noLeft.get(), 0)[0], 3);   // first column kept is 3
  EXPECT_EQ(PictureRow(noRight.get(), 0)[0], 0);
  EXPECT_EQ(PictureRow(noRight.get(), 0)[3 * 6], 6);

  Picture noBottom = CropPicture(p, 0, -2);
  Picture noTop = CropPicture(p, 0, 2);
  ASSERT_TRUE(noBottom && noTop);
  EXPECT_EQ(PictureHeight(noBottom), 4);
  EXPECT_EQ(PictureRow(noBottom.get(), 0)[1], 2);  // stored rows 0, 1 gone
  EXPECT_EQ(PictureRow(noTop.get(), 0)[1], 0);
  EXPECT_EQ(PictureRow(noTop.get(), 3)[1], 3);

  EXPECT_FALSE(CropPicture(p, 10, 0));  // nothing would be left
}

TEST(Picture, HalfOfASideBySideFrameFitsTheScreen) {
  Picture frame = CreatePicture(3840, 1080, 24);
  ASSERT_TRUE(frame);
  for (int y = 0; y < 1080; ++y)
    for (int x = 1920; x < 3840; ++x) PictureRow(frame.get(), y)[3 * x + 2] = 255;
  Picture right = FitHalfToScreen(1920, 1080, *PictureHeader(frame),
                                  PicturePixels(frame), 1);
  ASSERT_TRUE(right);
  EXPECT_EQ(PictureWidth(right), 1920);
  EXPECT_EQ(PictureHeight(right), 1080);
  EXPECT_EQ(PictureRow(right.get(), 0)[2], 255);
  Picture left = FitHalfToScreen(1920, 1080, *PictureHeader(frame),
                                 PicturePixels(frame), 0);
  EXPECT_EQ(PictureRow(left.get(), 500)[3 * 1919 + 2], 0);

  Picture square = CreatePicture(1000, 1000, 24);
  Picture half = FitHalfToScreen(1920, 1080, *PictureHeader(square),
                                 PicturePixels(square), 0);
  ASSERT_TRUE(half);
  EXPECT_EQ(PictureWidth(half), 540);
  EXPECT_EQ(PictureHeight(half), 1080);
}

}  // namespace

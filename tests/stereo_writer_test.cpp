// Written stereo files read back: an MPO's index checked by a parser of the
// test's own, its views by the MPO reader against each picture decoded
// alone; side-by-side frames with the left view on the left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/mpo_reader.h"
#include "image/still_reader.h"
#include "image/stereo_writer.h"

namespace {

Picture Gradient(int w, int h, int seed) {
  Picture p = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = PictureRow(p.get(), y) + 3 * x;
      px[0] = static_cast<uint8_t>((x * 7 + seed * 31) & 0xFF);
      px[1] = static_cast<uint8_t>((y * 5 + x * seed) & 0xFF);
      px[2] = static_cast<uint8_t>(((x ^ y) * 3 + seed) & 0xFF);
    }
  return p;
}

bool SamePixels(const Picture& a, const Picture& b) {
  if (!a || !b || PictureWidth(a) != PictureWidth(b) ||
      PictureHeight(a) != PictureHeight(b))
    return false;
  for (int y = 0; y < PictureHeight(a); ++y)
    if (std::memcmp(PictureRow(a.get(), y), PictureRow(b.get(), y),
                    3 * PictureWidth(a)) != 0)
      return false;
  return true;
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct MpEntry {
  uint32_t attribute, size, offset;
};

// The MP entries of the first picture's APP2 segment, and where its MP
// header (offsets count from there) is.
std::vector<MpEntry> ReadIndex(const std::vector<uint8_t>& f, size_t& header) {
  std::vector<MpEntry> entries;
  size_t at = 2;
  while (at + 4 <= f.size() && f[at] == 0xFF) {
    size_t length = f[at + 2] << 8 | f[at + 3];
    if (f[at + 1] == 0xE2 && std::memcmp(&f[at + 4], "MPF\0", 4) == 0) {
      header = at + 8;
      const uint8_t* tiff = &f[header];
      EXPECT_EQ(std::memcmp(tiff, "II*\0", 4), 0);
      const uint8_t* ifd = tiff + Le32(tiff + 4);
      for (int i = 0; i < Le16(ifd); ++i) {
        const uint8_t* e = ifd + 2 + 12 * i;
        if (Le16(e) != 0xB002) continue;
        const uint8_t* table = tiff + Le32(e + 8);
        for (uint32_t k = 0; k < Le32(e + 4) / 16; ++k)
          entries.push_back({Le32(table + 16 * k), Le32(table + 16 * k + 4),
                             Le32(table + 16 * k + 8)});
      }
      return entries;
    }
    at += 2 + length;
  }
  return entries;
}

}  // namespace

// The index types both pictures as a disparity pair, its sizes and offset
// land on the second picture's SOI, and the reader gives back exactly the
// views each picture decodes to alone.
TEST(StereoWriter, MpoIndexAndViewsRoundTrip) {
  Picture left = Gradient(96, 64, 1), right = Gradient(96, 64, 2);
  std::vector<uint8_t> mpo;
  std::string error;
  ASSERT_TRUE(EncodeMpo(left, right, 90, mpo, error)) << error;

  size_t header = 0;
  std::vector<MpEntry> index = ReadIndex(mpo, header);
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(index[0].attribute, 0x20020002u);  // representative, disparity
  EXPECT_EQ(index[1].attribute, 0x00020002u);
  EXPECT_EQ(index[0].offset, 0u);
  size_t second = header + index[1].offset;
  EXPECT_EQ(index[0].size, second);
  EXPECT_EQ(index[0].size + index[1].size, mpo.size());
  ASSERT_LT(second + 4, mpo.size());
  EXPECT_EQ(mpo[second], 0xFF);
  EXPECT_EQ(mpo[second + 1], 0xD8);
  // Exif first in each picture.
  EXPECT_EQ(std::memcmp(&mpo[6], "Exif\0\0", 6), 0);
  EXPECT_EQ(std::memcmp(&mpo[second + 6], "Exif\0\0", 6), 0);

  StillDecode first = DecodeStillData(mpo.data(), index[0].size);
  StillDecode other = DecodeStillData(mpo.data() + second, index[1].size);
  ASSERT_TRUE(first.picture && other.picture);
  MpoViews views;
  ASSERT_TRUE(DecodeMpoViews(mpo.data(), mpo.size(), views));
  EXPECT_EQ(views.shiftX, 0);
  EXPECT_TRUE(SamePixels(views.left, first.picture));
  EXPECT_TRUE(SamePixels(views.right, other.picture));
  // Lossy, but the views are the ones given, not swapped.
  auto error2 = [](const Picture& a, const Picture& b) {
    double sum = 0;
    for (int y = 0; y < PictureHeight(a); ++y)
      for (int x = 0; x < 3 * PictureWidth(a); ++x) {
        double d = PictureRow(a.get(), y)[x] - PictureRow(b.get(), y)[x];
        sum += d * d;
      }
    return sum;
  };
  EXPECT_LT(error2(views.left, left), error2(views.left, right));
  EXPECT_LT(error2(views.right, right), error2(views.right, left));
}

// Decoded reduced for measuring: the views come out at a fraction of the
// size with the colours of the whole ones; other reductions are refused.
TEST(StereoWriter, MpoViewsDecodeReducedForMeasuring) {
  Picture left = Gradient(96, 64, 5), right = Gradient(96, 64, 6);
  std::vector<uint8_t> mpo;
  std::string error;
  ASSERT_TRUE(EncodeMpo(left, right, 95, mpo, error)) << error;
  MpoViews whole, half;
  ASSERT_TRUE(DecodeMpoViews(mpo.data(), mpo.size(), whole));
  ASSERT_TRUE(DecodeMpoViewsReduced(mpo.data(), mpo.size(), 2, half));
  ASSERT_EQ(PictureWidth(half.left), 48);
  ASSERT_EQ(PictureHeight(half.right), 32);
  // Each reduced pixel against the mean of its 2 x 2 block, on average.
  double total = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48 * 3; ++x) {
      int c = x % 3, px = x / 3;
      double sum = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
          sum += PictureRow(whole.right.get(), 2 * y + dy)[3 * (2 * px + dx) + c];
      total += std::abs(sum / 4 - PictureRow(half.right.get(), y)[x]);
    }
  EXPECT_LT(total / (32 * 48 * 3), 8);
  MpoViews refused;
  EXPECT_FALSE(DecodeMpoViewsReduced(mpo.data(), mpo.size(), 3, refused));
  EXPECT_FALSE(refused.left || refused.right);
}

// Side by side: the left view in the left half, halves as wide as the wider
// view, a narrower or lower view centred in its half on black (a reader
// cutting at the middle gets each view whole and nothing of the other); the
// JPEG of it decodes to the joined size.
TEST(StereoWriter, SideBySideKeepsTheLeftViewOnTheLeft) {
  Picture left = Gradient(40, 30, 3), right = Gradient(50, 20, 4);
  Picture joined = JoinSideBySide(left, right);
  ASSERT_TRUE(joined);
  EXPECT_EQ(PictureWidth(joined), 100);
  EXPECT_EQ(PictureHeight(joined), 30);
  for (int y = 0; y < 30; ++y)
    EXPECT_EQ(std::memcmp(PictureRow(joined.get(), y) + 3 * 5,
                          PictureRow(left.get(), y), 3 * 40), 0);
  for (int y = 0; y < 20; ++y)
    EXPECT_EQ(std::memcmp(PictureRow(joined.get(), y + 5) + 3 * 50,
                          PictureRow(right.get(), y), 3 * 50), 0);
  for (int y : {0, 4, 25, 29})
    EXPECT_EQ(PictureRow(joined.get(), y)[3 * 60], 0);
  for (int x : {0, 4, 45, 49})
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(PictureRow(joined.get(), 15)[3 * x + c], 0) << x;
  std::vector<uint8_t> jpeg;
  std::string error;
  ASSERT_TRUE(EncodeJpeg(joined, 90, true, jpeg, error)) << error;
  StillDecode decoded = DecodeStillData(jpeg.data(), jpeg.size());
  ASSERT_TRUE(decoded.picture);
  EXPECT_EQ(PictureWidth(decoded.picture), 100);
  EXPECT_EQ(PictureHeight(decoded.picture), 30);
  Picture eight = CreatePicture(4, 4, 8);
  EXPECT_FALSE(EncodeJpeg(eight, 90, true, jpeg, error));
  EXPECT_FALSE(error.empty());
}

#include "stereo/thumbnail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "image/jpeg_reader.h"
#include "tests/synthetic_jpeg.h"

namespace {

using synthetic::Bytes;

// A side-by-side picture: the left half reddish, the right half bluish,
// both with the test card's texture.
synthetic::RawImage SideBySide(int width, int height) {
  synthetic::RawImage card = synthetic::TestCard(width, height, 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &card.samples[3 * (size_t(y) * width + x)];
      bool left = x < width / 2;
      p[0] = left ? 160 + p[0] % 80 : p[0] % 60;
      p[1] = p[1] % 60;
      p[2] = left ? p[2] % 60 : 160 + p[2] % 80;
    }
  return card;
}

Picture Thumb(const Bytes& file, int size, bool namedMpo = false) {
  std::string reason;
  Picture p = MakeThumbnailData(file.data(), file.size(), namedMpo, size,
                                reason);
  EXPECT_TRUE(p) << reason;
  return p;
}

// How much of source pixel [i, i + 1) the interval [from, to) covers.
double Cover(int i, double from, double to) {
  return std::max(0.0, std::min(to, i + 1.0) - std::max(from, double(i)));
}

// The mean absolute difference between `thumb` and `full`'s columns
// [0, viewWidth) averaged down to the thumbnail's size, each thumbnail pixel
// the exact area mean of the source it covers: an oracle that knows nothing
// of reduced decoding.
double DistanceFromAveraged(const Picture& thumb, const Picture& full,
                            int viewWidth) {
  int tw = PictureWidth(thumb), th = PictureHeight(thumb);
  int fh = PictureHeight(full);
  double sx = double(viewWidth) / tw, sy = double(fh) / th;
  double total = 0;
  for (int ty = 0; ty < th; ++ty)
    for (int tx = 0; tx < tw; ++tx) {
      double x0 = tx * sx, x1 = x0 + sx, y0 = ty * sy, y1 = y0 + sy;
      for (int c = 0; c < 3; ++c) {
        double sum = 0, weight = 0;
        for (int y = int(y0); y < std::min(fh, int(y1) + 1); ++y)
          for (int x = int(x0); x < std::min(viewWidth, int(x1) + 1); ++x) {
            double w = Cover(x, x0, x1) * Cover(y, y0, y1);
            sum += w * PictureRow(full.get(), y)[3 * x + c];
            weight += w;
          }
        total += std::abs(sum / weight - PictureRow(thumb.get(), ty)[3 * tx + c]);
      }
    }
  return total / (3.0 * tw * th);
}

bool AllReddish(const Picture& p) {
  for (int y = 0; y < PictureHeight(p); ++y)
    for (int x = 0; x < PictureWidth(p); ++x) {
      const uint8_t* bgr = PictureRow(p.get(), y) + 3 * x;
      if (bgr[2] < bgr[0] + 60) {
        ADD_FAILURE() << "at " << x << "," << y << " of " << PictureWidth(p)
                      << "x" << PictureHeight(p) << ": " << int(bgr[2]) << " "
                      << int(bgr[1]) << " " << int(bgr[0]);
        return false;
      }
    }
  return true;
}

TEST(Thumbnail, SideBySideJpegGivesItsLeftHalfOnlyDecodedSmall) {
  // Halves that end inside a block at every reduction, and sizes that need
  // each reduction and a final scale.  The halves are even: an odd one
  // shares its last column's colour with the right view in the file itself.
  for (int width : {1600, 1236, 2004})
    for (int size : {100, 150, 256, 700}) {
      SCOPED_TRACE(testing::Message() << width << " wide, size " << size);
      Bytes jpeg = synthetic::Compress(SideBySide(width, 600));
      Picture thumb = Thumb(jpeg, size);
      ASSERT_TRUE(thumb);
      int viewWidth = width / 2;
      int longest = std::min(size, viewWidth);
      EXPECT_EQ(PictureWidth(thumb), longest);
      EXPECT_NEAR(PictureHeight(thumb), 600.0 * longest / viewWidth, 1.0);
      EXPECT_TRUE(AllReddish(thumb)) << "the right view leaks in";
      Picture full = DecodeJpegData(jpeg.data(), jpeg.size());
      EXPECT_LT(DistanceFromAveraged(thumb, full, viewWidth), 6.0);
    }
}

TEST(Thumbnail, MultiPictureFileGivesItsFirstPictureWholeWhateverItsName) {
  Bytes first = synthetic::Compress(SideBySide(640, 480));
  Bytes second = synthetic::Compress(synthetic::TestCard(640, 480, 7));
  Bytes mpo = synthetic::BuildMpo({first, second});
  ASSERT_TRUE(HasMultiPictureSegment(mpo.data(), mpo.size()));
  Picture full = DecodeJpegData(first.data(), first.size());
  Picture other = DecodeJpegData(second.data(), second.size());
  for (bool named : {false, true}) {
    Picture thumb = Thumb(mpo, 160, named);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(PictureWidth(thumb), 160);
    EXPECT_EQ(PictureHeight(thumb), 120);
    EXPECT_LT(DistanceFromAveraged(thumb, full, 640), 6.0);
    EXPECT_GT(DistanceFromAveraged(thumb, other, 640), 20.0);
  }
  // A plain JPEG named .mpo is taken as the camera meant it: one picture.
  Picture named = Thumb(first, 160, true);
  ASSERT_TRUE(named);
  EXPECT_EQ(PictureWidth(named), 160);
  EXPECT_FALSE(HasMultiPictureSegment(first.data(), first.size()));
}

TEST(Thumbnail, SmallViewsKeepTheirSizeAndBadInputIsRefusedWithAReason) {
  Bytes jpeg = synthetic::Compress(SideBySide(200, 90));
  Picture thumb = Thumb(jpeg, 256);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(PictureWidth(thumb), 100);
  EXPECT_EQ(PictureHeight(thumb), 90);

  std::string reason;
  Bytes cut(jpeg.begin(), jpeg.begin() + 20);
  EXPECT_FALSE(MakeThumbnailData(cut.data(), cut.size(), false, 64, reason));
  EXPECT_FALSE(reason.empty());
  reason.clear();
  Bytes text = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_FALSE(MakeThumbnailData(text.data(), text.size(), false, 64, reason));
  EXPECT_FALSE(reason.empty());
  reason.clear();
  EXPECT_FALSE(MakeThumbnailData(jpeg.data(), jpeg.size(), false, 0, reason));
  EXPECT_FALSE(reason.empty());
  Bytes narrow = synthetic::Compress(synthetic::TestCard(1, 8));
  EXPECT_FALSE(MakeThumbnailData(narrow.data(), narrow.size(), false, 64,
                                 reason));
}

TEST(Thumbnail, ReductionIsTheLargestThatKeepsTheSize) {
  EXPECT_EQ(ReductionFor(4000, 3000, 256), 8);
  EXPECT_EQ(ReductionFor(4000, 3000, 500), 8);
  EXPECT_EQ(ReductionFor(4000, 3000, 501), 4);
  EXPECT_EQ(ReductionFor(3000, 4000, 1024), 2);
  EXPECT_EQ(ReductionFor(300, 200, 256), 1);
}

}  // namespace

// Alignment measured on pairs made from one real photograph: the right view
// is the photograph seen through a known rotation, scale and vertical shift
// with three depth bands of known disparity, resampled here by a sampler of
// the test's own.  The known transform is the oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "align/alignment.h"
#include "image/mpo_reader.h"
#include "image/still_reader.h"
#include "test_support.h"

namespace {

struct Known {
  double rotationDeg, verticalPx, scale;
};

// Disparity in the right view by its row: far, middle and near bands.
constexpr double kFar = 6, kMiddle = 15, kNear = 27;
double BandDisparity(double y, int height) {
  return y < height / 3.0 ? kFar : y < 2 * height / 3.0 ? kMiddle : kNear;
}

// Bilinear value of channel `ch` at top-down (x, y); black outside.
double Sample(const Picture& p, double x, double y, int ch) {
  int w = PictureWidth(p), h = PictureHeight(p);
  int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  double fx = x - x0, fy = y - y0, sum = 0;
  for (int dy = 0; dy < 2; ++dy)
    for (int dx = 0; dx < 2; ++dx) {
      int xi = x0 + dx, yi = y0 + dy;
      if (xi < 0 || yi < 0 || xi >= w || yi >= h) continue;
      double weight = (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy);
      sum += weight * PictureRow(p.get(), h - 1 - yi)[3 * xi + ch];
    }
  return sum;
}

// The right view: the left point (x, y) lands at
//   y' = c_y + s((x - c_x) sin t + (y - c_y) cos t) + v
//   x' = c_x + s((x - c_x) cos t - (y - c_y) sin t) + D(y')
Picture MakeRight(const Picture& left, const Known& k) {
  int w = PictureWidth(left), h = PictureHeight(left);
  Picture right = CreatePicture(w, h, 24);
  double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  double t = k.rotationDeg * M_PI / 180, c = std::cos(t), s = std::sin(t);
  for (int yr = 0; yr < h; ++yr) {
    uint8_t* row = PictureRow(right.get(), h - 1 - yr);
    for (int xr = 0; xr < w; ++xr) {
      double dx = xr - BandDisparity(yr, h) - cx;
      double dy = yr - k.verticalPx - cy;
      double x = cx + (c * dx + s * dy) / k.scale;
      double y = cy + (-s * dx + c * dy) / k.scale;
      for (int ch = 0; ch < 3; ++ch)
        row[3 * xr + ch] = static_cast<uint8_t>(
            std::clamp(std::lround(Sample(left, x, y, ch)), 0L, 255L));
    }
  }
  return right;
}

cv::Mat GreyTopDown(const Picture& p) {
  int w = PictureWidth(p), h = PictureHeight(p);
  cv::Mat grey(h, w, CV_32F);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = PictureRow(p.get(), h - 1 - y);
    for (int x = 0; x < w; ++x)
      grey.at<float>(y, x) =
          0.114f * row[3 * x] + 0.587f * row[3 * x + 1] + 0.299f * row[3 * x + 2];
  }
  return grey;
}

// Remaining height differences of the corrected pair: patches inside each
// depth band compared by phase correlation, the patch's known disparity
// taken out first.  Only textured patches count (a flat one measures noise).
std::vector<double> RemainingHeights(const Picture& left, const Picture& right,
                                     const PixelRect& rect, int height) {
  cv::Mat l = GreyTopDown(left), r = GreyTopDown(right);
  std::vector<double> heights;
  constexpr int kPatch = 64;
  for (int y = 8; y + kPatch + 8 < l.rows; y += kPatch / 2)
    for (int x = 48; x + kPatch + 48 < l.cols; x += kPatch / 2) {
      // The correction moves rows by far less than a band: a patch takes
      // the band of its rows, and one straddling a band edge is left out.
      double top = BandDisparity(rect.y + y - 8, height);
      double bottom = BandDisparity(rect.y + y + kPatch + 8, height);
      if (top != bottom) continue;
      int shift = static_cast<int>(std::lround(top));
      cv::Mat a = l(cv::Rect(x, y, kPatch, kPatch));
      cv::Mat b = r(cv::Rect(x + shift, y, kPatch, kPatch));
      cv::Scalar mean, deviation;
      cv::meanStdDev(a, mean, deviation);
      if (deviation[0] < 12) continue;
      double response = 0;
      cv::Point2d d = cv::phaseCorrelate(a, b, cv::noArray(), &response);
      if (response < 0.3) continue;
      heights.push_back(d.y);
    }
  return heights;
}

struct Photo {
  const char* file;
  bool mpo;
};

Picture LoadView(const Photo& photo) {
  std::string path = TestDataPath(photo.file);
  if (photo.mpo) {
    MpoViews views;
    if (!ReadMpoFileViews(path, views)) return nullptr;
    return std::move(views.left);
  }
  return DecodeStill(path).picture;
}

}  // namespace

// Several real photographs, each misaligned both ways: rotation, vertical
// offset and scale come back within 0.05 degrees, 0.5 pixels and 0.002, the
// depth range within 1.5 pixels, and the corrected pair's rows line up.
TEST(Alignment, KnownMisalignmentsOfRealPhotosAreMeasuredAndCorrected) {
  const Photo photos[] = {
      {"jpeg/ci_oregon_DSC_0307_camera_com_trailing.jpg", false},
      {"mpo/pillow_frozenpond.mpo", true},
  };
  const Known cases[] = {
      {0.4, 3.5, 1.006}, {-0.5, -4.25, 0.993}, {0.15, -1.5, 1.0},
      {-0.2, 6.0, 1.012}};
  for (const Photo& photo : photos) {
    REQUIRE_TEST_FILES(photo.file);
    Picture left = LoadView(photo);
    ASSERT_TRUE(left) << photo.file;
    int w = PictureWidth(left), h = PictureHeight(left);
    for (const Known& k : cases) {
      SCOPED_TRACE(std::string(photo.file) + " rotation " +
                   std::to_string(k.rotationDeg) + " vertical " +
                   std::to_string(k.verticalPx) + " scale " +
                   std::to_string(k.scale));
      Picture right = MakeRight(left, k);
      Alignment a = MeasureAlignment(left, right);
      ASSERT_TRUE(a.measured) << a.failure;
      EXPECT_NEAR(a.rotationDeg, k.rotationDeg, 0.05);
      EXPECT_NEAR(a.verticalPx, k.verticalPx, 0.5);
      EXPECT_NEAR(a.scale, k.scale, 0.002);
      // After the correction a band's disparity D reads D cos t / s.
      double t = k.rotationDeg * M_PI / 180;
      EXPECT_NEAR(a.disparityMinPx, kFar * std::cos(t) / k.scale, 1.5);
      EXPECT_NEAR(a.disparityMaxPx, kNear * std::cos(t) / k.scale, 1.5);
      EXPECT_GE(a.matches, 24);
      EXPECT_GT(a.confidence, 0.3);
      std::printf("  %s t %.2f v %.2f s %.3f: err t %.4f v %.3f s %.5f "
                  "disp %.2f..%.2f (%d matches, conf %.2f)\n",
                  photo.file, k.rotationDeg, k.verticalPx, k.scale,
                  a.rotationDeg - k.rotationDeg, a.verticalPx - k.verticalPx,
                  a.scale - k.scale, a.disparityMinPx, a.disparityMaxPx,
                  a.matches, a.confidence);

      Picture l2, r2;
      ASSERT_TRUE(CorrectPair(left, right, a, l2, r2));
      PixelRect rect = CommonRectangle(a, w, h, w, h);
      EXPECT_EQ(PictureWidth(l2), rect.width);
      EXPECT_EQ(PictureHeight(r2), rect.height);
      EXPECT_NEAR(static_cast<double>(rect.width) / rect.height,
                  static_cast<double>(w) / h, 0.01);
      std::vector<double> heights =
          RemainingHeights(l2, r2, rect, h);
      ASSERT_GE(heights.size(), 10u);
      std::vector<double> sizes;
      for (double d : heights) sizes.push_back(std::abs(d));
      std::sort(sizes.begin(), sizes.end());
      EXPECT_LT(sizes[sizes.size() / 2], 0.3);
      EXPECT_LT(sizes[sizes.size() * 9 / 10], 0.5);
    }
  }
}

// A pair with nothing to match (a flat sky, two unrelated pictures) is not
// measured: no wild warp, the reason given, and no corrected pair.
TEST(Alignment, FlatOrUnrelatedPairsAreLeftAsTheyAre) {
  const char* photo = "jpeg/ci_oregon_DSC_0307_camera_com_trailing.jpg";
  const char* other = "mpo/pillow_frozenpond.mpo";
  REQUIRE_TEST_FILES(photo, other);
  Picture view = LoadView({photo, false});
  ASSERT_TRUE(view);
  int w = PictureWidth(view), h = PictureHeight(view);
  Picture flat = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < 3 * w; ++x)
      PictureRow(flat.get(), y)[x] = static_cast<uint8_t>(120 + (x % 3) * 20);
  Picture unrelated = LoadView({other, true});
  ASSERT_TRUE(unrelated);
  for (const Picture* right : {&flat, &unrelated}) {
    Alignment a = MeasureAlignment(view, *right);
    EXPECT_FALSE(a.measured);
    EXPECT_FALSE(a.failure.empty());
    EXPECT_EQ(a.rotationDeg, 0);
    EXPECT_EQ(a.verticalPx, 0);
    EXPECT_EQ(a.scale, 1);
    Picture l2, r2;
    EXPECT_FALSE(CorrectPair(view, *right, a, l2, r2));
    EXPECT_FALSE(l2 || r2);
  }
}

// Views a pixel apart in size (a crop, a camera's odd row) reduce to copies
// of two sizes: the right one is brought to the left one's grid and the
// pair is measured as if they were one size (the tracker used to refuse
// them with its own assertion text).
TEST(Alignment, ViewsOnePixelApartInSizeAreMeasured) {
  const char* photo = "jpeg/ci_oregon_DSC_0307_camera_com_trailing.jpg";
  REQUIRE_TEST_FILES(photo);
  Picture left = LoadView({photo, false});
  ASSERT_TRUE(left);
  // A width that is a whole number of reduction steps, so that one column
  // less gives a reduced copy one column narrower.
  int w = PictureWidth(left), h = PictureHeight(left);
  int k = std::max(1, (std::max(w, h) + kAlignmentSide / 2) / kAlignmentSide);
  if (w % k) left = CropPicture(left, w % k, 0);
  w = PictureWidth(left);
  const Known known{0.3, 2.5, 1.004};
  Picture full = MakeRight(left, known);
  for (auto [dx, dy] : {std::pair{1, 0}, std::pair{0, -1}, std::pair{1, -1}}) {
    SCOPED_TRACE(std::to_string(dx) + "," + std::to_string(dy));
    // The right column and the bottom row dropped: the kept pixels stay
    // where they were.
    Picture right = CropPicture(full, dx, dy);
    ASSERT_EQ(PictureWidth(right), w - dx);
    Alignment a = MeasureAlignment(left, right);
    ASSERT_TRUE(a.measured) << a.failure;
    EXPECT_NEAR(a.rotationDeg, known.rotationDeg, 0.05);
    EXPECT_NEAR(a.verticalPx, known.verticalPx, 0.5);
    EXPECT_NEAR(a.scale, known.scale, 0.002);
  }
}

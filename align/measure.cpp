// Measuring the misalignment of a stereo pair.
//
// Features are found on reduced grey copies (a 12-megapixel pair would
// otherwise cost more than decoding it), matched with the ratio test, and
// only their heights are fitted: y' - c_y = a (x - c_x) + b (y - c_y) + v is
// linear in a = scale sin(rotation), b = scale cos(rotation) and v, so a
// RANSAC over three-match samples followed by least squares does it.  The
// kept matches are then refined to sub-pixel positions with Lucas-Kanade,
// because ORB places corners found on coarse pyramid levels only to whole
// pixels of that level, and fitted again.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "align/alignment.h"

namespace {

// The reduced copies' longer side.  Large enough that the refined heights
// are well under a full-size pixel for 12-megapixel views, small enough
// that measuring costs a fraction of decoding them.
constexpr int kReducedSide = 1200;
constexpr int kFeatures = 2000;
constexpr double kRatio = 0.8;
// Fewer kept matches than this: too flat or too different to measure.
constexpr int kMinInliers = 24;
// Beyond these a stereo rig's views are not misaligned but different.
constexpr double kMaxRotationDeg = 8;
constexpr double kMaxScaleChange = 0.15;
constexpr double kMaxVerticalShare = 0.15;

struct Match {
  double lx, ly;  // left view, full-size pixels
  double rx, ry;  // right view
};

struct HeightModel {
  double a = 0, b = 1, v = 0;
};

struct Grey {
  cv::Mat image;      // reduced, top row first
  double sx = 1, sy = 1;  // full-size pixels per reduced pixel
};

// A grey copy of a bottom-up 24-bit picture at most kReducedSide on its
// longer side, with the factors back to full size.
Grey ReducedGrey(const Picture& picture) {
  int width = PictureWidth(picture), height = PictureHeight(picture);
  cv::Mat bgr(height, width, CV_8UC3, PicturePixels(picture),
              static_cast<size_t>(RowStride(width, 24)));
  Grey out;
  double factor = std::max(1.0, std::max(width, height) /
                                    static_cast<double>(kReducedSide));
  // Reduced first: no full-size grey copy to allocate and fill.
  cv::Mat reduced = bgr;
  if (factor > 1) {
    cv::Size size(std::max(1, static_cast<int>(std::lround(width / factor))),
                  std::max(1, static_cast<int>(std::lround(height / factor))));
    cv::resize(bgr, reduced, size, 0, 0, cv::INTER_AREA);
  }
  cv::cvtColor(reduced, reduced, cv::COLOR_BGR2GRAY);
  // The rows were stored bottom-up; the flip is exact in pixel-centre
  // coordinates, so it is done on the small copy.
  cv::flip(reduced, out.image, 0);
  out.sx = width / static_cast<double>(out.image.cols);
  out.sy = height / static_cast<double>(out.image.rows);
  return out;
}

double ToFull(double reduced, double factor) {
  return (reduced + 0.5) * factor - 0.5;
}
double ToReduced(double full, double factor) {
  return (full + 0.5) / factor - 0.5;
}

double Residual(const HeightModel& m, const Match& k, double cx, double cy) {
  return k.ry - cy - (m.a * (k.lx - cx) + m.b * (k.ly - cy) + m.v);
}

// Least squares over the given matches; false when they are degenerate.
bool FitHeights(const std::vector<Match>& matches, double cx, double cy,
                HeightModel& model) {
  if (matches.size() < 3) return false;
  cv::Mat A(static_cast<int>(matches.size()), 3, CV_64F);
  cv::Mat y(static_cast<int>(matches.size()), 1, CV_64F);
  for (size_t i = 0; i < matches.size(); ++i) {
    int r = static_cast<int>(i);
    A.at<double>(r, 0) = matches[i].lx - cx;
    A.at<double>(r, 1) = matches[i].ly - cy;
    A.at<double>(r, 2) = 1;
    y.at<double>(r, 0) = matches[i].ry - cy;
  }
  cv::Mat solution;
  if (!cv::solve(A, y, solution, cv::DECOMP_SVD)) return false;
  model.a = solution.at<double>(0);
  model.b = solution.at<double>(1);
  model.v = solution.at<double>(2);
  return std::isfinite(model.a) && std::isfinite(model.b) &&
         std::isfinite(model.v);
}

bool Plausible(const HeightModel& m, int height) {
  double scale = std::hypot(m.a, m.b);
  double rotation = std::atan2(m.a, m.b) * 180 / M_PI;
  return std::abs(rotation) <= kMaxRotationDeg &&
         std::abs(scale - 1) <= kMaxScaleChange &&
         std::abs(m.v) <= kMaxVerticalShare * height;
}

std::vector<Match> Inliers(const std::vector<Match>& matches,
                           const HeightModel& m, double cx, double cy,
                           double threshold) {
  std::vector<Match> kept;
  for (const Match& k : matches)
    if (std::abs(Residual(m, k, cx, cy)) <= threshold) kept.push_back(k);
  return kept;
}

// RANSAC over three-match samples, then least squares on the inliers until
// they no longer change.  A fixed seed: the same pair measures the same.
std::vector<Match> RobustFit(const std::vector<Match>& matches, double cx,
                             double cy, int height, double threshold,
                             HeightModel& model) {
  std::vector<Match> best;
  if (matches.size() < 3) return best;
  std::mt19937 random(12345);
  std::uniform_int_distribution<size_t> pick(0, matches.size() - 1);
  for (int round = 0; round < 600; ++round) {
    std::vector<Match> sample = {matches[pick(random)], matches[pick(random)],
                                 matches[pick(random)]};
    HeightModel m;
    if (!FitHeights(sample, cx, cy, m) || !Plausible(m, height)) continue;
    size_t count = 0;
    for (const Match& k : matches)
      if (std::abs(Residual(m, k, cx, cy)) <= threshold) ++count;
    if (count > best.size()) {
      best = Inliers(matches, m, cx, cy, threshold);
      model = m;
    }
  }
  for (int pass = 0; pass < 4 && best.size() >= 3; ++pass) {
    HeightModel m;
    if (!FitHeights(best, cx, cy, m)) break;
    std::vector<Match> next = Inliers(matches, m, cx, cy, threshold);
    model = m;
    if (next.size() == best.size()) break;
    best = std::move(next);
  }
  return best;
}

std::vector<Match> RatioTestedMatches(const Grey& left, const Grey& right) {
  cv::Ptr<cv::ORB> orb = cv::ORB::create(kFeatures, 1.2f, 8, 31, 0, 2,
                                         cv::ORB::HARRIS_SCORE, 31, 10);
  std::vector<cv::KeyPoint> leftPoints, rightPoints;
  cv::Mat leftDescriptors, rightDescriptors;
  orb->detectAndCompute(left.image, cv::noArray(), leftPoints,
                        leftDescriptors);
  orb->detectAndCompute(right.image, cv::noArray(), rightPoints,
                        rightDescriptors);
  std::vector<Match> matches;
  if (leftDescriptors.rows < 2 || rightDescriptors.rows < 2) return matches;
  cv::BFMatcher matcher(cv::NORM_HAMMING);
  std::vector<std::vector<cv::DMatch>> pairs;
  matcher.knnMatch(leftDescriptors, rightDescriptors, pairs, 2);
  for (const auto& pair : pairs) {
    if (pair.size() < 2 || pair[0].distance >= kRatio * pair[1].distance)
      continue;
    const cv::Point2f& l = leftPoints[pair[0].queryIdx].pt;
    const cv::Point2f& r = rightPoints[pair[0].trainIdx].pt;
    matches.push_back({ToFull(l.x, left.sx), ToFull(l.y, left.sy),
                       ToFull(r.x, right.sx), ToFull(r.y, right.sy)});
  }
  return matches;
}

// Sub-pixel positions of the right points, tracked from the left ones on the
// reduced copies.  Matches the tracker loses are dropped.
std::vector<Match> Refined(const std::vector<Match>& matches, const Grey& left,
                           const Grey& right) {
  std::vector<cv::Point2f> from, to;
  for (const Match& k : matches) {
    from.emplace_back(static_cast<float>(ToReduced(k.lx, left.sx)),
                      static_cast<float>(ToReduced(k.ly, left.sy)));
    to.emplace_back(static_cast<float>(ToReduced(k.rx, right.sx)),
                    static_cast<float>(ToReduced(k.ry, right.sy)));
  }
  std::vector<uint8_t> status;
  std::vector<float> error;
  cv::calcOpticalFlowPyrLK(
      left.image, right.image, from, to, status, error, cv::Size(21, 21), 1,
      cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 40,
                       0.005),
      cv::OPTFLOW_USE_INITIAL_FLOW);
  std::vector<Match> refined;
  for (size_t i = 0; i < matches.size(); ++i) {
    if (!status[i]) continue;
    double rx = ToFull(to[i].x, right.sx), ry = ToFull(to[i].y, right.sy);
    // A tracker that wandered off the match found another place.
    if (std::hypot(rx - matches[i].rx, ry - matches[i].ry) >
        3 * std::max(right.sx, right.sy))
      continue;
    refined.push_back({matches[i].lx, matches[i].ly, rx, ry});
  }
  return refined;
}

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  double at = p * (values.size() - 1);
  size_t below = static_cast<size_t>(std::floor(at));
  size_t above = std::min(values.size() - 1, below + 1);
  return values[below] + (at - below) * (values[above] - values[below]);
}

// Whether the matches cover enough of the picture for rotation and scale to
// be told apart from a shift: a spread of a tenth of each side at least.
bool WellSpread(const std::vector<Match>& matches, int width, int height) {
  double mx = 0, my = 0;
  for (const Match& k : matches) mx += k.lx, my += k.ly;
  mx /= matches.size(), my /= matches.size();
  double vx = 0, vy = 0;
  for (const Match& k : matches)
    vx += (k.lx - mx) * (k.lx - mx), vy += (k.ly - my) * (k.ly - my);
  return std::sqrt(vx / matches.size()) >= 0.1 * width &&
         std::sqrt(vy / matches.size()) >= 0.1 * height;
}

Alignment NotMeasured(std::string reason, int matches) {
  Alignment a;
  a.failure = std::move(reason);
  a.matches = matches;
  return a;
}

Alignment Measure(const Picture& left, const Picture& right);

}  // namespace

// OpenCV reports failures (memory above all) by throwing; none leaves here.
Alignment MeasureAlignment(const Picture& left, const Picture& right) {
  try {
    return Measure(left, right);
  } catch (const cv::Exception& e) {
    return NotMeasured(std::string("the measurement failed: ") + e.what(), 0);
  } catch (const std::bad_alloc&) {
    return NotMeasured("out of memory", 0);
  }
}

namespace {

Alignment Measure(const Picture& left, const Picture& right) {
  if (!left || !right || PictureBits(left) != 24 || PictureBits(right) != 24)
    return NotMeasured("both views must be 24-bit pictures", 0);
  int width = PictureWidth(left), height = PictureHeight(left);
  if (std::min({width, height, PictureWidth(right), PictureHeight(right)}) <
      64)
    return NotMeasured("the views are too small to measure", 0);
  double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
  Grey leftGrey = ReducedGrey(left), rightGrey = ReducedGrey(right);
  std::vector<Match> matches = RatioTestedMatches(leftGrey, rightGrey);
  // A coarse fit with room for ORB's whole-pixel corners on coarse levels,
  // then a tight one on the refined positions.
  double reducedPixel = std::max(leftGrey.sy, rightGrey.sy);
  HeightModel model;
  std::vector<Match> inliers =
      RobustFit(matches, cx, cy, height, 2.5 * reducedPixel, model);
  if (static_cast<int>(inliers.size()) < kMinInliers)
    return NotMeasured("too few matching details (" +
                           std::to_string(inliers.size()) +
                           ") to measure the alignment: the pair is too flat "
                           "or its views too different",
                       static_cast<int>(inliers.size()));
  std::vector<Match> refined = Refined(inliers, leftGrey, rightGrey);
  std::vector<Match> kept =
      RobustFit(refined, cx, cy, height, 0.6 * reducedPixel, model);
  int count = static_cast<int>(kept.size());
  if (count < kMinInliers)
    return NotMeasured("too few matching details (" + std::to_string(count) +
                           ") survive refinement: the pair is too flat or "
                           "its views too different",
                       count);
  if (!WellSpread(kept, width, height))
    return NotMeasured("the matching details lie too close together to "
                       "measure rotation and scale",
                       count);
  if (!Plausible(model, height))
    return NotMeasured("the views differ by more than a misaligned stereo "
                       "pair does",
                       count);

  Alignment a;
  a.measured = true;
  a.scale = std::hypot(model.a, model.b);
  a.rotationDeg = std::atan2(model.a, model.b) * 180 / M_PI;
  a.verticalPx = model.v;
  a.matches = count;
  std::vector<double> disparities;
  double squares = 0;
  for (const Match& k : kept) {
    double r = Residual(model, k, cx, cy);
    squares += r * r;
    SamplePoint q = RightToCorrected(a, width, height, k.rx, k.ry);
    disparities.push_back(q.x - k.lx);
  }
  a.residualPx = std::sqrt(squares / count);
  a.disparityMinPx = Percentile(disparities, 0.02);
  a.disparityMaxPx = Percentile(disparities, 0.98);
  // Grows with the number of kept matches and with the share of the ratio-
  // tested matches they are, falls as their height error passes a pixel.
  double share = static_cast<double>(count) / std::max<size_t>(1, matches.size());
  a.confidence = (1 - std::exp(-count / 60.0)) * std::sqrt(std::min(1.0, share)) /
                 (1 + a.residualPx * a.residualPx);
  return a;
}

}  // namespace

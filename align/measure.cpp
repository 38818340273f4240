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
#include <cstring>
#include <exception>
#include <new>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/hal/hal.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "align/alignment.h"

namespace {

// The reduced copies' longer side.  Large enough that the refined heights
// are well under a full-size pixel for 12-megapixel views, small enough
// that measuring costs a fraction of decoding them.
constexpr int kReducedSide = kAlignmentSide;
constexpr int kFeatures = 1500;
constexpr double kRatio = 0.8;
// Fewer kept matches than this: too flat or too different to measure.
constexpr int kMinInliers = 24;
// Beyond these a stereo rig's views are not misaligned but different.
constexpr double kMaxRotationDeg = 5;
constexpr double kMaxScaleChange = 0.08;
constexpr double kMaxVerticalShare = 0.08;

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

// A grey copy of a bottom-up 24-bit picture reduced by a whole factor to at
// most about kReducedSide on its longer side, with the factors back to full
// size.  A whole factor lets OpenCV average k x k blocks directly, several
// times faster than area resampling by a fraction; the few columns and rows
// beyond the last whole block are left out.
Grey ReducedGrey(const Picture& picture) {
  int width = PictureWidth(picture), height = PictureHeight(picture);
  cv::Mat bgr(height, width, CV_8UC3, PicturePixels(picture),
              static_cast<size_t>(RowStride(width, 24)));
  int k = std::max(1, (std::max(width, height) + kReducedSide / 2) /
                          kReducedSide);
  Grey out;
  // Stored bottom-up: the rows left out are the top ones, so the kept
  // block starts at the stored row (height % k).  Grey first: averaging one
  // channel is cheaper than three.
  int keptHeight = height / k * k;
  cv::Mat grey, reduced;
  cv::cvtColor(bgr(cv::Rect(0, height - keptHeight, width / k * k, keptHeight)),
               grey, cv::COLOR_BGR2GRAY);
  if (k > 1)
    cv::resize(grey, reduced, cv::Size(width / k, height / k), 0, 0,
               cv::INTER_AREA);
  else
    reduced = grey;
  // The rows were stored bottom-up; the flip is exact in pixel-centre
  // coordinates, so it is done on the small copy.
  cv::flip(reduced, out.image, 0);
  out.sx = out.sy = k;
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

// One view's reduced copy and its ORB features.  Few pyramid levels: the
// views of a pair differ in scale by a few percent at most.
struct Features {
  Grey grey;
  std::vector<cv::KeyPoint> points;
  cv::Mat descriptors;
};

void Detect(const Picture& picture, Features& out) {
  out.grey = ReducedGrey(picture);
  cv::Ptr<cv::ORB> orb = cv::ORB::create(kFeatures, 1.2f, 3, 31, 0, 2,
                                         cv::ORB::HARRIS_SCORE, 31, 10);
  orb->detectAndCompute(out.grey.image, cv::noArray(), out.points,
                        out.descriptors);
}

// Both views' features, the right one's on a thread of its own.  An
// exception there is carried over and thrown here.
void DetectBoth(const Picture& left, const Picture& right, Features& l,
                Features& r) {
  std::exception_ptr failure;
  std::thread beside;
  try {
    beside = std::thread([&] {
      try {
        Detect(right, r);
      } catch (...) {
        failure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    Detect(right, r);  // no thread to be had: one after the other
  }
  try {
    Detect(left, l);
  } catch (...) {
    if (beside.joinable()) beside.join();
    throw;
  }
  if (beside.joinable()) beside.join();
  if (failure) std::rethrow_exception(failure);
}

// OpenCV picks the processor's population count at run time.
int Hamming(const uint8_t* a, const uint8_t* b) {
  return cv::hal::normHamming(a, b, 32);
}

// Ratio-tested nearest neighbours by Hamming distance, each left feature
// compared only with right features whose height is within what
// Plausible() allows: fewer false matches, and a third of the work of
// comparing all.
std::vector<Match> RatioTestedMatches(const Features& left,
                                      const Features& right) {
  std::vector<Match> matches;
  if (left.descriptors.rows < 2 || right.descriptors.rows < 2 ||
      left.descriptors.cols != 32 || right.descriptors.cols != 32)
    return matches;
  std::vector<int> byHeight(right.points.size());
  for (size_t i = 0; i < byHeight.size(); ++i) byHeight[i] = static_cast<int>(i);
  std::sort(byHeight.begin(), byHeight.end(), [&](int a, int b) {
    return right.points[a].pt.y < right.points[b].pt.y;
  });
  std::vector<float> heights;
  for (int i : byHeight) heights.push_back(right.points[i].pt.y);
  double rows = right.grey.image.rows;
  // Vertical offset plus what rotation and scale move a point at most.
  float band = static_cast<float>(
      rows * (kMaxVerticalShare + kMaxScaleChange / 2 +
              std::sin(kMaxRotationDeg * M_PI / 180) *
                  right.grey.image.cols / rows / 2));
  for (size_t q = 0; q < left.points.size(); ++q) {
    float y = left.points[q].pt.y;
    auto from = std::lower_bound(heights.begin(), heights.end(), y - band);
    auto to = std::upper_bound(heights.begin(), heights.end(), y + band);
    int best = 257, second = 257, bestIndex = -1;
    const uint8_t* d = left.descriptors.ptr<uint8_t>(static_cast<int>(q));
    for (auto it = from; it != to; ++it) {
      int index = byHeight[it - heights.begin()];
      int distance = Hamming(d, right.descriptors.ptr<uint8_t>(index));
      if (distance < best) {
        second = best;
        best = distance;
        bestIndex = index;
      } else if (distance < second) {
        second = distance;
      }
    }
    if (bestIndex < 0 || second > 256 || best >= kRatio * second) continue;
    const cv::Point2f& l = left.points[q].pt;
    const cv::Point2f& r = right.points[bestIndex].pt;
    matches.push_back({ToFull(l.x, left.grey.sx), ToFull(l.y, left.grey.sy),
                       ToFull(r.x, right.grey.sx), ToFull(r.y, right.grey.sy)});
  }
  return matches;
}

// The right view's reduced copy on the left one's grid: the tracker
// compares two pictures of one size, and views a pixel apart in size (or
// reduced by different factors) are not.  The factors back to full size
// follow the resampling.
Grey OnGridOf(const Grey& right, const Grey& left) {
  if (right.image.size() == left.image.size()) return right;
  Grey out;
  cv::resize(right.image, out.image, left.image.size(), 0, 0,
             cv::INTER_LINEAR);
  out.sx = right.sx * right.image.cols / left.image.cols;
  out.sy = right.sy * right.image.rows / left.image.rows;
  return out;
}

// Sub-pixel positions of the right points, tracked from the left ones on the
// reduced copies.  Matches the tracker loses are dropped.
std::vector<Match> Refined(const std::vector<Match>& matches, const Grey& left,
                           const Grey& rightCopy) {
  Grey right = OnGridOf(rightCopy, left);
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
      left.image, right.image, from, to, status, error, cv::Size(15, 15), 1,
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
  } catch (const cv::Exception&) {
    // The library's own message names its source lines, not the pair.
    return NotMeasured("the views could not be measured", 0);
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
  Features leftFeatures, rightFeatures;
  DetectBoth(left, right, leftFeatures, rightFeatures);
  const Grey& leftGrey = leftFeatures.grey;
  const Grey& rightGrey = rightFeatures.grey;
  std::vector<Match> matches = RatioTestedMatches(leftFeatures, rightFeatures);
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
  // tested matches they are, falls as their height error passes a pixel of
  // the reduced copies (so that it does not depend on the views' size).
  double share = static_cast<double>(count) / std::max<size_t>(1, matches.size());
  double error = a.residualPx / reducedPixel;
  a.confidence = (1 - std::exp(-count / 60.0)) *
                 std::sqrt(std::min(1.0, share)) / (1 + error * error);
  return a;
}

}  // namespace

Alignment ScaledAlignment(const Alignment& reduced, double factor) {
  Alignment a = reduced;
  a.verticalPx *= factor;
  a.disparityMinPx *= factor;
  a.disparityMaxPx *= factor;
  a.residualPx *= factor;
  return a;
}

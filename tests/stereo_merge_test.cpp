#include "movie/stereo_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

constexpr int64_t kMs = 10000;  // 100-ns units

struct Delivered {
  int64_t start, stop;
  int width, height;
  std::vector<uint8_t> bytes;
  ptrdiff_t stride;
  const uint8_t* Row(int r) const { return bytes.data() + r * stride; }
};

// A merge over settings the test can change, keeping every frame delivered.
struct MergeRig {
  int interval = 30, px = 0, py = 0;
  bool rgbOnly = false;
  std::vector<Delivered> frames;
  int ends = 0;
  StereoMerge merge{
      MergeSettings{[this] { return interval; }, [this] { return rgbOnly; },
                    [this] { return px; }, [this] { return py; }},
      [this](const MergeFrame& f) {
        frames.push_back({f.start, f.stop, f.width, f.height,
                          std::vector<uint8_t>(f.rows, f.rows + f.stride * f.height),
                          f.stride});
        return true;
      }};

  explicit MergeRig(int format = 1, int width = 4, int height = 2) {
    merge.onEndOfStream = [this] { ++ends; };
    MergeVideoType type{true, format, format == 2 ? 16 : 24, width, height};
    EXPECT_EQ(merge.SetInputType(0, type), 0u);
    EXPECT_EQ(merge.SetInputType(1, type), 0u);
    merge.Activate(0);
  }
  // A view whose byte k of row r is fill(r, k).  RGB views are stored
  // top-down and read bottom-up, as the pipeline hands them over.
  uint32_t Feed(int input, int64_t start, std::function<uint8_t(int, int)> fill) {
    const MergeVideoType& t = merge.OutputType();
    int rowBytes = (t.frameFormat == 2 ? 2 : 3) * t.width / 2, h = t.height;
    bool flip = t.frameFormat == 1;
    auto data = std::make_shared<std::vector<uint8_t>>(rowBytes * h);
    for (int r = 0; r < h; ++r)
      for (int k = 0; k < rowBytes; ++k)
        (*data)[(flip ? h - 1 - r : r) * rowBytes + k] = fill(r, k);
    const uint8_t* row0 = data->data() + (flip ? (h - 1) * rowBytes : 0);
    return merge.Receive(input, {start, row0, flip ? -rowBytes : rowBytes, data});
  }
  uint32_t Feed(int input, int64_t start, uint8_t value) {
    return Feed(input, start, [value](int, int) { return value; });
  }
};

TEST(StereoMerge, HorizontalParallaxCropsOneViewAndPlacesBothHalfTheShiftIn) {
  // 640 pixels of RGB: -15 crops 45 bytes off the left view, +15 off the
  // right; both land 21 bytes (7 pixels) into their halves, black around.
  for (int shift : {-15, 15}) {
    MergeRig rig(1, 640, 1);
    rig.px = shift;
    auto left = [](int, int k) { return uint8_t(k % 250 + 1); };
    auto right = [](int, int k) { return uint8_t(k % 240 + 3); };
    rig.Feed(0, 0, left);
    rig.Feed(1, 0, right);
    ASSERT_EQ(rig.frames.size(), 1u);
    const uint8_t* row = rig.frames[0].Row(0);
    int leftCrop = shift < 0 ? 45 : 0, rightCrop = shift < 0 ? 0 : 45;
    for (int k = 0; k < 3840; ++k) {
      int half = k / 1920, x = k % 1920;
      uint8_t want = 0;
      if (x >= 21 && x < 21 + 1875)
        want = half ? right(0, x - 21 + rightCrop) : left(0, x - 21 + leftCrop);
      ASSERT_EQ(row[k], want) << "shift " << shift << " byte " << k;
    }
  }
}

TEST(StereoMerge, Yuy2ShiftRoundsToWholePixelPairsWithBlackMargins) {
  // A shift of 3 pixels: crop 6 bytes rounded to 4, placement 2 rounded to 0.
  MergeRig rig(2, 8, 1);
  rig.px = 3;
  rig.Feed(0, 0, [](int, int k) { return uint8_t(200 + k); });
  rig.Feed(1, 0, [](int, int k) { return uint8_t(100 + k); });
  ASSERT_EQ(rig.frames.size(), 1u);
  const uint8_t* row = rig.frames[0].Row(0);
  EXPECT_EQ(rig.frames[0].stride, 32);
  for (int k = 0; k < 12; ++k) EXPECT_EQ(row[k], 200 + k);
  for (int k = 0; k < 12; ++k) EXPECT_EQ(row[16 + k], 104 + k);
  for (int k : {12, 28}) {
    EXPECT_EQ(std::vector<int>(row + k, row + k + 4),
              (std::vector<int>{16, 128, 16, 128}));
  }
}

TEST(StereoMerge, VerticalParallaxShiftsRowsAndBlacksTheRest) {
  // Y = -3 on 8 rows: 5 rows copied to row 1; the left view from its row 3.
  // Y = +3: the right view from its row 3.
  for (int shift : {-3, 3}) {
    MergeRig rig(1, 4, 8);
    rig.py = shift;
    rig.Feed(0, 0, [](int r, int) { return uint8_t(10 + r); });
    rig.Feed(1, 0, [](int r, int) { return uint8_t(20 + r); });
    ASSERT_EQ(rig.frames.size(), 1u);
    const Delivered& f = rig.frames[0];
    for (int r = 0; r < 8; ++r) {
      bool copied = r >= 1 && r < 6;
      int leftRow = r - 1 + (shift < 0 ? 3 : 0);
      int rightRow = r - 1 + (shift > 0 ? 3 : 0);
      EXPECT_EQ(f.Row(r)[0], copied ? 10 + leftRow : 0) << shift << " row " << r;
      EXPECT_EQ(f.Row(r)[12], copied ? 20 + rightRow : 0) << shift << " row " << r;
    }
  }
}

TEST(StereoMerge, OwnClockStampsIntervalApartAndTwiceThatOutOfStep) {
  // 30 fps left against 25 fps right, fed in time order, content = index.
  MergeRig rig;
  std::vector<std::pair<int64_t, int>> events;  // start, input
  for (int k = 0; k < 6; ++k) events.push_back({k * 333333, 0});
  for (int k = 0; k < 5; ++k) events.push_back({k * 400000, 1});
  std::stable_sort(events.begin(), events.end());
  int index[2] = {0, 0};
  for (auto [start, input] : events) rig.Feed(input, start, uint8_t(index[input]++));
  // In step at 0 (advance 30 ms), then out of step (advance 60 ms).
  std::vector<std::pair<int64_t, int64_t>> stamps;
  for (const Delivered& f : rig.frames) stamps.push_back({f.start, f.stop});
  EXPECT_EQ(stamps, (std::vector<std::pair<int64_t, int64_t>>{
                        {0, 0}, {0, 30 * kMs}, {30 * kMs, 90 * kMs},
                        {90 * kMs, 150 * kMs}}));
  // The third frame (from 90 ms) skipped the late left sample 2 (66.7 ms).
  ASSERT_GE(rig.frames.size(), 3u);
  EXPECT_EQ(rig.frames[2].Row(0)[0], 3);
  EXPECT_EQ(rig.frames[2].Row(0)[12], 3);

  // A zero interval still moves the clock instead of looping for ever.
  MergeRig still;
  still.interval = 0;
  still.Feed(0, 0, 1);
  still.Feed(1, 0, 1);
  EXPECT_EQ(still.frames.size(), 1u);
}

TEST(StereoMerge, AGapInTheTimeStampsIsOneFrameLongNotOneFramePerInterval) {
  // Ten frames 30 ms apart, then a jump of an hour: the frame after the
  // gap stands for it once, the stamps stay continuous and the frames go
  // on at the interval.
  MergeRig rig;
  constexpr int64_t kHour = int64_t{3600} * 1000 * kMs;
  std::vector<int64_t> starts;
  for (int k = 0; k < 10; ++k) starts.push_back(k * 30 * kMs);
  for (int k = 0; k < 10; ++k) starts.push_back(kHour + k * 30 * kMs);
  for (size_t k = 0; k < starts.size(); ++k)
    for (int input : {0, 1}) rig.Feed(input, starts[k], uint8_t(k));
  ASSERT_GE(rig.frames.size(), 18u);
  EXPECT_LE(rig.frames.size(), 22u);
  for (size_t k = 1; k < rig.frames.size(); ++k)
    EXPECT_EQ(rig.frames[k].start, rig.frames[k - 1].stop) << k;
  // Exactly one frame is longer than the interval: it spans the gap, ends
  // at the first sample after it and shows that sample.
  auto spans = [](const Delivered& f) { return f.stop - f.start > 30 * kMs; };
  ASSERT_EQ(std::count_if(rig.frames.begin(), rig.frames.end(), spans), 1);
  auto gap = std::find_if(rig.frames.begin(), rig.frames.end(), spans);
  EXPECT_EQ(gap->stop, kHour);
  EXPECT_EQ(gap->Row(0)[0], 10);
  EXPECT_EQ(gap->Row(0)[12], 10);

  // A slow movie (a picture every 900 ms) keeps its frame repeated at each
  // interval, in time.
  MergeRig slow;
  for (int k = 0; k < 3; ++k)
    for (int input : {0, 1}) slow.Feed(input, k * 900 * kMs, uint8_t(k));
  ASSERT_GE(slow.frames.size(), 60u);
  for (const Delivered& f : slow.frames) EXPECT_LE(f.stop - f.start, 30 * kMs);
}

TEST(StereoMerge, LeftEndingFirstRepeatsFramesUntilBothEnd) {
  MergeRig rig;
  rig.Feed(0, 0, 7);
  rig.Feed(1, 0, 8);
  rig.merge.EndOfStream(0);
  rig.Feed(1, 30 * kMs, 9);
  rig.Feed(1, 60 * kMs, 9);
  ASSERT_EQ(rig.frames.size(), 3u);
  EXPECT_EQ(rig.frames[2].stop, 60 * kMs);
  EXPECT_EQ(rig.frames[2].Row(0)[0], 7);   // no new content
  EXPECT_EQ(rig.frames[2].Row(0)[12], 8);
  EXPECT_FALSE(rig.merge.Ended());
  rig.merge.EndOfStream(1);
  EXPECT_TRUE(rig.merge.Ended());
  EXPECT_EQ(rig.ends, 1);
  EXPECT_EQ(rig.Feed(1, 90 * kMs, 1), StereoMerge::kRefused);
}

TEST(StereoMerge, RightEndingFirstMakesNoFramesYetLetsTheLeftRunToItsEnd) {
  MergeRig rig;
  rig.merge.maxQueued = 2;
  rig.merge.EndOfStream(1);
  for (int k = 0; k < 20; ++k) EXPECT_EQ(rig.Feed(0, k * 30 * kMs, 1), 0u);
  EXPECT_TRUE(rig.frames.empty());
  EXPECT_EQ(rig.ends, 0);
  // A sample beyond the stop time ends its input like an end of stream.
  EXPECT_EQ(rig.Feed(0, StereoMerge::kStopTime + 1, 1), StereoMerge::kRefused);
  EXPECT_EQ(rig.ends, 1);
}

TEST(StereoMerge, RefusesSamplesAndTypesItCannotMerge) {
  MergeRig rig;
  MergeVideoType rgb{true, 1, 24, 4, 2}, yuy2{true, 2, 16, 4, 2};
  StereoMerge fresh({}, {});
  uint8_t pixels[24] = {};
  MergeSample any{0, pixels, 12, nullptr};
  EXPECT_EQ(fresh.Receive(0, any), StereoMerge::kRefused);  // no types yet
  EXPECT_EQ(fresh.SetInputType(0, {false, 1, 24, 4, 2}), StereoMerge::kTypeNotAccepted);
  EXPECT_EQ(fresh.SetInputType(0, {true, 3, 32, 4, 2}), StereoMerge::kFail);
  EXPECT_EQ(fresh.SetInputType(0, {true, 1, 16, 4, 2}), StereoMerge::kFail);
  EXPECT_EQ(fresh.SetInputType(0, rgb), 0u);
  EXPECT_EQ(fresh.SetInputType(1, {true, 1, 24, 6, 2}), StereoMerge::kFail);
  EXPECT_EQ(fresh.SetInputType(1, yuy2), StereoMerge::kFail);
  EXPECT_EQ(fresh.SetInputType(1, rgb), 0u);
  EXPECT_EQ(fresh.OutputType().width, 8);
  EXPECT_EQ(fresh.OutputType().frameFormat, 1);

  rig.rgbOnly = true;
  EXPECT_EQ(rig.merge.SetInputType(0, yuy2), StereoMerge::kFail);
  rig.rgbOnly = false;
  EXPECT_EQ(rig.merge.SetInputType(0, yuy2), 0u);  // input 1 must follow
  EXPECT_EQ(rig.merge.OutputType().frameFormat, 2);
  EXPECT_EQ(rig.Feed(0, 0, 1), StereoMerge::kRefused);
  EXPECT_EQ(rig.merge.SetInputType(1, yuy2), 0u);

  rig.merge.Deactivate();
  EXPECT_EQ(rig.Feed(0, 0, 1), StereoMerge::kWrongState);
  rig.merge.Activate(0);
  rig.merge.BeginFlush();
  EXPECT_EQ(rig.Feed(0, 0, 1), StereoMerge::kRefused);
  rig.merge.EndFlush();
  EXPECT_EQ(rig.Feed(0, 0, 1), 0u);
}

TEST(StereoMerge, FlushRestartsTheClockSoABackwardSeekStillShows) {
  MergeRig rig;
  for (int k = 0; k < 10; ++k) {
    rig.Feed(0, k * 30 * kMs, 1);
    rig.Feed(1, k * 30 * kMs, 1);
  }
  size_t before = rig.frames.size();
  rig.merge.BeginFlush();
  rig.merge.EndFlush();
  rig.Feed(0, 60 * kMs, 2);
  rig.Feed(1, 60 * kMs, 2);
  ASSERT_EQ(rig.frames.size(), before + 1);
  EXPECT_EQ(rig.frames.back().stop, 60 * kMs);
  EXPECT_EQ(rig.frames.back().Row(0)[0], 2);
}

TEST(StereoMerge, TwoStreamingThreadsGetEveryPairOnceAndInOrder) {
  std::atomic<int> count{0}, bad{0};
  int64_t lastStop = -1;
  StereoMerge merge(
      {[] { return 30; }, [] { return false; }, [] { return 0; }, [] { return 0; }},
      [&](const MergeFrame& f) {
        // Only one delivery at a time: plain reads and writes stay race-free.
        if (f.stop <= lastStop && count > 0) ++bad;
        if (f.rows[0] != uint8_t(count) || f.rows[12] != uint8_t(count)) ++bad;
        lastStop = f.stop;
        ++count;
        return true;
      });
  MergeVideoType type{true, 1, 24, 4, 2};
  merge.SetInputType(0, type);
  merge.SetInputType(1, type);
  merge.maxQueued = 2;
  std::atomic<int> ends{0};
  merge.onEndOfStream = [&] { ++ends; };
  merge.Activate(0);
  constexpr int kFrames = 400;
  auto feed = [&](int input) {
    for (int k = 0; k < kFrames; ++k) {
      auto data = std::make_shared<std::vector<uint8_t>>(24, uint8_t(k));
      if (merge.Receive(input, {k * 30 * kMs, data->data(), 12, data}) != 0) ++bad;
    }
    merge.EndOfStream(input);
  };
  std::thread left(feed, 0), right(feed, 1);
  left.join();
  right.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(count, kFrames);
  EXPECT_EQ(ends, 1);
}

TEST(StereoMerge, DeactivatingReleasesAnInputWaitingForTheOther) {
  MergeRig rig;
  rig.merge.maxQueued = 2;
  std::atomic<uint32_t> last{0};
  std::thread left([&] {
    for (int k = 0; k < 5; ++k) last = rig.Feed(0, k * 30 * kMs, 1);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  rig.merge.Deactivate();
  left.join();
  EXPECT_EQ(last, StereoMerge::kWrongState);
}

}  // namespace

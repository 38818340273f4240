#include "stereo/row_bands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "stereo/framebuffer.h"

namespace {

constexpr int64_t kLarge = int64_t{1} << 24;

// Each row once, from however many threads; two callers at once each get
// all of their rows (one of them runs alone while the other holds the
// helper).
TEST(ForRowBands, EveryRowRunsOnceAlsoWithTwoCallersAtOnce) {
  auto run = [](int rows, int64_t bytes) {
    std::vector<std::atomic<int>> visits(rows);
    std::atomic<int> bands{0};
    ForRowBands(rows, bytes, [&](int first, int last) {
      ++bands;
      for (int y = first; y < last; ++y) ++visits[y];
    });
    for (int y = 0; y < rows; ++y)
      if (visits[y] != 1) return -1;
    return bands.load();
  };
  EXPECT_EQ(run(1, kLarge), 1);
  EXPECT_EQ(run(1000, 1000), 1);  // small: not worth a second thread
  if (std::thread::hardware_concurrency() > 1) {
    EXPECT_EQ(run(1001, kLarge), 2);
  }
  std::vector<int> results(4, 0);
  std::vector<std::thread> callers;
  for (int k = 0; k < 4; ++k)
    callers.emplace_back([&, k] {
      for (int i = 0; i < 50 && results[k] >= 0; ++i) results[k] = run(777, kLarge);
    });
  for (std::thread& t : callers) t.join();
  for (int result : results) EXPECT_GT(result, 0);
}

// A 4x enlargement drawn in bands: a band starts on a row of its own, never
// copying the row above from the other band.
TEST(ForRowBands, EnlargedDrawingShowsEachSourceRowOnItsOwnRows) {
  constexpr int kWidth = 1000, kRows = 300;
  Picture p = CreatePicture(kWidth, kRows, 24);
  for (int y = 0; y < kRows; ++y)  // stored bottom-up: top row y is kRows-1-y
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* px = PictureRow(p.get(), kRows - 1 - y) + 3 * x;
      px[0] = uint8_t(y), px[1] = uint8_t(y >> 8), px[2] = uint8_t(x);
    }
  Framebuffer fb;
  fb.Resize(kWidth, 4 * kRows);
  StretchDraw(fb, 0, 0, kWidth, 4 * kRows, ViewOf(p), StretchMode::Nearest);
  for (int y = 0; y < 4 * kRows; ++y)
    for (int x : {0, 499, kWidth - 1})
      ASSERT_EQ(fb.At(x, y), Rgb(uint8_t(x), uint8_t((y / 4) >> 8), uint8_t(y / 4)))
          << x << "," << y;
}

}  // namespace

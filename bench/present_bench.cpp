// Compose and present one 1920 x 1080 pair in every format of the catalogue,
// into a full-HD and a 4K client: the work of one repaint or one movie frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "core/viewer_state.h"
#include "stereo/anaglyph.h"
#include "stereo/present.h"

namespace {

constexpr int kViewWidth = 1920;
constexpr int kViewHeight = 1080;

// Busy content (gradients with a scrambled low part) so that no format can
// profit from runs of equal pixels.
Picture MakeView(uint32_t seed) {
  Picture p = CreatePicture(kViewWidth, kViewHeight, 24);
  uint32_t noise = seed;
  for (int row = 0; row < kViewHeight; ++row) {
    uint8_t* px = PictureRow(p.get(), row);
    for (int x = 0; x < kViewWidth; ++x, px += 3) {
      noise = noise * 1664525u + 1013904223u;
      px[0] = uint8_t(x * 255 / kViewWidth ^ (noise >> 28));
      px[1] = uint8_t(row * 255 / kViewHeight ^ (noise >> 24));
      px[2] = uint8_t((x + row + seed) ^ (noise >> 20));
    }
  }
  return p;
}

const Picture& LeftView() {
  static Picture view = MakeView(1);
  return view;
}
const Picture& RightView() {
  static Picture view = MakeView(2);
  return view;
}

void PresentFormat(benchmark::State& state, int code, int width, int height) {
  Viewer.StereoType = code;
  Viewer.SwapLR = false;
  Viewer.FitToWindow = true;
  Viewer.SmoothingOn = false;
  Viewer.ActualSizeToggle = 0;
  BuildAnaglyphTables();
  SetClientSize(width, height);
  const Picture& left = LeftView();
  const Picture& right = RightView();
  for (auto _ : state) {
    if (PresentStereoPair(left, right) != 0) state.SkipWithError("busy");
    benchmark::DoNotOptimize(Presentation.frame.pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t{kViewWidth} * kViewHeight);
}

// One benchmark per format and client, named after the format.
const bool registered = [] {
  const std::pair<int, int> clients[] = {{1920, 1080}, {3840, 2160}};
  for (const auto& [width, height] : clients)
    for (const StereoFormatEntry& format : StereoFormats()) {
      std::string name = std::string("Present/") + format.name + "/" +
                         std::to_string(width) + "x" + std::to_string(height);
      benchmark::RegisterBenchmark(name.c_str(), PresentFormat, format.code,
                                   width, height)
          ->Unit(benchmark::kMillisecond);
    }
  return true;
}();

}  // namespace

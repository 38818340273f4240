// One transition step per effect between two 1920 x 1080 pairs, into a
// full-HD client in side-by-side format.  A transition draws up to 100
// steps in its one second, so an effect keeps up when steps_per_s stays
// above 100.  "Step" is what a timer tick costs (build and present);
// "Build" the effect alone; "FirstStep" the first step, which also makes
// the canvases (and, for the spherical effect, the balls).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "core/viewer_state.h"
#include "stereo/present.h"
#include "stereo/transition.h"

namespace {

constexpr int kViewWidth = 1920;
constexpr int kViewHeight = 1080;

// Busy content, so that no effect profits from runs of equal pixels.
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

// A fresh transition from one pair to another with the effect setting and
// random numbers given.
void SetUpTransition(int nEFType, int randomA, int randomB) {
  FreeTransitionPictures();
  Viewer.CurrentLeft = MakeView(1), Viewer.CurrentRight = MakeView(2);
  Viewer.LeftPicture = MakeView(3), Viewer.RightPicture = MakeView(4);
  Viewer.StereoType = SideBySide;
  Viewer.SmoothingOn = false;
  Viewer.nEFType = nEFType;
  Viewer.TransitionRandomA = randomA;
  Viewer.TransitionRandomB = randomB;
  SetClientSize(1920, 1080);
}

void Report(benchmark::State& state) {
  state.counters["steps_per_s"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void Step(benchmark::State& state, int nEFType, int randomA, int randomB) {
  SetUpTransition(nEFType, randomA, randomB);
  TransitionStep(1);  // canvases and balls exist from here on
  for (auto _ : state) {
    TransitionStep(50);
    benchmark::DoNotOptimize(Presentation.frame.pixels.data());
    benchmark::ClobberMemory();
  }
  Report(state);
  FreeTransitionPictures();
}

void Build(benchmark::State& state, int nEFType, int randomA, int randomB) {
  SetUpTransition(nEFType, randomA, randomB);
  BuildTransitionFrame(1);
  for (auto _ : state) {
    if (!BuildTransitionFrame(50)) state.SkipWithError("nothing drawn");
    benchmark::DoNotOptimize(Transition.StepLeft.get());
    benchmark::ClobberMemory();
  }
  Report(state);
  FreeTransitionPictures();
}

void FirstStep(benchmark::State& state, int nEFType, int randomA, int randomB) {
  SetUpTransition(nEFType, randomA, randomB);
  for (auto _ : state) {
    FreeTransitionPictures();
    TransitionStep(0);
    benchmark::ClobberMemory();
  }
  FreeTransitionPictures();
}

struct EffectCase {
  const char* name;
  int nEFType, randomA, randomB;
};

const bool registered = [] {
  const EffectCase effects[] = {
      {"Slide", 2, 0, 1},            // moves left
      {"SlideDiagonal", 2, 2, 2},    // up and right: clipped both ways
      {"PerspectiveColumns", 3, 1, 0},
      {"PerspectiveRows", 3, 1, 2},
      {"Transparent", 4, 0, 0},
      {"Spherical", 5, 0, 0},
      {"Roll", 6, 0, 0},
  };
  for (const EffectCase& e : effects) {
    std::string name = e.name;
    benchmark::RegisterBenchmark(("Step/" + name).c_str(), Step, e.nEFType,
                                 e.randomA, e.randomB)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Build/" + name).c_str(), Build, e.nEFType,
                                 e.randomA, e.randomB)
        ->Unit(benchmark::kMillisecond);
  }
  for (const EffectCase& e : {effects[0], effects[5]})
    benchmark::RegisterBenchmark((std::string("FirstStep/") + e.name).c_str(),
                                 FirstStep, e.nEFType, e.randomA, e.randomB)
        ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace

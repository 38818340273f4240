// The movie display frame is built for every presented frame, and the pair
// fitting scales every still: both must stay far below a frame period.
#include <benchmark/benchmark.h>

#include <vector>

#include "image/comment.h"
#include "core/viewer_state.h"
#include "stereo/anaglyph.h"
#include "stereo/movie_frame.h"
#include "stereo/present.h"
#include "stereo/scale.h"

namespace {

constexpr int kFrameWidth = 3840;
constexpr int kFrameHeight = 1080;

std::vector<uint8_t> FrameBytes(int stride, int height) {
  std::vector<uint8_t> bytes(static_cast<size_t>(stride) * height);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
  return bytes;
}

// Grabs a busy 3840 x 1080 frame of `format` and times `step` on it; a
// 4:2:0 frame comes as I420 planes, as libav decodes H.264.
template <typename Step>
void TimeFrames(benchmark::State& state, int format, Step step) {
  int stride = format == FrameYuy2     ? 2 * kFrameWidth
               : format == FrameYuv420 ? kFrameWidth
                                       : 3 * kFrameWidth;
  int chromaStride = kFrameWidth / 2, chromaRows = kFrameHeight / 2;
  std::vector<uint8_t> bytes = FrameBytes(stride, kFrameHeight);
  std::vector<uint8_t> chroma = FrameBytes(chromaStride, 2 * chromaRows);
  ClearCurrentComment();
  ResetMovieFrameState();
  GrabbedFrame frame{kFrameWidth, kFrameHeight, format, bytes.data(), stride, {}};
  if (format == FrameYuv420) {
    frame.u = chroma.data();
    frame.v = chroma.data() + static_cast<size_t>(chromaStride) * chromaRows;
    frame.chromaStride = chromaStride;
  }
  SetGrabbedFrame(frame);
  for (auto _ : state) {
    step();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrameWidth * kFrameHeight);
  SetGrabbedFrame({});
  ResetMovieFrameState();
}

void BuildFrame(benchmark::State& state, int format) {
  Viewer = ViewerState();
  Viewer.FloatOffset = static_cast<int>(state.range(0));
  TimeFrames(state, format, [] {
    bool built = BuildFramePicture();
    benchmark::DoNotOptimize(built);
  });
}

void BM_BuildFrameRgb24(benchmark::State& state) { BuildFrame(state, FrameRgb24); }
void BM_BuildFrameYuy2(benchmark::State& state) { BuildFrame(state, FrameYuy2); }
BENCHMARK(BM_BuildFrameRgb24)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildFrameYuy2)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond);

// One row in cache: the conversion's own cost, without memory traffic.
void BM_ConvertYuy2Row(benchmark::State& state) {
  std::vector<uint8_t> row = FrameBytes(2 * kFrameWidth, 1);
  std::vector<uint8_t> out(3 * kFrameWidth);
  for (auto _ : state) {
    ConvertYuy2Row(row.data(), 0, kFrameWidth, out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrameWidth);
}
BENCHMARK(BM_ConvertYuy2Row);

// A whole movie frame's presentation: the display frame built from the
// grabbed frame, then Dubois into a 1920 x 1080 client (a 3840 x 1080
// side-by-side movie shown unscaled), as for every frame played.
void PresentFrame(benchmark::State& state, int format) {
  Viewer = ViewerState();
  Viewer.StereoType = DuboisAnaglyph;
  Viewer.MovieOpen = true;
  BuildAnaglyphTables();
  SetClientSize(1920, 1080);
  TimeFrames(state, format, [&state] {
    if (PresentMovieFrame() != 0) state.SkipWithError("busy");
    benchmark::DoNotOptimize(Presentation.frame.pixels.data());
  });
}

void BM_PresentFrameRgb24(benchmark::State& state) { PresentFrame(state, FrameRgb24); }
void BM_PresentFrameYuy2(benchmark::State& state) { PresentFrame(state, FrameYuy2); }
void BM_PresentFrameI420(benchmark::State& state) { PresentFrame(state, FrameYuv420); }
BENCHMARK(BM_PresentFrameRgb24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PresentFrameYuy2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PresentFrameI420)->Unit(benchmark::kMillisecond);

Picture Source(int w, int h) {
  Picture p = CreatePicture(w, h, 24);
  std::vector<uint8_t> row = FrameBytes(3 * w, 1);
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = PictureRow(p.get(), y);
    for (int i = 0; i < 3 * w; ++i) dst[i] = static_cast<uint8_t>(row[i] + y);
  }
  return p;
}

void Scale(benchmark::State& state, int w, int h) {
  Picture source = Source(w, h);
  for (auto _ : state) {
    Picture out = ScaleToFit(source, 1920, 1080);
    benchmark::DoNotOptimize(out.get());
  }
}

void BM_ScaleToFitReduce4000x3000(benchmark::State& state) { Scale(state, 4000, 3000); }
void BM_ScaleToFitEnlarge960x540(benchmark::State& state) { Scale(state, 960, 540); }
BENCHMARK(BM_ScaleToFitReduce4000x3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleToFitEnlarge960x540)->Unit(benchmark::kMillisecond);

}  // namespace

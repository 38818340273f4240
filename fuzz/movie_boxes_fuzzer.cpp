// The MP4 box walker on arbitrary bytes: the video track's sample entry,
// its spherical boxes and its second-layer eye boxes.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "movie/movie_boxes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MovieBoxes boxes;
  bool iso = ReadMovieBoxes(std::span<const uint8_t>(data, size), boxes);
  if (iso != boxes.isoFile) __builtin_trap();
  if (boxes.IsMvHevc() && boxes.sampleEntry != "hvc1" && boxes.sampleEntry != "hev1")
    __builtin_trap();
  // Bounds that cross are refused, so the sphere shown is never empty.
  double h = boxes.HorizontalFovDeg(), v = boxes.VerticalFovDeg();
  bool equi = boxes.projection == MovieProjection::Equirectangular;
  if (equi && (!(h > 0 && h <= 360) || !(v > 0 && v <= 180))) __builtin_trap();
  if (!equi && (h != 0 || v != 0)) __builtin_trap();
  fuzzSink = static_cast<uint8_t>(boxes.sampleEntry.size() + boxes.problem.size());
  return 0;
}

#include <cstddef>
#include <cstdint>
#include <span>

#include "movie/avi_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AviStreamInfo info = CountVideoStreams(std::span<const uint8_t>(data, size), 7, -7);
  if (info.result != (info.videoStreams > 1 ? 1 : 0)) __builtin_trap();
  if (!info.makerNote && (info.parallaxX != 7 || info.parallaxY != -7))
    __builtin_trap();
  return 0;
}

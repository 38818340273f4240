#include "stereo/movie_frame.h"

#include <cstring>

#include "image/file_data.h"

namespace {

GrabbedFrame grabbed;
Picture framePicture;

}  // namespace

void SetGrabbedFrame(const GrabbedFrame& frame) { grabbed = frame; }
const GrabbedFrame& CurrentGrabbedFrame() { return grabbed; }
const Picture& FramePicture() { return framePicture; }
void ResetMovieFrameState() { framePicture.reset(); }

// Plain RGB24 copy without shift or band; the full frame build replaces it.
bool BuildFramePicture() {
  if (!grabbed.pixels || grabbed.format != FrameRgb24) return false;
  framePicture = CreatePicture(grabbed.width, grabbed.height, 24);
  if (!framePicture) return false;
  for (int y = 0; y < grabbed.height; ++y)
    std::memcpy(PictureRow(framePicture.get(), y),
                grabbed.pixels + static_cast<size_t>(grabbed.stride) * y,
                3 * static_cast<size_t>(grabbed.width));
  return true;
}

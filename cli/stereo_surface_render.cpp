#include "cli/stereo_surface_render.h"

#include <cstdio>

#include "cli/png_write.h"
#include "core/viewer_state.h"
#include "stereo/present.h"
#include "stereo/vision3d_surface.h"

int RenderStereoSurface(int eyeWidth, int eyeHeight, const std::string& file,
                        const std::string& out) {
  Vision3d.EyeWidth = eyeWidth;
  Vision3d.EyeHeight = eyeHeight;
  Vision3d.SurfaceNeeded = true;
  Vision3d.driver = nullptr;  // the surface is the result; nothing to flip
  Vision3d.StereoWindowActive = true;
  int presented = PresentStereoPair(Viewer.CurrentLeft, Viewer.CurrentRight);
  Vision3d.StereoWindowActive = false;
  if (presented != 0) {
    std::fprintf(stderr, "duoramic-cli: %s: nothing to present\n", file.c_str());
    return 1;
  }
  std::string error;
  if (WriteFramebufferPng(Vision3d.StereoSurface, out, error, true)) return 0;
  std::fprintf(stderr, "duoramic-cli: %s: %s\n", out.c_str(), error.c_str());
  return 1;
}

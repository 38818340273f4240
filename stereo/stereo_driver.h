// What page-flipped stereo needs from the graphics driver: a check that the
// display really can show one picture per eye, one picture for each eye's
// back buffer, and the swap that shows both.  The real driver is quad-
// buffered OpenGL (platform/); tests use a fake that records what each eye
// received.
#pragma once

#include <cstddef>
#include <cstdint>

enum class StereoEye { Left, Right };

enum class StereoStatus {
  Unavailable,  // no stereo visual or context: the output cannot run
  Disabled,     // stereo exists but is switched off; Enable() turns it on
  Enabled,
  NoDevice,     // the drawing context itself could not be made
};

// One eye's picture: rows top-down, pixels 0xAARRGGBB (bytes B, G, R, A).
struct EyeImage {
  const uint32_t* pixels = nullptr;
  size_t stride = 0;  // in pixels
  int width = 0;
  int height = 0;
};

class StereoDriver {
 public:
  virtual ~StereoDriver() = default;
  // Asks for a stereo context of eyeWidth x eyeHeight per eye and reports
  // what was granted.
  virtual StereoStatus Start(int eyeWidth, int eyeHeight) = 0;
  virtual void Enable() {}
  // Fills one eye's back buffer.  May be called from a movie's streaming
  // thread; the picture is only valid during the call.
  virtual void DrawEye(StereoEye eye, const EyeImage& image) = 0;
  // Shows both back buffers, paced by the display's refresh.
  virtual void Swap() = 0;
  // Releases the context; false when something could not be released.
  virtual bool Stop() { return true; }
};

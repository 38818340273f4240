// The shutter-glasses output's drawing: both eyes side by side in one stereo
// surface twice the eye width, with the stereo image signature in an extra
// bottom row, handed to the stereo driver one eye at a time.
#pragma once

#include <atomic>
#include <cstdint>

#include "stereo/framebuffer.h"
#include "stereo/present.h"
#include "stereo/stereo_driver.h"

// The signature row's first five 32-bit little-endian fields.
constexpr uint32_t kStereoSignature = 0x4433564E;  // "NV3D"
constexpr uint32_t kStereoSignatureBits = 32;
constexpr uint32_t kStereoSignatureFlags = 2;      // scale to fit

struct Vision3dState {
  // Set once the output has shown its first item, cleared when it ends;
  // the presentation dispatch reads it from any thread.
  std::atomic<bool> StereoWindowActive{false};
  int EyeWidth = 0;   // one eye's picture: the full-screen display size
  int EyeHeight = 0;
  // 2 x EyeWidth by EyeHeight + 1 pixels of 0xAARRGGBB (bytes B, G, R, A),
  // top-down; the last row carries the signature.  Empty until made.
  Framebuffer StereoSurface;
  // Set before the window shows; the next drawing makes the surface.
  bool SurfaceNeeded = false;
  StereoDriver* driver = nullptr;
};

extern Vision3dState Vision3d;

// Makes a fresh surface for the current eye size: black, with the last row
// 0xFF bytes and the signature at its start.  False for an empty eye size.
bool CreateStereoSurface();
void ReleaseStereoSurface();

// Writes the signature into the last row of a surface 2 x eyeWidth wide.
void WriteStereoSignature(Framebuffer& surface, int eyeWidth, int eyeHeight);

// The renderer of format 22 while the output's window is active: draws a
// still pair or a movie frame into the surface, the help overlay over it,
// and shows it through the driver.  Returns 1 (drawn or not).
int PresentStereoFrame(const RenderInput& in);

// Hands the surface's left half to the left eye and its right half to the
// right eye, then swaps: one picture per eye per frame.
void ShowStereoSurface(StereoDriver& driver, const Framebuffer& surface,
                       int eyeWidth, int eyeHeight);

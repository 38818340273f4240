// The two-panel stereo monitor output: a colour image for the front panel
// and a grey balance image that splits each pixel's light between the eyes,
// side by side in one picture, the colour half drawn into the left half of
// the client and the balance half into the right half.
#pragma once

#include <cstdint>
#include <span>

#include "core/picture.h"
#include "stereo/framebuffer.h"
#include "stereo/present.h"

// The look-up table T[row][column][channel]: 256 rows (255 - the second
// view's value), 512 columns (the first view's value for the colour panel,
// 256 + it for the balance), channels blue, green, red.
constexpr int kIz3dRows = 256;
constexpr int kIz3dColumns = 512;
constexpr int kIz3dTableBytes = kIz3dRows * kIz3dColumns * 3;  // 393,216

inline int Iz3dOffset(int row, int column, int channel) {
  return row * kIz3dColumns * 3 + column * 3 + channel;
}

// The tables, made once on first use and kept for the life of the process
// (safe to reach first from any thread).
std::span<const uint8_t> Iz3dRaw();
// One 16-bit linear-light entry per table byte: (v / 255)^2.2 x 32640,
// rounded.
std::span<const uint16_t> Iz3dLinear();
// 32,641 entries back to 8 bits: (k / 32640)^(1 / 2.2) x 255, rounded.
std::span<const uint8_t> Iz3dGamma();

// The colour (first) and balance (second) values of one channel for the
// first view's value f and the second's s.
uint8_t Iz3dColour(int f, int s, int channel);
uint8_t Iz3dBalance(int f, int s, int channel);

// A 24-bit picture twice the views' width: the colour half at the left, the
// grey balance half at the right.  Null when memory runs out.
Picture ComposeIz3d(const PictureView& first, const PictureView& second);

// The renderer of format 23, for still pairs and movie frames.
void RenderIz3d(RenderContext& ctx, const RenderInput& in);

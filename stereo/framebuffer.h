// The software device context: a framebuffer of the window's client area in
// device pixels that every renderer draws into, and the drawing calls the
// renderers need (fill, stretch with nearest-neighbour or smooth sampling,
// mirrored by negative sizes).  The window copies it 1:1 to the screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/picture.h"

// Pixels are 0xFFRRGGBB, rows top-down (the layout of QImage::Format_RGB32).
struct Framebuffer {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  void Resize(int w, int h);
  uint32_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * width; }
  const uint32_t* Row(int y) const {
    return pixels.data() + static_cast<size_t>(y) * width;
  }
  uint32_t At(int x, int y) const { return Row(y)[x]; }
};

constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;
inline uint32_t Rgb(int r, int g, int b) {
  return 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}
inline int RedOf(uint32_t c) { return (c >> 16) & 0xFF; }
inline int GreenOf(uint32_t c) { return (c >> 8) & 0xFF; }
inline int BlueOf(uint32_t c) { return c & 0xFF; }

// A 24-bit bottom-up pixel area seen as a picture: a whole Picture, or one
// half of a movie frame.  `base` is stored row 0 (the bottom line).
struct PictureView {
  const uint8_t* base = nullptr;
  size_t stride = 0;
  int width = 0;
  int height = 0;

  const uint8_t* StoredRow(int row) const { return base + stride * row; }
  // Row `y` counted from the top.
  const uint8_t* TopRow(int y) const { return StoredRow(height - 1 - y); }
  explicit operator bool() const { return base != nullptr; }
};

PictureView ViewOf(const uint8_t* block);
inline PictureView ViewOf(const Picture& p) { return ViewOf(p.get()); }
// Columns [firstColumn, firstColumn + width) of a view.
PictureView ColumnsOf(const PictureView& view, int firstColumn, int width);

enum class StretchMode {
  Nearest,   // what unsmoothed drawing does (colour on colour)
  Halftone,  // smooth: area average when reducing, bilinear when enlarging
};

// Fills [left, right) x [top, bottom), clipped to the framebuffer.
void FillRect(Framebuffer& fb, int left, int top, int right, int bottom,
              uint32_t colour);

// Draws the source rectangle (columns srcX.., rows srcY.. counted from the
// top) into the destination rectangle.  A negative dstWidth draws leftwards
// from dstX (mirrored), a negative dstHeight upwards from dstY (flipped).
// Clipped to the framebuffer.
void StretchDraw(Framebuffer& fb, int dstX, int dstY, int dstWidth,
                 int dstHeight, const PictureView& src, int srcX, int srcY,
                 int srcWidth, int srcHeight, StretchMode mode);

// The whole view at (x, y) scaled to width x height.
inline void StretchDraw(Framebuffer& fb, int x, int y, int width, int height,
                        const PictureView& src, StretchMode mode) {
  StretchDraw(fb, x, y, width, height, src, 0, 0, src.width, src.height, mode);
}

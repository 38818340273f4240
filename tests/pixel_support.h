// Small pictures and framebuffer reads for the renderer tests.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>

#include "core/picture.h"
#include "stereo/present.h"

struct Rgb3 {
  int r, g, b;
  bool operator==(const Rgb3&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Rgb3& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// A picture whose pixel at (x, stored row) is colour(x, stored row); stored
// row 0 is the bottom line.
inline Picture PaintStoredRows(int w, int h,
                               const std::function<Rgb3(int, int)>& colour) {
  Picture p = CreatePicture(w, h, 24);
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) {
      Rgb3 c = colour(x, row);
      uint8_t* px = PictureRow(p.get(), row) + 3 * x;
      px[0] = uint8_t(c.b), px[1] = uint8_t(c.g), px[2] = uint8_t(c.r);
    }
  return p;
}

// A picture whose pixel at (x, y from the top) is colour(x, y).
inline Picture Paint(int w, int h, const std::function<Rgb3(int, int)>& colour) {
  return PaintStoredRows(w, h, [&](int x, int row) { return colour(x, h - 1 - row); });
}

inline Picture Solid(int w, int h, Rgb3 c) {
  return PaintStoredRows(w, h, [c](int, int) { return c; });
}

// The presented client pixel at (x, y from the top).
inline Rgb3 Pixel(int x, int y) {
  uint32_t v = Presentation.frame.At(x, y);
  return {RedOf(v), GreenOf(v), BlueOf(v)};
}

// A clock that always tells the same time, for presentations that look at it
// (the panorama scroll, timed effects).
class FixedClock : public PresentationHost {
 public:
  explicit FixedClock(uint32_t ms) : ms_(ms) {}
  uint32_t NowMs() override { return ms_; }

 private:
  uint32_t ms_;
};

// A movie frame whose left and right halves are the views.
inline RenderInput MovieHalves(const Picture& frame) {
  RenderInput in;
  in.movie = true;
  in.frame = ViewOf(frame);
  int half = in.frame.width / 2;
  in.left = ColumnsOf(in.frame, 0, half);
  in.right = ColumnsOf(in.frame, half, half);
  return in;
}

#include "stereo/movie_layout.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// Source row t counted from the top: RGB24 rows come bottom-up.
const uint8_t* InRow(const GrabbedFrame& f, int t) {
  int row = f.format == FrameRgb24 ? f.height - 1 - t : t;
  return f.pixels + static_cast<ptrdiff_t>(f.stride) * row;
}

int BytesPerPixel(int format) {
  return format == FrameRgb24 ? 3 : format == FrameYuy2 ? 2 : 1;
}

// One output frame and the copies into it.
class Arranged {
 public:
  Arranged(const GrabbedFrame& in, int width, int height)
      : in_(in), width_(width), height_(height) {}

  bool Allocate() {
    int bpp = BytesPerPixel(in_.format);
    stride_ = static_cast<size_t>(width_) * bpp;
    size_t luma = stride_ * height_;
    size_t chroma = 0;
    if (in_.format == FrameYuv420) {
      chromaRows_ = (height_ + 1) / 2;
      chromaStride_ = static_cast<size_t>(width_ / 2) * in_.chromaStep;
      // I420 keeps U and V apart; NV12's pairs share one plane.
      chroma = chromaStride_ * chromaRows_ * (in_.chromaStep == 1 ? 2 : 1);
    }
    try {
      buffer_ = std::make_shared<std::vector<uint8_t>>(luma + chroma + 1);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // `count` pixels of source row `t` from column `x` to output row `to`
  // at column `at`.  x, at and count are even for YUV, t and to even or
  // both odd for 4:2:0.
  void Copy(int t, int x, int count, int to, int at) {
    int bpp = BytesPerPixel(in_.format);
    std::memcpy(OutRow(to) + static_cast<size_t>(at) * bpp,
                InRow(in_, t) + static_cast<size_t>(x) * bpp,
                static_cast<size_t>(count) * bpp);
    if (in_.format != FrameYuv420 || t % 2 != 0) return;
    const ptrdiff_t from = static_cast<ptrdiff_t>(in_.chromaStride) * (t / 2);
    uint8_t* u = U() + chromaStride_ * (to / 2);
    uint8_t* v = V() + chromaStride_ * (to / 2);
    int step = in_.chromaStep, pairs = count / 2, first = x / 2, dest = at / 2;
    if (step == 1) {
      std::memcpy(u + dest, in_.u + from + first, pairs);
      std::memcpy(v + dest, in_.v + from + first, pairs);
      return;
    }
    for (int p = 0; p < pairs; ++p) {
      u[(dest + p) * step] = in_.u[from + (first + p) * step];
      v[(dest + p) * step] = in_.v[from + (first + p) * step];
    }
  }

  GrabbedFrame Frame() const {
    GrabbedFrame f;
    f.width = width_;
    f.height = height_;
    f.format = in_.format;
    uint8_t* base = buffer_->data();
    if (in_.format == FrameRgb24) {  // bottom-up, as RGB24 frames come
      f.pixels = base + stride_ * (height_ - 1);
      f.stride = -static_cast<int>(stride_);
    } else {
      f.pixels = base;
      f.stride = static_cast<int>(stride_);
    }
    if (in_.format == FrameYuv420) {
      f.u = U();
      f.v = V();
      f.chromaStride = static_cast<int>(chromaStride_);
      f.chromaStep = in_.chromaStep;
    }
    f.owner = buffer_;
    return f;
  }

 private:
  uint8_t* OutRow(int t) const { return buffer_->data() + stride_ * t; }
  uint8_t* Chroma() const { return buffer_->data() + stride_ * height_; }
  // Interleaved pairs keep the source's order (NV12 U first, NV21 V).
  uint8_t* U() const {
    return Chroma() + (in_.chromaStep != 1 && in_.u > in_.v ? 1 : 0);
  }
  uint8_t* V() const {
    if (in_.chromaStep != 1) return Chroma() + (in_.v > in_.u ? 1 : 0);
    return Chroma() + chromaStride_ * chromaRows_;
  }

  const GrabbedFrame& in_;
  int width_, height_;
  size_t stride_ = 0, chromaStride_ = 0;
  int chromaRows_ = 0;
  std::shared_ptr<std::vector<uint8_t>> buffer_;
};

bool Usable(const GrabbedFrame& f) {
  if (!f.pixels || f.width < 2 || f.height < 2 || f.width > (1 << 20)) return false;
  if (f.format == FrameRgb24 || f.format == FrameYuy2) return true;
  return f.format == FrameYuv420 && f.u && f.v &&
         (f.chromaStep == 1 || (f.chromaStep == 2 && (f.v - f.u == 1 || f.u - f.v == 1)));
}

}  // namespace

bool ArrangeSideBySide(const GrabbedFrame& in, FrameArrangement how,
                       GrabbedFrame& out) {
  if (how == FrameArrangement::AsIs || !Usable(in)) return false;
  bool yuv = in.format != FrameRgb24;
  // Whole pixel pairs for YUV; whole chroma rows for 4:2:0.
  int width = yuv ? in.width & ~1 : in.width;
  int rowStep = in.format == FrameYuv420 ? 2 : 1;
  if (how == FrameArrangement::SwapHalves) {
    int half = yuv ? (in.width / 2) & ~1 : in.width / 2;
    if (half < 1) return false;
    Arranged a(in, 2 * half, in.height);
    if (!a.Allocate()) return false;
    for (int t = 0; t < in.height; ++t) {
      a.Copy(t, half, half, t, 0);
      a.Copy(t, 0, half, t, half);
    }
    out = a.Frame();
    return true;
  }
  if (how == FrameArrangement::Mono) {
    Arranged a(in, 2 * width, in.height);
    if (!a.Allocate()) return false;
    for (int t = 0; t < in.height; ++t) {
      a.Copy(t, 0, width, t, 0);
      a.Copy(t, 0, width, t, width);
    }
    out = a.Frame();
    return true;
  }
  int half = in.height / 2 / rowStep * rowStep;
  if (half < 1) return false;
  Arranged a(in, 2 * width, half);
  if (!a.Allocate()) return false;
  bool rightOnTop = how == FrameArrangement::UnderOver;
  for (int t = 0; t < half; ++t) {
    a.Copy(t, 0, width, t, rightOnTop ? width : 0);
    a.Copy(half + t, 0, width, t, rightOnTop ? 0 : width);
  }
  out = a.Frame();
  return true;
}

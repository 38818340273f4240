#include "stereo/movie_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "image/comment.h"
#include "core/viewer_state.h"
#include "stereo/text_overlay.h"

namespace {

GrabbedFrame grabbed;
Picture framePicture;
Picture commentBand;
int appliedFloatShift = 0;
CommentBandMaker bandMaker = RenderCommentBand;

// ---- YUY2 conversion tables ---------------------------------------------
//
// Each table entry packs one term of the BT.601 equations for blue (bits
// 0-9), green (10-19) and red (20-29), every field raised by a bias that
// keeps it non-negative.  Adding the Y, U and V entries adds all three
// channels at once without carries between fields (each total stays below
// 1024); the limiting table of a channel removes the channel's total bias
// and clamps to 0..255.

constexpr int kFieldBits = 10;
constexpr uint32_t kFieldMask = (1u << kFieldBits) - 1;

struct Yuy2Tables {
  uint32_t y[256], u[256], v[256];
  uint8_t limitB[1 << kFieldBits], limitG[1 << kFieldBits],
      limitR[1 << kFieldBits];

  Yuy2Tables() {
    // Studio range: Y 16..235 to 0..255, U and V 16..240 around 128.
    const double ky = 255.0 / 219.0, kc = 255.0 / 224.0;
    const double kr = 0.299, kb = 0.114, kg = 1.0 - kr - kb;
    const double rv = 2 * (1 - kr) * kc, bu = 2 * (1 - kb) * kc;
    const double gu = -2 * kb * (1 - kb) / kg * kc;
    const double gv = -2 * kr * (1 - kr) / kg * kc;
    auto term = [](double k, int v, int centre) {
      return static_cast<int>(std::lround(k * (v - centre)));
    };
    // The biases: minus the smallest value each term takes.
    const int by = -term(ky, 0, 16), bbu = -term(bu, 0, 128),
              bgu = -term(gu, 255, 128), brv = -term(rv, 0, 128),
              bgv = -term(gv, 255, 128);
    auto pack = [](int b, int g, int r) {
      return uint32_t(b) | uint32_t(g) << kFieldBits | uint32_t(r) << 2 * kFieldBits;
    };
    for (int i = 0; i < 256; ++i) {
      int ty = term(ky, i, 16) + by;
      y[i] = pack(ty, ty, ty);
      u[i] = pack(term(bu, i, 128) + bbu, term(gu, i, 128) + bgu, 0);
      v[i] = pack(0, term(gv, i, 128) + bgv, term(rv, i, 128) + brv);
    }
    const int biasB = by + bbu, biasG = by + bgu + bgv, biasR = by + brv;
    for (int i = 0; i < (1 << kFieldBits); ++i) {
      limitB[i] = static_cast<uint8_t>(std::clamp(i - biasB, 0, 255));
      limitG[i] = static_cast<uint8_t>(std::clamp(i - biasG, 0, 255));
      limitR[i] = static_cast<uint8_t>(std::clamp(i - biasR, 0, 255));
    }
  }
};

const Yuy2Tables& Yuy2() {
  static const Yuy2Tables tables;
  return tables;
}

// ---- Frame geometry -------------------------------------------------------

// Bytes a source row must hold: RGB24 3w; YUY2 whole pixel pairs, so an odd
// width needs the chroma of its last, half-filled pair.
size_t SourceRowBytes(const GrabbedFrame& f) {
  if (f.format == FrameYuy2) return 4 * ((static_cast<size_t>(f.width) + 1) / 2);
  return 3 * static_cast<size_t>(f.width);
}

bool Usable(const GrabbedFrame& f) {
  if (!f.pixels || f.width < 1 || f.height < 1) return false;
  if (!PictureSizeAllowed(f.width, f.height)) return false;
  // A negative stride reads top-down rows from the last one up.
  size_t stride = static_cast<size_t>(f.stride < 0 ? -int64_t{f.stride} : f.stride);
  return stride >= SourceRowBytes(f);
}

// The source row that becomes stored (bottom-up) row i: RGB24 rows are
// bottom-up already, YUY2 rows are read from the last to the first.
const uint8_t* SourceRow(const GrabbedFrame& f, int i) {
  int row = f.format == FrameYuy2 ? f.height - 1 - i : i;
  return f.pixels + static_cast<ptrdiff_t>(f.stride) * row;
}

// Copies or converts `count` source pixels from pixel `first` to `out`.
void PutPixels(const GrabbedFrame& f, const uint8_t* row, int first, int count,
               uint8_t* out) {
  if (f.format == FrameYuy2)
    ConvertYuy2Row(row, first, count, out);
  else
    std::memcpy(out, row + 3 * static_cast<size_t>(first),
                3 * static_cast<size_t>(count));
}

// Makes FramePicture width x height unless it already is; a new frame is
// black and asks for fresh margins.
bool EnsureFrame(int width, int height, bool remake) {
  if (!remake && framePicture && PictureWidth(framePicture) == width &&
      PictureHeight(framePicture) == height)
    return true;
  framePicture = CreatePicture(width, height, 24);
  Viewer.BackgroundDirty = true;
  return framePicture != nullptr;
}

// ---- Row de-interleave (width mode 4) -----------------------------------

// Even source rows go to the lower half, odd rows to the upper half.  The
// upper half starts after the even rows, (h + 1) / 2 of them: with an odd
// height h / 2 would put the last even row and the first odd row on the
// same stored row and leave the top row empty.
bool BuildDeinterleaved() {
  const GrabbedFrame& f = grabbed;
  if (!EnsureFrame(f.width, f.height, false)) return false;
  int evenRows = (f.height + 1) / 2;
  for (int i = 0; i < f.height; ++i) {
    int stored = i % 2 == 0 ? i / 2 : evenRows + i / 2;
    PutPixels(f, SourceRow(f, i), 0, f.width, PictureRow(framePicture.get(), stored));
  }
  return true;
}

// ---- Shifted views with the comment band ----------------------------------

bool BandWanted() { return Viewer.CommentOn && !CurrentCommentEmpty(); }

int BandHeightFor(int frameHeight) {
  return static_cast<int>(int64_t{frameHeight} * Viewer.CommentSize / 100);
}

// Renders a new band when one is wanted and there is none, the shift moved
// or the frame's size changed; drops it when comments are off or the
// comment is empty (a band would show stale text).  True when the band
// changed.
bool UpdateCommentBand(int shift, int w, int h) {
  int height = BandHeightFor(h);
  if (!BandWanted() || height < 1) {
    if (!commentBand) return false;
    commentBand.reset();
    return true;
  }
  bool stale = !commentBand || shift != appliedFloatShift ||
               PictureWidth(commentBand) != w ||
               PictureHeight(commentBand) != height;
  if (!stale) return false;
  commentBand = bandMaker(w, height);  // null when it fails: no band this time
  if (commentBand && PictureBits(commentBand) != 24) commentBand.reset();
  return true;
}

// Where the two halves land: the left half at `left`, the right half at
// `right`.  A positive shift moves the left view right and the right view
// left inside their halves of w/2 + |s|; a negative one moves them apart.
struct HalfPlacement {
  int half;
  int left;
  int right;
};

HalfPlacement PlaceHalves(int w, int shift) {
  int margin = std::abs(shift), half = w / 2;
  if (shift <= 0) return {half, 0, half + 2 * margin};
  return {half, margin, half + margin};
}

void PlaceBand(const HalfPlacement& at) {
  if (!commentBand) return;
  int bandWidth = PictureWidth(commentBand);
  int half = std::min(at.half, bandWidth / 2);
  for (int y = 0; y < PictureHeight(commentBand); ++y) {
    const uint8_t* src = PictureRow(commentBand.get(), y);
    uint8_t* dst = PictureRow(framePicture.get(), y);
    std::memcpy(dst + 3 * at.left, src, 3 * static_cast<size_t>(half));
    std::memcpy(dst + 3 * at.right, src + 3 * static_cast<size_t>(half),
                3 * static_cast<size_t>(half));
  }
}

bool BuildShifted() {
  const GrabbedFrame& f = grabbed;
  if (f.width < 2) return false;  // no halves to show
  int shift = FloatShiftFor(f.width);
  bool bandChanged = UpdateCommentBand(shift, f.width, f.height);
  bool remake = bandChanged || shift != appliedFloatShift;
  appliedFloatShift = shift;
  int bandHeight = commentBand ? PictureHeight(commentBand) : 0;
  int64_t width = f.width + 2 * int64_t{std::abs(shift)};
  int64_t height = int64_t{f.height} + bandHeight;
  if (!PictureSizeAllowed(width, height)) {
    framePicture.reset();
    return false;
  }
  bool fresh = remake || !framePicture ||
               PictureWidth(framePicture) != width ||
               PictureHeight(framePicture) != height;
  if (!EnsureFrame(static_cast<int>(width), static_cast<int>(height), fresh))
    return false;
  HalfPlacement at = PlaceHalves(f.width, shift);
  if (fresh) PlaceBand(at);  // the band stays put until the frame is re-made
  for (int i = 0; i < f.height; ++i) {
    const uint8_t* src = SourceRow(f, i);
    uint8_t* dst = PictureRow(framePicture.get(), bandHeight + i);
    PutPixels(f, src, 0, at.half, dst + 3 * at.left);
    PutPixels(f, src, at.half, at.half, dst + 3 * at.right);
  }
  return true;
}

}  // namespace

void SetGrabbedFrame(const GrabbedFrame& frame) { grabbed = frame; }
const GrabbedFrame& CurrentGrabbedFrame() { return grabbed; }
const Picture& FramePicture() { return framePicture; }
const Picture& CommentBand() { return commentBand; }
int AppliedFloatShift() { return appliedFloatShift; }

void ResetMovieFrameState() {
  appliedFloatShift = 0;
  framePicture.reset();
  commentBand.reset();
}

void SetCommentBandMaker(CommentBandMaker maker) {
  bandMaker = maker ? maker : RenderCommentBand;
}

int FloatShiftFor(int frameWidth) {
  int64_t shift = int64_t{Viewer.FloatOffset} * frameWidth / 400 * 2;
  // Far beyond any picture size; keeps the arithmetic in int.
  return static_cast<int>(std::clamp<int64_t>(shift, -(1 << 20), 1 << 20));
}

void ConvertYuy2Row(const uint8_t* row, int first, int count, uint8_t* out) {
  const Yuy2Tables& t = Yuy2();
  auto put = [&](uint32_t sum) {
    out[0] = t.limitB[sum & kFieldMask];
    out[1] = t.limitG[(sum >> kFieldBits) & kFieldMask];
    out[2] = t.limitR[(sum >> 2 * kFieldBits) & kFieldMask];
    out += 3;
  };
  int x = first, end = first + count;
  if (x < end && x % 2 == 1) {  // second pixel of a pair: Y1 with its U, V
    const uint8_t* pair = row + 2 * static_cast<size_t>(x - 1);
    put(t.y[pair[2]] + t.u[pair[1]] + t.v[pair[3]]);
    ++x;
  }
  for (; x + 1 < end; x += 2) {
    const uint8_t* pair = row + 2 * static_cast<size_t>(x);
    uint32_t chroma = t.u[pair[1]] + t.v[pair[3]];
    put(t.y[pair[0]] + chroma);
    put(t.y[pair[2]] + chroma);
  }
  if (x < end) {  // first pixel of a pair: Y0 with its U, V
    const uint8_t* pair = row + 2 * static_cast<size_t>(x);
    put(t.y[pair[0]] + t.u[pair[1]] + t.v[pair[3]]);
  }
}

bool BuildFramePicture() {
  if (!Usable(grabbed)) return false;
  if (Viewer.WidthMode == 4) return BuildDeinterleaved();
  return BuildShifted();
}

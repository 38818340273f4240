#include "stereo/thumbnail.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/file_data.h"
#include "image/file_names.h"
#include "image/jpeg_reader.h"
#include "image/jps_layout.h"
#include "image/still_reader.h"
#include "stereo/scale.h"

namespace {

bool IsJpeg(const uint8_t* data, size_t bytes) {
  return bytes >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

Picture LeftHalf(const Picture& whole) {
  int width = PictureWidth(whole) / 2, height = PictureHeight(whole);
  if (width < 1) return nullptr;
  Picture half = CreatePicture(width, height, 24);
  if (!half) return nullptr;
  for (int y = 0; y < height; ++y)
    std::memcpy(PictureRow(half.get(), y), PictureRow(whole.get(), y),
                3 * size_t(width));
  return half;
}

// Brings the view down to `size` on its longest side; smaller views stay.
// The scaler fits into a canvas and may leave a margin of a pixel when
// asked for the fitted size itself, so the view is fitted into the square
// and cut out of it.
Picture FitToSize(Picture view, int size) {
  int w = PictureWidth(view), h = PictureHeight(view);
  if (std::max(w, h) <= size) return view;
  FittedPlacement fit = FitPlacement(w, h, size, size);
  Picture square = ScaleToFit(view, size, size);
  Picture out = square ? CreatePicture(fit.width, fit.height, 24) : nullptr;
  if (!out) return nullptr;
  for (int y = 0; y < fit.height; ++y)
    std::memcpy(PictureRow(out.get(), y),
                PictureRow(square.get(), fit.y + y) + 3 * size_t(fit.x),
                3 * size_t(fit.width));
  return out;
}

Picture JpegLeftView(const uint8_t* data, size_t bytes, bool multiPicture,
                     int size) {
  int width = 0, height = 0;
  if (!ReadJpegSize({data, bytes, false}, width, height)) return nullptr;
  JpsLayout layout;
  if (!multiPicture) layout = ReadJpsLayout(data, bytes);
  bool leftHalf = !layout.declared ||
                  (layout.arrangement == JpsArrangement::SideBySide &&
                   layout.leftFirst);
  // The view's size, not the file's, picks the reduction.
  int viewWidth = multiPicture ? width : width / 2;
  int viewHeight = height;
  if (!leftHalf && layout.arrangement != JpsArrangement::SideBySide) {
    viewWidth = width;
    viewHeight = height / 2;
  }
  int denom = ReductionFor(viewWidth, viewHeight, size);
  if (leftHalf)
    return DecodeJpegReduced({data, bytes, false}, denom, !multiPicture);
  // A JPS whose descriptor puts the left view elsewhere: cut it from the
  // whole reduced frame.
  Picture whole = DecodeJpegReduced({data, bytes, false}, denom, false);
  Picture left, right;
  if (!whole || !SplitJpsViews(whole, layout, left, right)) return nullptr;
  return left;
}

}  // namespace

void SetThumbnailBudget() {
  SetPixelLimit(kThumbnailPixelLimit);
  SetDecodeMemoryLimit(kThumbnailDecodeMemory);
}

bool HasMultiPictureSegment(const uint8_t* data, size_t bytes) {
  if (!IsJpeg(data, bytes)) return false;
  size_t at = 2;
  while (at + 4 <= bytes && data[at] == 0xFF) {
    uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // scan or end: too late
    size_t length = size_t{data[at + 2]} << 8 | data[at + 3];
    if (length < 2) break;
    if (marker == 0xE2 && length >= 6 && at + 8 <= bytes &&
        std::memcmp(data + at + 4, "MPF", 4) == 0)
      return true;
    at += 2 + length;
  }
  return false;
}

int ReductionFor(int width, int height, int size) {
  int longest = std::max(width, height);
  int denom = 1;
  // libjpeg rounds reduced sizes up, so the floor here never undershoots.
  while (denom < 8 && longest / (denom * 2) >= size) denom *= 2;
  return denom;
}

Picture MakeThumbnailData(const uint8_t* data, size_t bytes, bool namedMpo,
                          int size, std::string& reason) {
  if (size < 1) {
    reason = "thumbnail size must be at least 1";
    return nullptr;
  }
  ClearLoadFailure();
  Picture view;
  if (IsJpeg(data, bytes)) {
    bool multiPicture = namedMpo || HasMultiPictureSegment(data, bytes);
    view = JpegLeftView(data, bytes, multiPicture, size);
    if (!view) {
      reason = LastLoadFailure().empty() ? "not a readable JPEG"
                                         : LastLoadFailure();
      return nullptr;
    }
  } else {
    StillDecode decoded = DecodeStillData(data, bytes);
    if (!decoded.picture) {
      reason = decoded.failure;
      return nullptr;
    }
    // A HEIF still's picture is its left view already (or its only one).
    view = decoded.format == StillFormat::Heif ? std::move(decoded.picture)
                                               : LeftHalf(decoded.picture);
    if (!view) {
      reason = "picture is too narrow to hold two views";
      return nullptr;
    }
  }
  Picture small = FitToSize(std::move(view), size);
  if (!small) reason = "out of memory";
  return small;
}

Picture MakeThumbnail(const std::string& path, int size, std::string& reason) {
  std::vector<uint8_t> data;
  ClearLoadFailure();
  if (!ReadWholeFile(path, data)) {
    reason = LastLoadFailure();
    return nullptr;
  }
  return MakeThumbnailData(data.data(), data.size(),
                           FileKindMatches(path, MpoKind) != 0, size, reason);
}

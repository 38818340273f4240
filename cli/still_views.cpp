#include "cli/still_views.h"

#include <cstring>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/file_names.h"
#include "image/mpo_reader.h"

namespace {

// The views of a file named as an MPO is (an MPO, a HEIF still or a VR
// photo), with the parallax they were lined up by.
bool LoadTwoViewFile(const std::string& file, StillViews& views,
                     std::string& reason) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(file, bytes)) {
    reason = LastLoadFailure();
    return false;
  }
  if (IsStereoStillData(bytes.data(), bytes.size())) {
    MpoViews mpo;
    StereoStillInfo info;
    if (!DecodeStereoStillViews(bytes.data(), bytes.size(), 1, mpo, &info)) {
      reason = LastLoadFailure();
      return false;
    }
    views.left = std::move(mpo.left);
    views.right = std::move(mpo.right);
    ParallaxShiftX = mpo.shiftX;
    views.formatName = info.format;
    views.stereoStill = info;
  } else {
    if (!LoadMpoData(bytes.data(), bytes.size(), views.left, views.right)) {
      reason = "not a stereo MPO: " + LastLoadFailure();
      return false;
    }
    views.formatName = "MPO";
  }
  views.isMpo = true;
  return true;
}

}  // namespace

Picture CopyColumns(const Picture& picture, int firstColumn, int width) {
  int height = PictureHeight(picture);
  Picture out = CreatePicture(width, height, 24);
  if (!out) return nullptr;
  for (int y = 0; y < height; ++y)
    std::memcpy(PictureRow(out.get(), y),
                PictureRow(picture.get(), y) + 3 * firstColumn, 3 * width);
  return out;
}

bool LoadStillViews(const std::string& file, StillViews& views,
                    std::string& reason, bool wantWhole) {
  ClearCurrentComment();
  ParallaxShiftX = ParallaxShiftY = 0;
  // An MPO's views come from its own decode; the whole first picture would
  // be a third one.  A file that does not load as one is read as below, for
  // the reason that names what it is.
  if (!wantWhole && FileKindMatches(file, MpoKind)) {
    if (LoadTwoViewFile(file, views, reason)) return true;
    ClearCurrentComment();
    ParallaxShiftX = ParallaxShiftY = 0;
  }
  StillDecode decoded = DecodeStill(file);
  if (!decoded.picture) {
    reason = decoded.failure;
    return false;
  }
  views.whole = std::move(decoded.picture);
  views.formatName = StillFormatName(decoded.format);
  views.sourceBits = decoded.sourceBits;
  if (FileKindMatches(file, MpoKind)) {
    ClearLoadFailure();
    return LoadTwoViewFile(file, views, reason);
  }
  const JpsLayout& layout = decoded.stereoLayout;
  bool sideBySide = layout.arrangement == JpsArrangement::SideBySide;
  if ((sideBySide && PictureWidth(views.whole) < 2) ||
      (!sideBySide && PictureHeight(views.whole) < 2)) {
    reason = sideBySide ? "picture is too narrow to hold two views"
                        : "picture is too low to hold two views";
    return false;
  }
  if (!SplitJpsViews(views.whole, layout, views.left, views.right)) {
    reason = "out of memory";
    return false;
  }
  return true;
}

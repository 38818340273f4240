#pragma once

#include <optional>
#include <string>

#include "core/picture.h"
#include "image/still_reader.h"
#include "image/stereo_still.h"

// A still file as the viewer holds it before any screen fitting: the whole
// decoded picture and its two views (an MPO's two cropped views, otherwise
// the left and right halves).
struct StillViews {
  Picture whole;
  Picture left;
  Picture right;
  std::string formatName;
  int sourceBits = 0;
  bool isMpo = false;  // two views of one file: an MPO or a stereo still
  std::optional<StereoStillInfo> stereoStill;  // a HEIF or VR photo's
};

// Without `wantWhole`, `whole` and `sourceBits` may be left empty.
bool LoadStillViews(const std::string& file, StillViews& views,
                    std::string& reason, bool wantWhole = true);

// Columns [firstColumn, firstColumn + width) of a 24-bit picture.
Picture CopyColumns(const Picture& picture, int firstColumn, int width);

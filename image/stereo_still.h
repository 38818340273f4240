// Stereo stills that are neither MPOs nor side by side: spatial HEIF
// photos (two image items in a stereo group) and VR photos (a JPEG whose
// XMP carries the right view).  They go wherever an MPO goes: the MPO
// reader hands such data here, so every path that reads an MPO reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/picture.h"

struct MpoViews;

// Where a panorama's picture lies on the full sphere, in pixels of the
// full equirectangular picture.
struct PanoramaCrop {
  int fullWidth = 0, fullHeight = 0;
  int left = 0, top = 0, width = 0, height = 0;
};

struct StereoStillInfo {
  const char* format = "";  // "HEIF", "AVIF" or "VR photo"
  bool twoViews = false;    // false: one picture, shown in both eyes
  std::optional<double> baselineMm;
  std::optional<double> horizontalFovDeg;
  std::optional<double> verticalFovDeg;
  std::optional<int32_t> disparity;     // 1/10,000 of the width
  std::optional<PanoramaCrop> panorama;  // equirectangular
};

// The views as stored, before the disparity shift.
struct StereoStill {
  Picture left;
  Picture right;  // a copy of the left one for a 2-D picture
  StereoStillInfo info;
};

// Whether the data is one of these kinds (judged from its first bytes and
// its JPEG header segments, without decoding).
bool IsStereoStillData(const uint8_t* data, size_t size);

// False, with the reason noted, when the file is not one of these kinds or
// a view cannot be decoded.
bool DecodeStereoStill(const uint8_t* data, size_t size, StereoStill& still);
bool ReadStereoStillFile(const std::string& path, StereoStill& still);

// The horizontal shift that lines the views up the way the camera chose,
// in the convention of an MPO's parallax: the left view is cropped by it,
// the right one by its negative.
int DisparityShift(const StereoStillInfo& info, int width);

// The views lined up by that shift, at 1/`denominator` of the size, as
// the MPO reader gives an MPO's.
bool DecodeStereoStillViews(const uint8_t* data, size_t size, int denominator,
                            MpoViews& views, StereoStillInfo* info = nullptr);

// HEIF and AVIF stills through libheif: the primary picture of any such
// file, and the two views of a spatial photo (a `ster` entity group, which
// heif_boxes finds, of two image items that libheif decodes by id; grids of
// tiles are put together by libheif).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/picture.h"
#include "image/heif_boxes.h"

// A 24-bit picture of the file's left view when it is a stereo pair, else
// of its primary picture; null with the reason in LastLoadFailure().
Picture DecodeHeifData(const uint8_t* data, size_t size);

// The two views as the file stores them, and what its camera says.
struct HeifViews {
  Picture left;
  Picture right;        // null for a file of one picture (a 2-D photo)
  HeifBoxes boxes;
  std::optional<double> baselineMm;
  std::optional<double> horizontalFovDeg;
  std::optional<int32_t> disparity;  // 1/10,000 of the width
};

// False, with the reason noted, when the file or its left view cannot be
// decoded, or a stereo group is there but its right view cannot be.
bool DecodeHeifViews(const uint8_t* data, size_t size, HeifViews& views);

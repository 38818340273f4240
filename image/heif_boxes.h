// What libheif 1.15 does not tell: a HEIF file's stereo entity group
// (`grpl` / `ster`) and the camera properties attached to its items.  A
// bounded walk over the file's own boxes: every length is checked against
// the bytes that hold it, so a damaged or hostile file ends the walk with a
// reason, never with a read outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Camera data of one item, as far as the file gives it.
struct HeifCamera {
  // Focal length as a fraction of the image width (intrinsics).
  std::optional<double> focalX;
  // Position in micrometres (extrinsics); absent axes are 0.
  std::optional<double> positionX, positionY, positionZ;
  // Horizontal disparity adjustment, 1/10,000 of the image width.
  std::optional<int32_t> disparity;
};

struct HeifBoxes {
  // The first `ster` group's first two entities: left, then right.
  std::optional<uint32_t> leftId, rightId;
  uint32_t primaryId = 0;  // 0 when there is no `pitm`
  struct ItemCamera {
    uint32_t itemId;
    HeifCamera camera;
  };
  std::vector<ItemCamera> cameras;  // items with any camera property
  bool isAvif = false;              // an AV1 brand in `ftyp`
  std::string problem;              // why the walk stopped early, if it did

  const HeifCamera* CameraOf(uint32_t itemId) const;
};

// True when the data starts with an `ftyp` box of a HEIF family brand.
bool LooksLikeHeif(const uint8_t* data, size_t size);

// Walks `ftyp` and `meta`.  False (with `problem` set) when the data is no
// HEIF file or its `meta` is damaged; a damaged property or group only
// fills `problem` and leaves out what it would have given.
bool ReadHeifBoxes(const uint8_t* data, size_t size, HeifBoxes& out);

// Small pictures of stereo files for file managers: the left view only,
// decoded no larger than needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/picture.h"

// The left view of a still file as a 24-bit picture whose longest side is
// `size` (aspect kept), or the view's own size when it is smaller.  The
// left view is the first picture of a multi-picture file (an MPO, known by
// its "MPF" segment or its name), otherwise the left half, as the viewer
// cuts a side-by-side file.  JPEG data is decoded reduced and only its left
// half, so a camera's 12-megapixel file costs a fraction of a full decode.
// Null with `reason` filled when the file cannot be read.
Picture MakeThumbnail(const std::string& path, int size, std::string& reason);
Picture MakeThumbnailData(const uint8_t* data, size_t bytes, bool namedMpo,
                          int size, std::string& reason);

// File managers run the thumbnailer on every file shown and kill a slow
// one: it works within less than the viewer may (64 megapixels, 256 MB of
// decoding memory).  SetThumbnailBudget sets both for the process.
constexpr uint64_t kThumbnailPixelLimit = uint64_t{1} << 26;
constexpr uint64_t kThumbnailDecodeMemory = uint64_t{256} << 20;
void SetThumbnailBudget();

// Whether JPEG data carries an APP2 "MPF" segment before its first scan.
bool HasMultiPictureSegment(const uint8_t* data, size_t bytes);

// The largest reduction (1, 2, 4 or 8) that keeps the longest side of a
// w x h view at least `size`.
int ReductionFor(int width, int height, int size);

// Stereo files as bytes: JPEG encoding of pictures, side-by-side frames
// (PNS: the left view in the left half, as the readers here take them; JPS:
// the right view in the left half with a descriptor saying so, as JPS
// readers expect), and multi-picture files (MPO) that other programs
// accept: an MP index typing both pictures as a disparity (stereo) pair and
// Exif in each.  The Exif is the source's when given (`sourceExif`, TIFF
// bytes), with only the size tags changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/picture.h"

constexpr int kStereoJpegQuality = 95;

// A baseline JPEG of a 24-bit picture, with or without the JFIF header.
// False, with the reason, when the picture is not 24-bit or memory runs out.
bool EncodeJpeg(const Picture& picture, int quality, bool jfif,
                std::vector<uint8_t>& out, std::string& error);

// The two views next to each other, left view on the left, in halves as
// wide as the wider view; a view narrower or lower than the other is
// centred in its half on black.  Null when memory runs out.
Picture JoinSideBySide(const Picture& left, const Picture& right);

// A two-picture MPO: picture 1 (the left view) carries Exif and the MP
// index, picture 2 (the right view) Exif and its MP attributes.  Offsets in
// the index count from picture 1's MP header, as the format says.
bool EncodeMpo(const Picture& left, const Picture& right, int quality,
               std::vector<uint8_t>& out, std::string& error,
               const std::vector<uint8_t>& sourceExif = {});

// A JPS: the joined views (right view first) as a JPEG with Exif and a
// stereo descriptor.
bool EncodeJps(const Picture& left, const Picture& right, int quality,
               std::vector<uint8_t>& out, std::string& error,
               const std::vector<uint8_t>& sourceExif = {});

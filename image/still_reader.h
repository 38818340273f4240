// Tries the still readers in the viewer's order (JPEG, PNG, TIFF, GIF, BMP,
// HEIF)
// and brings the result to 24 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/picture.h"
#include "image/jps_layout.h"

enum class StillFormat { None, Jpeg, Png, Tiff, Gif, Bmp, Heif };

const char* StillFormatName(StillFormat format);

struct StillDecode {
  Picture picture;                  // 24 bits, or null
  StillFormat format = StillFormat::None;
  int sourceBits = 0;               // depth the reader produced
  std::string failure;              // why every reader refused, when null
  JpsLayout stereoLayout;           // a JPEG's own stereo descriptor
  std::string warning;              // about the picture returned: a file
                                    // that ends early
};

StillDecode DecodeStill(const std::string& path);
StillDecode DecodeStillData(const uint8_t* data, size_t size);

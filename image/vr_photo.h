// VR photos (".vr.jpg"): the JPEG is the left view and its XMP carries the
// right one, base64 in GImage:Data, nearly always in Extended XMP (APP1
// chunks that together make a second packet named by its MD5).  GPano
// properties say where on the sphere the picture lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/stereo_still.h"

// One Extended XMP chunk as its APP1 segment gives it.
struct XmpChunk {
  std::string guid;  // 32 characters
  uint32_t total = 0;
  uint32_t offset = 0;
  std::string_view bytes;
};

// The JPEG's XMP: the main packet and the extended chunks, from the header
// segments before the first scan.
struct JpegXmp {
  std::string_view main;
  std::vector<XmpChunk> chunks;
};
bool ReadJpegXmp(const uint8_t* data, size_t size, JpegXmp& xmp);

// The extended packet named `guid`: its chunks put in order by offset,
// exact repeats dropped; false with `problem` set when one is missing or
// overlaps another, the lengths disagree or the MD5 is not the GUID.
bool ReassembleExtendedXmp(const std::vector<XmpChunk>& chunks,
                           std::string_view guid, std::string& packet,
                           std::string& problem);

// Base64 with white space ignored; false on any other character outside
// the alphabet or a wrong end.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out);

// A property's value in the namespace `uri`, written as an attribute or as
// an element; nothing when absent.
std::optional<std::string_view> XmpProperty(std::string_view packet,
                                            std::string_view uri,
                                            std::string_view name);

struct VrPhoto {
  std::vector<uint8_t> rightJpeg;
  std::optional<PanoramaCrop> panorama;
};

// True when the JPEG's XMP mentions the GImage namespace (cheap: header
// segments only).
bool LooksLikeVrPhoto(const uint8_t* data, size_t size);

// The right view's bytes and the panorama crop; false with the reason
// noted when the right view is missing, damaged or not a JPEG.
bool ReadVrPhoto(const uint8_t* data, size_t size, VrPhoto& photo);

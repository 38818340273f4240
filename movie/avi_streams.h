// Tells a stereo camera's two-stream AVI from an ordinary movie by its
// first bytes, and reads the parallax the camera recorded in its maker note.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

struct AviStreamInfo {
  int result = 0;         // 1: two or more video streams, 0: fewer, -1: unreadable
  int videoStreams = 0;   // "strl" lists whose stream header is "vids"
  bool makerNote = false; // a parallax pair was found and read
  int parallaxX = 0, parallaxY = 0;  // ParallaxShiftX, ParallaxShiftY
};

// How much of the file's start is looked at.
inline constexpr size_t kAviProbeBytes = 32000;

// Over the first bytes of a file (only the first kAviProbeBytes count).
// The shifts come back as given unless the maker note sets them.
AviStreamInfo CountVideoStreams(std::span<const uint8_t> head,
                                int parallaxX = 0, int parallaxY = 0);
// Over a file: result -1 when it cannot be opened.
AviStreamInfo CountVideoStreams(const std::string& path, int parallaxX = 0,
                                int parallaxY = 0);

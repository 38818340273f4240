// The comment walk of the JPEG reader, shared by its decoders.
#pragma once

#include <cstddef>
#include <cstdint>

// The walk looks at no more than this much of the file.
constexpr size_t kJpegCommentWindow = 65535;

// Before a decode: walks the stream for its comment while CurrentComment is
// empty and the data begins with FF D8 (with `patchedStart`, the first two
// bytes are read as FF D8 whatever they hold).
void ReadJpegCommentBeforeDecoding(const uint8_t* data, size_t size,
                                   bool patchedStart);

// The comment walk of the JPEG reader, shared by its decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file is first read this far for its comment; the walk reads on while
// metadata segments (large Exif, XMP or colour profiles) run past it, up to
// the start of the scan.
constexpr size_t kJpegCommentWindow = 65535;
// Marker segments beyond this are not looked for: no camera or editor
// writes that much metadata, and a hostile file must not make a comment
// look-up read gigabytes.
constexpr size_t kJpegCommentWalkLimit = size_t{64} << 20;

// Walks the file for its comment as the decoder does before decoding: only
// while CurrentComment is empty and the file begins with FF D8.
void ReadJpegCommentBeforeDecodingFile(const std::string& path);

// Before a decode: walks the stream for its comment while CurrentComment is
// empty and the data begins with FF D8 (with `patchedStart`, the first two
// bytes are read as FF D8 whatever they hold).
void ReadJpegCommentBeforeDecoding(const uint8_t* data, size_t size,
                                   bool patchedStart);

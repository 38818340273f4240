#pragma once

#include <string>

#include "core/picture.h"
#include "stereo/framebuffer.h"

// How a PNG reaches its path.  Replace: written to a new file beside `path`
// and renamed over it when complete, so readers see the old file or the
// whole new one and a failure leaves the old one (a path that is no regular
// file, a device or a pipe, is written in place).  InPlace: the file at
// `path` itself is truncated and written, for a caller that made the file
// and reads the result through the handle it holds, as a file manager's
// thumbnail service does; a rename would leave it its own empty file.
enum class PngOutput { Replace, InPlace };

// Writes a 24-bit picture as an 8-bit RGB PNG.  Returns false and fills
// `error` on failure.
bool WritePicturePng(const Picture& picture, const std::string& path,
                     std::string& error,
                     PngOutput output = PngOutput::Replace);

// The same for a framebuffer (the window's client area), top row first.
// With `keepAlpha` the fourth byte of each pixel is written as alpha (an
// RGBA PNG), so that every byte of the framebuffer survives.
bool WriteFramebufferPng(const Framebuffer& fb, const std::string& path,
                         std::string& error, bool keepAlpha = false);

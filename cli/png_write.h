#pragma once

#include <string>

#include "core/picture.h"
#include "stereo/framebuffer.h"

// Writes a 24-bit picture as an 8-bit RGB PNG.  Returns false and fills
// `error` on failure.  The PNG is written to a new file beside `path` and
// renamed over it when complete: readers see the old file or the whole new
// one, and a failure leaves the old one.  A path that is no regular file (a
// device, a pipe) is written in place.
bool WritePicturePng(const Picture& picture, const std::string& path,
                     std::string& error);

// The same for a framebuffer (the window's client area), top row first.
// With `keepAlpha` the fourth byte of each pixel is written as alpha (an
// RGBA PNG), so that every byte of the framebuffer survives.
bool WriteFramebufferPng(const Framebuffer& fb, const std::string& path,
                         std::string& error, bool keepAlpha = false);

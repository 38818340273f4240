#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/picture.h"

// Decodes both views of a multi-picture file and lines them up by the
// camera's recorded parallax (ParallaxShiftX/Y).  Returns 1 and fills both
// slots, or 0 and stores nothing.
int LoadMpoFile(const std::string& path, Picture& left, Picture& right);
int LoadMpoData(const uint8_t* data, size_t size, Picture& left,
                Picture& right);

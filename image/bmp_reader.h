#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/picture.h"

// Null when the file is not of this format or cannot be read; the reason is
// left in LastLoadFailure().  Never shows a message.
Picture DecodeBmp(const std::string& path);
Picture DecodeBmpData(const uint8_t* data, size_t size);

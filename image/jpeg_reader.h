#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/picture.h"

// Null when the file is not of this format or cannot be read; the reason is
// left in LastLoadFailure().  Never shows a message.
Picture DecodeJpeg(const std::string& path);
Picture DecodeJpegData(const uint8_t* data, size_t size);

// Fills CurrentComment from the file's last COM segment before the first
// start of scan (or a one-component baseline frame).
void ReadJpegComment(const std::string& path);
void ReadJpegCommentData(const uint8_t* data, size_t size);

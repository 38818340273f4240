// MD5, for one purpose: an Extended XMP packet is named by the MD5 of its
// bytes, and a reassembled packet is checked against that name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The digest as 32 upper-case hexadecimal digits.
std::string Md5Hex(const uint8_t* data, size_t size);

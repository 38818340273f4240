// The comment text of the item now shown, and the camera parallax of the
// MPO file last read.  Both are process-wide: the readers fill them, the
// overlays and the movie merge read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Up to 255 bytes of UTF-8 text and a terminating zero.
extern char CurrentComment[256];

extern int ParallaxShiftX;
extern int ParallaxShiftY;

void ClearCurrentComment();
bool CurrentCommentEmpty();

// Stores comment bytes as read from a file.  Text that is not valid UTF-8
// was written on Windows and is decoded as CP932.  The result is cut to 255
// bytes without splitting a character; a terminating zero in the input ends
// the text, as it would in the 8-bit buffer the file was written from.
void SetCurrentComment(const uint8_t* bytes, size_t length);

// The UTF-8 form of bytes from a file: unchanged when valid UTF-8, else
// decoded as CP932 (undecodable bytes become U+FFFD).
std::string FileTextToUtf8(std::string_view bytes);
// CP932 bytes as UTF-8 whether or not they would also pass as UTF-8, for
// text whose encoding was decided elsewhere (a whole list file).
std::string Cp932ToUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view text);

// The longest prefix of UTF-8 `text` of at most `maxBytes` bytes that ends
// on a character boundary.
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes);

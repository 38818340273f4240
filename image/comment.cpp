#include "image/comment.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

char CurrentComment[3 * kCommentStoredBytes + 1];
int ParallaxShiftX = 0;
int ParallaxShiftY = 0;

namespace {
thread_local CommentCapture* activeCapture = nullptr;
}  // namespace

// Where the comment functions of this thread read and write.
char* CommentTarget(bool writing) {
  CommentCapture* capture = activeCapture;
  if (!capture) return CurrentComment;
  if (writing) capture->written_ = true;
  else if (!capture->written_) capture->dependsOnStart_ = true;
  return capture->text_;
}

CommentCapture::CommentCapture(std::string_view start)
    : outer_(activeCapture) {
  size_t keep = Utf8PrefixLength(start, sizeof text_ - 1);
  if (keep > 0) std::memcpy(text_, start.data(), keep);
  text_[keep] = 0;
  activeCapture = this;
}

CommentCapture::~CommentCapture() { activeCapture = outer_; }

void StoreCurrentComment(std::string_view text) {
  // Every target holds as much as CurrentComment; the cut keeps whole
  // characters all the same.
  size_t keep = Utf8PrefixLength(text, sizeof CurrentComment - 1);
  char* target = CommentTarget(true);
  if (keep > 0) std::memcpy(target, text.data(), keep);
  target[keep] = 0;
}

void ClearCurrentComment() { CommentTarget(true)[0] = 0; }

bool CurrentCommentEmpty() { return CommentTarget(false)[0] == 0; }

bool IsValidUtf8(std::string_view text) {
  size_t i = 0, n = text.size();
  while (i < n) {
    auto c = static_cast<unsigned char>(text[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if (c >= 0xC2 && c <= 0xDF) { extra = 1; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { extra = 2; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { extra = 3; cp = c & 0x07; }
    else return false;
    if (i + extra >= n) return false;
    for (size_t k = 1; k <= extra; ++k) {
      auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return false;
    i += extra + 1;
  }
  return true;
}

size_t Utf8PrefixLength(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  size_t end = maxBytes;
  // Step back over continuation bytes to the start of the cut character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return end;
}

size_t Cp932PrefixLength(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  size_t i = 0;
  while (i < maxBytes) {
    size_t step = IsCp932LeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i + step > maxBytes) break;
    i += step;
  }
  return i;
}

std::string Cp932ToUtf8(std::string_view bytes) {
  std::string out;
  // ASCII reads the same in both, and opening a converter costs far more
  // than the text.
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(bytes);
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter: keep the ASCII and mark the rest.
    for (char c : bytes) {
      if (static_cast<unsigned char>(c) < 0x80) out += c;
      else out += "\xEF\xBF\xBD";
    }
    return out;
  }
  std::string input(bytes);
  char* in = input.data();
  size_t inLeft = input.size();
  char buffer[512];
  while (inLeft > 0) {
    char* o = buffer;
    size_t outLeft = sizeof buffer;
    size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    out.append(buffer, o - buffer);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // An invalid or incomplete sequence: replace one byte and go on.
      out += "\xEF\xBF\xBD";
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

std::string FileTextToUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Cp932ToUtf8(bytes);
}

void SetCurrentComment(const uint8_t* bytes, size_t length) {
  const char* text = reinterpret_cast<const char*>(bytes);
  const void* zero = std::memchr(text, 0, length);
  if (zero) length = static_cast<const char*>(zero) - text;
  std::string_view stored(text, length);
  SetStoredComment(stored, !IsValidUtf8(stored));
}

void SetStoredComment(std::string_view stored, bool cp932) {
  // The limit counts the bytes as stored: cut first, convert after.
  stored = stored.substr(0, cp932 ? Cp932PrefixLength(stored, kCommentStoredBytes)
                                  : Utf8PrefixLength(stored, kCommentStoredBytes));
  std::string utf8 = cp932 ? Cp932ToUtf8(stored) : std::string(stored);
  // Three bytes for each stored one at most, so this cut never bites; it
  // keeps the buffer safe all the same.
  size_t keep = Utf8PrefixLength(utf8, sizeof CurrentComment - 1);
  char* target = CommentTarget(true);
  std::memcpy(target, utf8.data(), keep);
  target[keep] = 0;
}

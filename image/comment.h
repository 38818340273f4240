// The comment text of the item now shown, and the camera parallax of the
// MPO file last read.  Both are process-wide: the readers fill them, the
// overlays and the movie merge read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A comment keeps up to 255 bytes as stored in its file or list (CP932 or
// UTF-8).  CurrentComment holds them converted to UTF-8, which takes up to
// three bytes for each stored one (half-width kana, replacement marks), and
// a terminating zero.  Whatever writes a comment back to a file must bring
// it to 255 stored bytes again.
constexpr size_t kCommentStoredBytes = 255;
extern char CurrentComment[3 * kCommentStoredBytes + 1];

extern int ParallaxShiftX;
extern int ParallaxShiftY;

void ClearCurrentComment();
bool CurrentCommentEmpty();

// While one is alive on a thread, the comment functions on that thread
// (and so every reader run there) work on its own text instead of
// CurrentComment: a picture decoded in the background must not touch the
// comment of the item on display.  A capture made while another is alive
// on the same thread (the second view read here when no helper thread could
// be had) takes over until it ends, then hands back to the outer one.
class CommentCapture {
 public:
  // `start` is the text the readers find, as SetCurrentComment leaves it.
  explicit CommentCapture(std::string_view start = {});
  ~CommentCapture();
  CommentCapture(const CommentCapture&) = delete;
  CommentCapture& operator=(const CommentCapture&) = delete;

  const char* Text() const { return text_; }
  // The comment was set or cleared.
  bool Written() const { return written_; }
  // Whether it was empty was asked before any write: what the readers did
  // may then hang on the start text.
  bool DependsOnStart() const { return dependsOnStart_; }

 private:
  friend char* CommentTarget(bool writing);
  // Whatever a reader stores here may also land in CurrentComment: the
  // same room for both.
  char text_[sizeof CurrentComment];
  CommentCapture* outer_;
  bool written_ = false;
  bool dependsOnStart_ = false;
};

// Stores text already in CurrentComment's form (a capture's Text()).
void StoreCurrentComment(std::string_view text);

// Stores comment bytes as read from a file.  Text that is not valid UTF-8
// was written on Windows and is decoded as CP932.  A terminating zero in the
// input ends the text, as it would in the 8-bit buffer the file was written
// from.  Cut as SetStoredComment cuts.
void SetCurrentComment(const uint8_t* bytes, size_t length);
// Stores comment text whose encoding is known (a list decides it for the
// whole file): cut to kCommentStoredBytes of `stored` without splitting a
// character, then converted to UTF-8 when it is CP932.
void SetStoredComment(std::string_view stored, bool cp932);

// The UTF-8 form of bytes from a file: unchanged when valid UTF-8, else
// decoded as CP932 (undecodable bytes become U+FFFD).
std::string FileTextToUtf8(std::string_view bytes);
// CP932 bytes as UTF-8 whether or not they would also pass as UTF-8, for
// text whose encoding was decided elsewhere (a whole list file).
std::string Cp932ToUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view text);
// The first byte of a two-byte CP932 character.
inline bool IsCp932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The longest prefix of UTF-8 `text` of at most `maxBytes` bytes that ends
// on a character boundary.
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes);
// The same for CP932 text: never the first byte of a pair without its
// second.
size_t Cp932PrefixLength(std::string_view text, size_t maxBytes);

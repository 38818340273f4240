// Checks shared by the picture reader tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/picture.h"
#include "tests/test_support.h"

// Blue, green, red of pixel (x, y), y counted from the top, of the picture's
// 24-bit form.
inline std::vector<int> BgrAt(const Picture& picture, int x, int y) {
  Picture converted = ConvertTo24(picture);
  const Picture& p = converted ? converted : picture;
  const uint8_t* px = PictureRow(p.get(), PictureHeight(p) - 1 - y) + 3 * x;
  return {px[0], px[1], px[2]};
}

inline std::vector<int> GreyBgr(int level) { return {level, level, level}; }

// The top row of `picture` starts with the blue, green, red triples `want`.
inline void ExpectTopRow(const Picture& picture,
                         const std::vector<std::vector<int>>& want) {
  ASSERT_TRUE(picture);
  for (size_t x = 0; x < want.size(); ++x)
    EXPECT_EQ(BgrAt(picture, int(x), 0), want[x]) << "x " << x;
}

// Sets the pixel limit for one scope, restoring it even when an assertion
// leaves the test early.
class ScopedPixelLimit {
 public:
  explicit ScopedPixelLimit(uint64_t pixels) { SetPixelLimit(pixels); }
  ~ScopedPixelLimit() { SetPixelLimit(saved_); }

 private:
  uint64_t saved_ = PixelLimit();
};

// Reading `path` by name gives the same header and pixels as reading its
// bytes, and a missing file gives no picture.
inline void ExpectPathReadsLikeMemory(Picture (*fromPath)(const std::string&),
                                      Picture (*fromData)(const uint8_t*, size_t),
                                      const std::string& path) {
  std::vector<uint8_t> bytes = ReadTestFile(path);
  Picture byName = fromPath(path);
  Picture byBytes = fromData(bytes.data(), bytes.size());
  ASSERT_TRUE(byName && byBytes);
  EXPECT_EQ(std::memcmp(byName.get(), byBytes.get(), 40), 0);
  Picture a = ConvertTo24(byName), b = ConvertTo24(byBytes);
  const Picture& name24 = a ? a : byName;
  const Picture& bytes24 = b ? b : byBytes;
  ASSERT_EQ(PictureBits(name24), 24);
  size_t size = RowStride(PictureWidth(name24), 24) * size_t(PictureHeight(name24));
  EXPECT_EQ(std::memcmp(PicturePixels(name24), PicturePixels(bytes24), size), 0);
  EXPECT_FALSE(fromPath(ScratchDir() + "/missing-file"));
}

// Hands every prefix of `whole` (0 bytes, next(0) bytes, ... short of the
// whole) to `check`, naming its length when a check fails.
template <class Next, class Check>
void ForEachPrefix(const std::vector<uint8_t>& whole, Next next, Check check) {
  for (size_t n = 0; n < whole.size(); n = next(n)) {
    SCOPED_TRACE(testing::Message() << "first " << n << " bytes");
    check(std::vector<uint8_t>(whole.begin(), whole.begin() + ptrdiff_t(n)));
  }
}

// Same size, depth and stored rows, row padding included.
inline testing::AssertionResult SamePixels(const Picture& a, const Picture& b) {
  if (!a || !b) return testing::AssertionFailure() << "a picture is missing";
  int w = PictureWidth(a), h = PictureHeight(a), bits = PictureBits(a);
  if (PictureWidth(b) != w || PictureHeight(b) != h || PictureBits(b) != bits)
    return testing::AssertionFailure()
           << w << "x" << h << "x" << bits << " against " << PictureWidth(b)
           << "x" << PictureHeight(b) << "x" << PictureBits(b);
  for (int y = 0; y < h; ++y)
    if (std::memcmp(PictureRow(a.get(), y), PictureRow(b.get(), y), RowStride(w, bits)))
      return testing::AssertionFailure() << "stored row " << y << " differs";
  return testing::AssertionSuccess();
}

// Pixel (x, y), y counted from the top, of the picture's 24-bit form as
// 0xRRGGBB.
inline uint32_t RgbAt(const Picture& picture, int x, int y) {
  std::vector<int> bgr = BgrAt(picture, x, y);
  return uint32_t(bgr[2]) << 16 | uint32_t(bgr[1]) << 8 | uint32_t(bgr[0]);
}

struct Px { int x, y; uint32_t rgb; };

inline void ExpectPixels(const Picture& p, std::initializer_list<Px> want) {
  ASSERT_TRUE(p);
  for (const Px& px : want)
    EXPECT_EQ(RgbAt(p, px.x, px.y), px.rgb) << "at " << px.x << "," << px.y;
}

// The picture record: one packed device-independent bitmap per block.
//
// A block holds a 40-byte header laid out as BITMAPINFOHEADER, an optional
// colour table (4 bytes an entry: blue, green, red, 0) and the pixel rows,
// bottom-up, each padded to a multiple of 4 bytes.  Every picture that leaves
// the readers has 24 bits per pixel, bytes blue, green, red.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>

static_assert(std::endian::native == std::endian::little,
              "picture headers are stored little-endian in host order");

struct BitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;

struct PictureBlockFree {
  void operator()(uint8_t* block) const noexcept;
};

// The owning handle of one picture block.  Whoever holds it owns the block;
// moving it hands ownership on.  get() is the block address, whose first
// bytes are the header.
using Picture = std::unique_ptr<uint8_t[], PictureBlockFree>;

// Empty canvas areas that later steps must tell apart from black.
constexpr uint32_t KeyColour = 0x000102;
constexpr uint8_t kKeyBlue = 0x00, kKeyGreen = 0x01, kKeyRed = 0x02;

// The 16-bit accessors cannot represent larger pictures.
constexpr int kMaxPictureSide = 65535;

// Upper bound on width x height for any picture built from a file.  Readers
// refuse larger announced sizes before allocating; fuzzers lower it.
uint64_t PixelLimit();
void SetPixelLimit(uint64_t pixels);

// True when a picture of this size may be created: both sides 1..65535 and
// the pixel count within PixelLimit().
bool PictureSizeAllowed(int64_t width, int64_t height);

int RowStride(int width, int bits);

// A zero-filled block of `bytes` bytes, for readers that fill the header
// themselves.  Null when the memory cannot be had.
Picture AllocatePictureBlock(size_t bytes);

// A new zero-filled picture; depths above 8 become 24.  Null when the stride
// is 0, the size is not allowed or memory runs out.
Picture CreatePicture(int width, int height, int bits);
void FreePicture(Picture& picture);

BitmapInfoHeader* PictureHeader(uint8_t* block);
const BitmapInfoHeader* PictureHeader(const uint8_t* block);
int PictureWidth(const uint8_t* block);
int PictureHeight(const uint8_t* block);
int PictureBits(const uint8_t* block);
int ColourTableEntries(const BitmapInfoHeader& header);
uint8_t* PicturePixels(uint8_t* block, int* colourEntries = nullptr);
const uint8_t* PicturePixels(const uint8_t* block, int* colourEntries = nullptr);

inline int PictureWidth(const Picture& p) { return PictureWidth(p.get()); }
inline int PictureHeight(const Picture& p) { return PictureHeight(p.get()); }
inline int PictureBits(const Picture& p) { return PictureBits(p.get()); }
inline uint8_t* PicturePixels(const Picture& p, int* entries = nullptr) {
  return PicturePixels(p.get(), entries);
}
inline BitmapInfoHeader* PictureHeader(const Picture& p) {
  return PictureHeader(p.get());
}

// Address of stored row `row` (0 is the bottom line) of a bottom-up picture.
uint8_t* PictureRow(uint8_t* block, int row);
const uint8_t* PictureRow(const uint8_t* block, int row);

// A new 24-bit picture of the same size, or null.  Null at once when the
// input already has 24 bits (the caller keeps the input).  Expands colour
// tables, run-length data and the 16- and 32-bit forms.  `blockSize` bounds
// every read from the input block (pass 0 when the block was made here and
// its layout is trusted).  Never frees the input.
Picture ConvertTo24(const uint8_t* block, size_t blockSize = 0);
inline Picture ConvertTo24(const Picture& p) { return ConvertTo24(p.get()); }

// A new 24-bit picture |dx| columns narrower and |dy| rows lower.  Negative
// amounts drop pixels at the left or bottom edge, positive ones at the right
// or top edge.
Picture CropPicture(const uint8_t* block, int dx, int dy);
inline Picture CropPicture(const Picture& p, int dx, int dy) {
  return CropPicture(p.get(), dx, dy);
}

// The left (half 0) or right (half 1) half of a 24-bit side-by-side frame,
// given as a header plus a separate pixel area, stretched to fit a screen of
// screenWidth x screenHeight with the aspect kept.
Picture FitHalfToScreen(int screenWidth, int screenHeight,
                        const BitmapInfoHeader& header, const uint8_t* pixels,
                        int half);

#include "core/picture.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Room for the header and a colour table of up to 256 entries.
constexpr size_t kBlockExtra = 1200;

uint64_t pixelLimit = uint64_t{1} << 28;

// Blocks this large come straight from the kernel as fresh zero pages; a
// camera picture touches some 9000 of them.  Asking for 2 MB pages where
// the block covers whole ones cuts those faults 512-fold.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHugePageAdviceFrom = 2 * kHugePage;

void AdviseHugePages(uint8_t* block, size_t bytes) {
  auto start = reinterpret_cast<uintptr_t>(block);
  uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t end = (start + bytes) & ~(kHugePage - 1);
  // Advice only; a kernel without transparent huge pages just says no.
  if (end > first)
    madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace

void PictureBlockFree::operator()(uint8_t* block) const noexcept {
  std::free(block);
}

uint64_t PixelLimit() { return pixelLimit; }
void SetPixelLimit(uint64_t pixels) { pixelLimit = pixels; }

bool PictureSizeAllowed(int64_t width, int64_t height) {
  if (width < 1 || height < 1) return false;
  if (width > kMaxPictureSide || height > kMaxPictureSide) return false;
  return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <=
         pixelLimit;
}

int RowStride(int width, int bits) {
  if (width < 0) return 0;
  switch (bits) {
    case 1: return ((width + 31) / 32) * 4;
    case 4: return ((width + 7) / 8) * 4;
    case 8: return ((width + 3) / 4) * 4;
    case 24: return ((3 * width + 3) / 4) * 4;
    case 32: return 4 * width;
    default: return 0;
  }
}

Picture AllocatePictureBlock(size_t bytes) {
  auto* block = static_cast<uint8_t*>(std::calloc(1, bytes));
  if (block && bytes >= kHugePageAdviceFrom) AdviseHugePages(block, bytes);
  return Picture(block);
}

Picture CreatePicture(int width, int height, int bits) {
  if (bits > 8) bits = 24;
  int stride = RowStride(width, bits);
  if (stride == 0 || !PictureSizeAllowed(width, height)) return nullptr;
  size_t imageBytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
  Picture picture = AllocatePictureBlock(imageBytes + kBlockExtra);
  if (!picture) return nullptr;
  BitmapInfoHeader* h = PictureHeader(picture.get());
  h->biSize = sizeof(BitmapInfoHeader);
  h->biWidth = width;
  h->biHeight = height;
  h->biPlanes = 1;
  h->biBitCount = static_cast<uint16_t>(bits);
  h->biCompression = kBiRgb;
  h->biSizeImage = static_cast<uint32_t>(imageBytes);
  return picture;
}

void FreePicture(Picture& picture) { picture.reset(); }

BitmapInfoHeader* PictureHeader(uint8_t* block) {
  return reinterpret_cast<BitmapInfoHeader*>(block);
}

const BitmapInfoHeader* PictureHeader(const uint8_t* block) {
  return reinterpret_cast<const BitmapInfoHeader*>(block);
}

int PictureWidth(const uint8_t* block) {
  return static_cast<uint16_t>(PictureHeader(block)->biWidth);
}

int PictureHeight(const uint8_t* block) {
  return static_cast<uint16_t>(PictureHeader(block)->biHeight);
}

int PictureBits(const uint8_t* block) {
  return PictureHeader(block)->biBitCount;
}

int ColourTableEntries(const BitmapInfoHeader& header) {
  if (header.biSize > 35 && header.biClrUsed != 0)
    return static_cast<int>(std::min<uint32_t>(header.biClrUsed, 1u << 16));
  if (header.biBitCount <= 8) return 1 << header.biBitCount;
  return 0;
}

const uint8_t* PicturePixels(const uint8_t* block, int* colourEntries) {
  const BitmapInfoHeader* h = PictureHeader(block);
  int entries = ColourTableEntries(*h);
  if (colourEntries) *colourEntries = entries;
  return block + h->biSize + 4 * static_cast<size_t>(entries);
}

uint8_t* PicturePixels(uint8_t* block, int* colourEntries) {
  return const_cast<uint8_t*>(
      PicturePixels(static_cast<const uint8_t*>(block), colourEntries));
}

const uint8_t* PictureRow(const uint8_t* block, int row) {
  const BitmapInfoHeader* h = PictureHeader(block);
  size_t stride = RowStride(PictureWidth(block), h->biBitCount);
  return PicturePixels(block) + stride * static_cast<size_t>(row);
}

uint8_t* PictureRow(uint8_t* block, int row) {
  return const_cast<uint8_t*>(
      PictureRow(static_cast<const uint8_t*>(block), row));
}

Picture CropPicture(const uint8_t* block, int dx, int dy) {
  if (!block || PictureBits(block) != 24) return nullptr;
  int width = PictureWidth(block), height = PictureHeight(block);
  int ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
  if (ax >= width || ay >= height) return nullptr;
  int newWidth = width - ax, newHeight = height - ay;
  Picture out = CreatePicture(newWidth, newHeight, 24);
  if (!out) return nullptr;
  int firstRow = dy < 0 ? ay : 0;
  int firstColumn = dx < 0 ? ax : 0;
  size_t rowBytes = 3 * static_cast<size_t>(newWidth);
  for (int y = 0; y < newHeight; ++y) {
    std::memcpy(PictureRow(out.get(), y),
                PictureRow(block, firstRow + y) + 3 * firstColumn, rowBytes);
  }
  return out;
}

Picture FitHalfToScreen(int screenWidth, int screenHeight,
                        const BitmapInfoHeader& header, const uint8_t* pixels,
                        int half) {
  if (header.biBitCount != 24 || screenWidth < 1 || screenHeight < 1)
    return nullptr;
  int frameWidth = static_cast<uint16_t>(header.biWidth);
  int w = frameWidth / 2;
  int h = static_cast<uint16_t>(header.biHeight);
  if (w < 1 || h < 1) return nullptr;
  int64_t outW, outH;
  if (int64_t{h} * 1000 / screenHeight < int64_t{w} * 1000 / screenWidth) {
    outW = screenWidth;
    outH = int64_t{screenWidth} * h / w;
  } else {
    outH = screenHeight;
    outW = int64_t{screenHeight} * w / h;
  }
  Picture out = CreatePicture(static_cast<int>(std::max<int64_t>(outW, 1)),
                              static_cast<int>(std::max<int64_t>(outH, 1)), 24);
  if (!out) return nullptr;
  int ow = PictureWidth(out), oh = PictureHeight(out);
  size_t srcStride = RowStride(frameWidth, 24);
  int firstColumn = half ? w : 0;
  // Nearest neighbour, sampling at pixel centres.
  for (int y = 0; y < oh; ++y) {
    int sy = static_cast<int>((2 * int64_t{y} + 1) * h / (2 * int64_t{oh}));
    const uint8_t* src = pixels + srcStride * sy;
    uint8_t* dst = PictureRow(out.get(), y);
    for (int x = 0; x < ow; ++x) {
      int sx = firstColumn +
               static_cast<int>((2 * int64_t{x} + 1) * w / (2 * int64_t{ow}));
      std::memcpy(dst + 3 * x, src + 3 * sx, 3);
    }
  }
  return out;
}

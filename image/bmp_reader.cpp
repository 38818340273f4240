// DecodeBmp: a BMP file ("BM", or "MB" as some writers spell it) as one
// picture block.  A 24-bit file comes back as a 24-bit picture; the other
// depths come back in a block ConvertTo24 can read without a size: a 40-byte
// header (with the three masks after it for bitfields), a full colour table
// for palette depths, then the pixels, bottom-up.
//
// Faults mended on the way:
//  - the pixels are bounded by the file's real size, not by bfSize, which
//    writers often leave 0 or set to the header's size;
//  - OS/2 core headers (12 bytes: 16-bit sizes, 3-byte palette entries) are
//    turned into the 40-byte form;
//  - top-down bitmaps are turned bottom-up (run-length ones are refused);
//  - the colour table is cut where bfOffBits says the pixels begin, and to
//    the entries the depth can index, so an absurd biClrUsed does no harm;
//    entries the file lacks are black;
//  - pixel data shorter than the rows need: the picture is converted here
//    and the missing lines are black.
#include "image/bmp_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/dib_layout.h"
#include "image/file_data.h"

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = sizeof(BitmapInfoHeader);

struct BmpLayout {
  uint32_t headerSize = 0;
  bool core = false;
  int width = 0;
  int height = 0;
  bool topDown = false;
  int bits = 0;
  uint32_t compression = kBiRgb;
  uint32_t colourCount = 0;  // biClrUsed as stored
  uint32_t masks[3] = {};
  size_t tableStart = 0;     // offsets from the start of the info header
  int tableEntries = 0;      // entries present in the file
  int entrySize = 4;
  size_t pixelStart = 0;
};

bool Refuse(const char* reason) {
  NoteLoadFailure(reason);
  return false;
}

// A 32-bit field of the info header; fields a short header lacks read 0.
uint32_t Field(const uint8_t* dib, uint32_t headerSize, size_t offset) {
  return offset + 4 <= headerSize ? ReadLe32(dib + offset) : 0;
}

bool ReadHeader(const uint8_t* dib, size_t size, BmpLayout& b) {
  if (size < 4) return Refuse("BMP header missing");
  b.headerSize = ReadLe32(dib);
  if (b.headerSize < 12 || (b.headerSize > 12 && b.headerSize < 16))
    return Refuse("BMP header size invalid");
  if (b.headerSize > size) return Refuse("BMP header beyond the file");
  int64_t width, height;
  if (b.headerSize == 12) {
    b.core = true;
    b.entrySize = 3;
    width = ReadLe16(dib + 4);
    height = ReadLe16(dib + 6);
    b.bits = ReadLe16(dib + 10);
  } else {
    width = static_cast<int32_t>(ReadLe32(dib + 4));
    height = static_cast<int32_t>(ReadLe32(dib + 8));
    b.bits = ReadLe16(dib + 14);
    b.compression = Field(dib, b.headerSize, 16);
    b.colourCount = Field(dib, b.headerSize, 32);
  }
  b.topDown = height < 0;
  if (b.topDown) height = -height;
  if (!PictureSizeAllowed(width, height))
    return Refuse("BMP size not allowed");
  b.width = static_cast<int>(width);
  b.height = static_cast<int>(height);
  // OS/2 2.x headers use 3 and 4 for Huffman and 24-bit run-length coding.
  if (b.headerSize == 64 && b.compression >= kBiBitfields)
    return Refuse("BMP compression not supported");
  if (b.compression == kBiJpeg || b.compression == kBiPng)
    return Refuse("BMP holds JPEG or PNG data");
  if (!DibDepthAndCompressionMatch(b.bits, b.compression))
    return Refuse("BMP depth or compression not supported");
  if (b.topDown && b.compression != kBiRgb && b.compression != kBiBitfields &&
      b.compression != kBiAlphaBitfields)
    return Refuse("BMP run-length data cannot be top-down");
  return true;
}

bool HasMasks(const BmpLayout& b) {
  return b.compression == kBiBitfields || b.compression == kBiAlphaBitfields;
}

// Finds the masks, the colour table and the pixels.  bfOffBits decides
// where the pixels begin unless it points into the header; then they follow
// the colour table.
bool LocateParts(const uint8_t* dib, size_t size, uint32_t offBits,
                 BmpLayout& b) {
  size_t tableStart = b.headerSize;
  if (HasMasks(b)) {
    // Headers of 52 bytes and more hold the masks; after a shorter one they
    // follow it.
    size_t at = b.headerSize >= 52 ? kInfoHeaderSize : b.headerSize;
    if (at + 12 > size) return Refuse("BMP masks beyond the file");
    for (int i = 0; i < 3; ++i) b.masks[i] = ReadLe32(dib + at + 4 * i);
    if (b.headerSize < 52)
      tableStart += b.compression == kBiAlphaBitfields ? 16 : 12;
  }
  uint64_t entries = b.colourCount;
  if (b.bits <= 8) {
    uint64_t capacity = uint64_t{1} << b.bits;
    entries = entries == 0 ? capacity : std::min(entries, capacity);
  }
  uint64_t tableEnd = tableStart + entries * b.entrySize;
  uint64_t pixelStart = tableEnd;
  if (offBits >= kFileHeaderSize + tableStart) {
    pixelStart = offBits - kFileHeaderSize;
    entries = std::min<uint64_t>(entries, (pixelStart - tableStart) / b.entrySize);
  }
  if (pixelStart >= size) return Refuse("BMP pixel data beyond the file");
  b.tableStart = tableStart;
  b.pixelStart = static_cast<size_t>(pixelStart);
  if (b.bits <= 8) {
    uint64_t present = tableStart < size ? (size - tableStart) / b.entrySize : 0;
    b.tableEntries = static_cast<int>(std::min(entries, present));
  }
  return true;
}

// The normalised block: header, masks, full colour table, then `pixelBytes`
// bytes of room for the pixels.
Picture MakeBlock(const uint8_t* dib, const BmpLayout& b, size_t pixelBytes,
                  size_t& blockSize, uint8_t*& pixels) {
  int tableEntries = b.bits <= 8 ? 1 << b.bits : 0;
  size_t maskBytes = HasMasks(b) ? 12 : 0;
  blockSize = kInfoHeaderSize + maskBytes + 4 * tableEntries + pixelBytes;
  Picture block = AllocatePictureBlock(blockSize);
  if (!block) return nullptr;
  BitmapInfoHeader* h = PictureHeader(block);
  h->biSize = kInfoHeaderSize;
  h->biWidth = b.width;
  h->biHeight = b.topDown ? -b.height : b.height;
  h->biPlanes = 1;
  h->biBitCount = static_cast<uint16_t>(b.bits);
  h->biCompression = maskBytes ? kBiBitfields : b.compression;
  h->biSizeImage = static_cast<uint32_t>(std::min<size_t>(pixelBytes, UINT32_MAX));
  uint8_t* p = block.get() + kInfoHeaderSize;
  for (int i = 0; i < 3 && maskBytes; ++i, p += 4)
    std::memcpy(p, &b.masks[i], 4);
  for (int i = 0; i < b.tableEntries; ++i)
    std::memcpy(p + 4 * i, dib + b.tableStart + b.entrySize * i, 3);
  pixels = p + 4 * tableEntries;
  return block;
}

// Reverses the order of the rows, so a top-down bitmap becomes bottom-up.
void FlipRows(uint8_t* pixels, size_t stride, int height) {
  std::vector<uint8_t> row(stride);
  for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    uint8_t* a = pixels + stride * top;
    uint8_t* c = pixels + stride * bottom;
    std::memcpy(row.data(), a, stride);
    std::memcpy(a, c, stride);
    std::memcpy(c, row.data(), stride);
  }
}

Picture Decode24(const uint8_t* src, size_t available, const BmpLayout& b) {
  Picture p = CreatePicture(b.width, b.height, 24);
  if (!p) return nullptr;
  size_t stride = RowStride(b.width, 24);
  for (int y = 0; y < b.height; ++y) {
    size_t start = stride * static_cast<size_t>(y);
    if (start >= available) break;  // missing lines stay black
    int row = b.topDown ? b.height - 1 - y : y;
    std::memcpy(PictureRow(p.get(), row), src + start,
                std::min(stride, available - start));
  }
  return p;
}

Picture DecodeOther(const uint8_t* dib, size_t size, BmpLayout& b) {
  const uint8_t* src = dib + b.pixelStart;
  size_t available = size - b.pixelStart;
  bool rle = b.compression == kBiRle8 || b.compression == kBiRle4;
  uint64_t need = rle ? available
                      : DibStride(b.width, b.bits) * static_cast<uint64_t>(b.height);
  size_t pixelBytes = static_cast<size_t>(std::min<uint64_t>(need, available));
  size_t blockSize;
  uint8_t* pixels;
  Picture block = MakeBlock(dib, b, pixelBytes, blockSize, pixels);
  if (!block) {
    NoteLoadFailure("out of memory");
    return nullptr;
  }
  std::memcpy(pixels, src, pixelBytes);
  if (pixelBytes < need) return ConvertTo24(block.get(), blockSize);
  if (b.topDown) {
    FlipRows(pixels, static_cast<size_t>(DibStride(b.width, b.bits)), b.height);
    PictureHeader(block)->biHeight = b.height;
  }
  return block;
}

}  // namespace

Picture DecodeBmpData(const uint8_t* data, size_t size) {
  if (size < kFileHeaderSize ||
      !(std::memcmp(data, "BM", 2) == 0 || std::memcmp(data, "MB", 2) == 0)) {
    NoteLoadFailure("not a BMP file");
    return nullptr;
  }
  const uint8_t* dib = data + kFileHeaderSize;
  size_t dibSize = size - kFileHeaderSize;
  BmpLayout b;
  if (!ReadHeader(dib, dibSize, b)) return nullptr;
  if (!LocateParts(dib, dibSize, ReadLe32(data + 10), b)) return nullptr;
  if (b.bits == 24)
    return Decode24(dib + b.pixelStart, dibSize - b.pixelStart, b);
  return DecodeOther(dib, dibSize, b);
}

Picture DecodeBmp(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return nullptr;
  return DecodeBmpData(bytes.data(), bytes.size());
}

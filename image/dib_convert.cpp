// ConvertTo24: expands pictures of other depths the way the platform's
// bitmap drawing would, without any window: colour tables, run-length
// data and the 16- and 32-bit forms.
//
// Rules where the platform leaves room:
//  - an index beyond the colour table draws black;
//  - pixels a run-length stream never writes (skipped by a delta or an early
//    end of line or bitmap) stay black, as on a freshly made 24-bit bitmap;
//  - with a block size given, pixel data that runs short leaves the
//    remaining pixels black; nothing past the block is read.
#include <algorithm>
#include <bit>
#include <cstring>

#include "image/dib_layout.h"
#include "core/picture.h"

namespace {

struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;  // the channel's value range after the shift
};

Channel MakeChannel(uint32_t mask) {
  Channel c;
  if (mask == 0) return c;
  c.mask = mask;
  c.shift = std::countr_zero(mask);
  c.max = mask >> c.shift;
  return c;
}

// The channel's value scaled to 0..255, rounded.
uint8_t ChannelValue(const Channel& c, uint32_t pixel) {
  if (c.max == 0) return 0;
  uint64_t v = (pixel & c.mask) >> c.shift;
  return static_cast<uint8_t>((v * 255 + c.max / 2) / c.max);
}

struct DibSource {
  int width = 0;
  int height = 0;
  bool topDown = false;
  int bits = 0;
  uint32_t compression = kBiRgb;
  uint32_t sizeImage = 0;
  const uint8_t* table = nullptr;
  int tableEntries = 0;  // entries that can be read
  Channel red, green, blue;
  const uint8_t* pixels = nullptr;
  size_t pixelBytes = 0;
};

// Places the masks and the colour table; `offset` is where the masks would
// follow the header and ends where the colour table begins.
bool ReadMasks(const uint8_t* block, uint64_t limit, uint32_t headerSize,
               DibSource& s, uint64_t& offset) {
  uint32_t r, g, b;
  if (s.compression == kBiBitfields || s.compression == kBiAlphaBitfields) {
    // Headers of 52 bytes and more carry the masks themselves; a 40-byte
    // header is followed by them.
    uint64_t at = headerSize >= 52 ? 40 : offset;
    if (at + 12 > limit) return false;
    r = ReadLe32(block + at);
    g = ReadLe32(block + at + 4);
    b = ReadLe32(block + at + 8);
    if (headerSize < 52)
      offset += s.compression == kBiAlphaBitfields ? 16 : 12;
  } else if (s.bits == 16) {
    r = 0x7C00, g = 0x03E0, b = 0x001F;
  } else {
    r = 0xFF0000, g = 0xFF00, b = 0xFF;
  }
  s.red = MakeChannel(r);
  s.green = MakeChannel(g);
  s.blue = MakeChannel(b);
  return true;
}

// Reads the layout of the block; with blockSize 0 the layout is trusted and
// run-length data is bounded by biSizeImage.
bool ReadSource(const uint8_t* block, size_t blockSize, DibSource& s) {
  bool bounded = blockSize != 0;
  if (bounded && blockSize < sizeof(BitmapInfoHeader)) return false;
  BitmapInfoHeader h;
  std::memcpy(&h, block, sizeof h);
  if (h.biSize < sizeof h || (bounded && h.biSize > blockSize)) return false;
  int64_t height = h.biHeight;
  s.topDown = height < 0;
  if (s.topDown) height = -height;
  if (!PictureSizeAllowed(h.biWidth, height)) return false;
  s.width = h.biWidth;
  s.height = static_cast<int>(height);
  s.bits = h.biBitCount;
  s.compression = h.biCompression;
  s.sizeImage = h.biSizeImage;
  if (s.bits == 24 || !DibDepthAndCompressionMatch(s.bits, s.compression))
    return false;
  bool rle = s.compression == kBiRle8 || s.compression == kBiRle4;
  if (rle && s.topDown) return false;  // not a valid bitmap
  uint64_t stride = DibStride(s.width, s.bits);
  uint64_t limit = bounded ? blockSize : UINT64_MAX;
  uint64_t offset = h.biSize;
  if (s.bits > 8 && !ReadMasks(block, limit, h.biSize, s, offset))
    return false;

  int entries = ColourTableEntries(h);
  uint64_t pixelStart = offset + 4 * static_cast<uint64_t>(entries);
  if (s.bits <= 8) {
    uint64_t usable = std::min<uint64_t>(entries, 1u << s.bits);
    if (bounded) usable = std::min<uint64_t>(usable, (limit - offset) / 4);
    s.table = block + offset;
    s.tableEntries = static_cast<int>(usable);
  }
  uint64_t available = pixelStart < limit ? limit - pixelStart : 0;
  if (rle) {
    if (!bounded && s.sizeImage == 0) return false;
    if (s.sizeImage != 0) available = std::min<uint64_t>(available, s.sizeImage);
  } else if (!bounded) {
    available = stride * static_cast<uint64_t>(s.height);
  }
  s.pixels = available ? block + pixelStart : nullptr;
  s.pixelBytes = static_cast<size_t>(available);
  return true;
}

// Colour of every possible index, black beyond the table.
struct Palette {
  uint8_t bgr[256][3] = {};
};

Palette MakePalette(const DibSource& s) {
  Palette p;
  for (int i = 0; i < s.tableEntries; ++i)
    std::memcpy(p.bgr[i], s.table + 4 * i, 3);
  return p;
}

int IndexAt(const uint8_t* row, int x, int bits) {
  switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 2: return (row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default: return row[x];
  }
}

// Stored row y of the source lands on this stored row of the output.
uint8_t* OutputRow(Picture& out, const DibSource& s, int y) {
  return PictureRow(out.get(), s.topDown ? s.height - 1 - y : y);
}

// Whole pixels of stored row y that lie inside the pixel data.
int PixelsInRow(const DibSource& s, int y, uint64_t stride) {
  uint64_t start = stride * static_cast<uint64_t>(y);
  if (start >= s.pixelBytes) return 0;
  uint64_t bytes = std::min<uint64_t>(stride, s.pixelBytes - start);
  return static_cast<int>(std::min<uint64_t>(s.width, bytes * 8 / s.bits));
}

void ExpandIndexed(const DibSource& s, Picture& out) {
  Palette palette = MakePalette(s);
  uint64_t stride = DibStride(s.width, s.bits);
  for (int y = 0; y < s.height; ++y) {
    int count = PixelsInRow(s, y, stride);
    if (count == 0) break;
    const uint8_t* src = s.pixels + stride * y;
    uint8_t* dst = OutputRow(out, s, y);
    for (int x = 0; x < count; ++x)
      std::memcpy(dst + 3 * x, palette.bgr[IndexAt(src, x, s.bits)], 3);
  }
}

void ExpandMasked(const DibSource& s, Picture& out) {
  uint64_t stride = DibStride(s.width, s.bits);
  int bytesPerPixel = s.bits / 8;
  for (int y = 0; y < s.height; ++y) {
    int count = PixelsInRow(s, y, stride);
    if (count == 0) break;
    const uint8_t* src = s.pixels + stride * y;
    uint8_t* dst = OutputRow(out, s, y);
    for (int x = 0; x < count; ++x, src += bytesPerPixel, dst += 3) {
      uint32_t pixel = bytesPerPixel == 2 ? ReadLe16(src) : ReadLe32(src);
      dst[0] = ChannelValue(s.blue, pixel);
      dst[1] = ChannelValue(s.green, pixel);
      dst[2] = ChannelValue(s.red, pixel);
    }
  }
}

// Run-length decoding.  Runs are clipped at the right edge rather than
// wrapped, deltas may move past it, and decoding stops at the end of the
// bitmap, above the top row or where the data ends.
class RleDecoder {
 public:
  RleDecoder(const DibSource& s, Picture& out)
      : s_(s), out_(out), palette_(MakePalette(s)), rle4_(s.bits == 4) {}

  void Run() {
    const uint8_t* d = s_.pixels;
    size_t n = s_.pixelBytes, p = 0;
    while (p + 2 <= n && y_ < s_.height) {
      uint8_t count = d[p], value = d[p + 1];
      p += 2;
      if (count > 0) {
        Repeat(count, value);
      } else if (value == 0) {  // end of line
        x_ = 0;
        ++y_;
      } else if (value == 1) {  // end of bitmap
        return;
      } else if (value == 2) {  // delta
        if (p + 2 > n) return;
        x_ += d[p];
        y_ += d[p + 1];
        p += 2;
      } else {
        p = Absolute(value, d, n, p);
      }
    }
  }

 private:
  void Put(int64_t x, int index) {
    uint8_t* row = PictureRow(out_.get(), static_cast<int>(y_));
    std::memcpy(row + 3 * x, palette_.bgr[index], 3);
  }

  int64_t Room() const { return std::max<int64_t>(0, s_.width - x_); }

  void Repeat(int count, uint8_t value) {
    int64_t visible = std::min<int64_t>(count, Room());
    for (int64_t k = 0; k < visible; ++k) {
      int index = rle4_ ? ((k & 1) ? (value & 0x0F) : (value >> 4)) : value;
      Put(x_ + k, index);
    }
    x_ += count;
  }

  // An absolute run of `count` pixels, padded to an even byte count; what
  // the data lacks of it is not drawn.
  size_t Absolute(int count, const uint8_t* d, size_t n, size_t p) {
    size_t bytes = rle4_ ? (count + 1) / 2 : count;
    size_t present = std::min(bytes, n - p);
    int64_t drawable = rle4_ ? static_cast<int64_t>(present) * 2 : present;
    int64_t visible = std::min<int64_t>({count, drawable, Room()});
    for (int64_t k = 0; k < visible; ++k) {
      int index = rle4_ ? ((k & 1) ? (d[p + k / 2] & 0x0F) : (d[p + k / 2] >> 4))
                        : d[p + k];
      Put(x_ + k, index);
    }
    x_ += count;
    return std::min(n, p + bytes + (bytes & 1));
  }

  const DibSource& s_;
  Picture& out_;
  Palette palette_;
  bool rle4_;
  int64_t x_ = 0;
  int64_t y_ = 0;
};

}  // namespace

Picture ConvertTo24(const uint8_t* block, size_t blockSize) {
  if (!block) return nullptr;
  if (blockSize != 0 && blockSize < sizeof(BitmapInfoHeader)) return nullptr;
  if (ReadLe16(block + 14) == 24) return nullptr;  // the caller keeps it
  DibSource s;
  if (!ReadSource(block, blockSize, s)) return nullptr;
  Picture out = CreatePicture(s.width, s.height, 24);
  if (!out || !s.pixels) return out;
  if (s.compression == kBiRle8 || s.compression == kBiRle4)
    RleDecoder(s, out).Run();
  else if (s.bits <= 8)
    ExpandIndexed(s, out);
  else
    ExpandMasked(s, out);
  return out;
}

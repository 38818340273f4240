// TIFF reading through libtiff, from memory.
//
// Only the first image of a file is read.  Strips (or rows of tiles) are
// decoded one at a time into a zero-filled buffer and converted row by row
// into the picture; nothing is ever drawn from alpha samples.
#include "image/tiff_reader.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/file_data.h"

namespace {

// No strip, band or tile buffer larger than this is allocated.
constexpr uint64_t kMaxBufferBytes = uint64_t{1} << 30;
// What libtiff may allocate at once beyond the file's own size: tag arrays
// and codec state are small, strip data comes from the mapped buffer.
constexpr uint64_t kLibtiffAllocSlack = uint64_t{64} << 20;
// Pictures carry 72 dots per inch.
constexpr int32_t kPixelsPerMetre = 2834;

// ---------------------------------------------------------------------------
// libtiff over a memory buffer.

struct MemoryFile {
  const uint8_t* data;
  uint64_t size;
  uint64_t pos;
};

tmsize_t ReadProc(thandle_t handle, void* out, tmsize_t count) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (count <= 0 || file->pos >= file->size) return 0;
  uint64_t n = std::min<uint64_t>(uint64_t(count), file->size - file->pos);
  std::memcpy(out, file->data + file->pos, n);
  file->pos += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  uint64_t base = whence == SEEK_CUR ? file->pos
                  : whence == SEEK_END ? file->size
                                       : 0;
  // Offsets are unsigned: a move back arrives as a wrapped value, which
  // modular addition undoes.  Positions past the end simply read nothing.
  uint64_t target = base + offset;
  if (whence != SEEK_SET && int64_t(offset) < 0 && target > base)
    return static_cast<toff_t>(-1);
  file->pos = target;
  return target;
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t handle) {
  return static_cast<MemoryFile*>(handle)->size;
}

// The buffer is handed over as the mapped file, so that libtiff decodes
// strips straight from it; it only ever reads through this pointer.
int MapProc(thandle_t handle, void** base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  *base = const_cast<uint8_t*>(file->data);
  *size = file->size;
  return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff's messages never reach the terminal; the first error is kept as
// the reason a file was refused.
int OnTiffError(TIFF*, void* user, const char*, const char* format,
                va_list args) {
  auto* reason = static_cast<std::string*>(user);
  if (reason->empty()) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    *reason = text;
  }
  return 1;
}

int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

struct TiffClose {
  void operator()(TIFF* tif) const noexcept { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffClose>;

TiffHandle OpenMemoryTiff(MemoryFile& file, std::string& reason) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, OnTiffError, &reason);
  TIFFOpenOptionsSetWarningHandlerExtR(options, OnTiffWarning, nullptr);
  uint64_t allocLimit = std::min(file.size + kLibtiffAllocSlack,
                                 kMaxBufferBytes);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(allocLimit));
  TIFF* tif = TIFFClientOpenExt("memory", "r", &file, ReadProc, WriteProc,
                                SeekProc, CloseProc, SizeProc, MapProc,
                                UnmapProc, options);
  TIFFOpenOptionsFree(options);
  return TiffHandle(tif);
}

bool HasTiffMagic(const uint8_t* data, size_t size) {
  if (size < 4) return false;
  bool little = data[0] == 'I' && data[1] == 'I' && data[3] == 0 &&
                (data[2] == 42 || data[2] == 43);
  bool big = data[0] == 'M' && data[1] == 'M' && data[2] == 0 &&
             (data[3] == 42 || data[3] == 43);
  return little || big;
}

// ---------------------------------------------------------------------------
// What the first image is, and how its rows become picture rows.

enum class RowForm {
  Copy,    // 1, 4 or 8 bits, one sample: the scanline as it is
  Widen2,  // 2-bit samples widened to 4-bit nibbles
  High12,  // 12-bit samples: their high 8 bits
  Grey,    // 8- or 16-bit samples, the first of each pixel (high byte)
  Rgb,     // red, green, blue: the first three samples (high bytes)
  Cmyk,    // cyan, magenta, yellow, black (high bytes)
};

struct TiffLayout {
  uint32_t width = 0, height = 0, rowsPerStrip = 0;
  uint16_t bits = 1, samples = 1, compression = 1, photometric = 0;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint64_t scanline = 0;
  int step = 1;         // samples of one pixel in a scanline
  bool wide = false;    // 16-bit samples
  RowForm form = RowForm::Copy;
  int pictureBits = 0;
};

bool CompressionAccepted(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_LZW:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE:  // the registered code of the same codec
      return true;
    default:
      return false;
  }
}

bool ReadLayout(TIFF* tif, TiffLayout& layout, std::string& reason) {
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &layout.rowsPerStrip);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &layout.compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &layout.planar);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &layout.photometric)) {
    reason = "no photometric interpretation";
    return false;
  }
  if (!PictureSizeAllowed(layout.width, layout.height)) {
    reason = "picture size not allowed";
    return false;
  }
  if (!CompressionAccepted(layout.compression)) {
    reason = "compression " + std::to_string(layout.compression) +
             " not supported";
    return false;
  }
  if (layout.photometric > PHOTOMETRIC_SEPARATED ||
      layout.photometric == PHOTOMETRIC_MASK) {
    reason = "photometric " + std::to_string(layout.photometric) +
             " not supported";
    return false;
  }
  layout.scanline = TIFFScanlineSize64(tif);
  if (layout.scanline == 0) {
    reason = "bad scanline size";
    return false;
  }
  return true;
}

// One colour channel: grey levels or palette indices.
bool ChooseSingleChannelForm(TiffLayout& layout, std::string& reason) {
  bool palette = layout.photometric == PHOTOMETRIC_PALETTE;
  uint16_t bits = layout.bits;
  if (palette && bits > 8) {
    reason = "palette of more than 256 colours";
    return false;
  }
  // Extra samples (alpha, masks) after the level are skipped.
  if (layout.step > 1 || bits == 16) {
    if (bits != 8 && bits != 16) {
      reason = "unsupported sample layout";
      return false;
    }
    layout.form = RowForm::Grey;
    layout.wide = bits == 16;
    layout.pictureBits = 8;
    return true;
  }
  switch (bits) {
    case 1: case 4: case 8:
      layout.form = RowForm::Copy;
      layout.pictureBits = bits;
      return true;
    case 2:
      layout.form = RowForm::Widen2;
      layout.pictureBits = 4;
      return true;
    case 12:
      layout.form = RowForm::High12;
      layout.pictureBits = 8;
      return true;
    default:
      reason = std::to_string(bits) + "-bit samples not supported";
      return false;
  }
}

// Decides the picture depth and row conversion.  p, the whole bytes of a
// pixel in a scanline, rules out colour files whose samples are too small
// or stored in separate planes (whose scanline holds one sample a pixel).
bool ChooseForm(TiffLayout& layout, std::string& reason) {
  uint64_t p = layout.scanline / layout.width;
  if (p < 3 && layout.samples > 2) {
    reason = "sample layout not supported";
    return false;
  }
  layout.step = layout.planar == PLANARCONFIG_SEPARATE ? 1 : layout.samples;
  if (layout.photometric <= PHOTOMETRIC_PALETTE &&
      layout.photometric != PHOTOMETRIC_RGB)
    return ChooseSingleChannelForm(layout, reason);
  int needed = layout.photometric == PHOTOMETRIC_RGB ? 3 : 4;
  if (layout.step < needed || (layout.bits != 8 && layout.bits != 16)) {
    reason = "colour sample layout not supported";
    return false;
  }
  layout.form = layout.photometric == PHOTOMETRIC_RGB ? RowForm::Rgb
                                                      : RowForm::Cmyk;
  layout.wide = layout.bits == 16;
  layout.pictureBits = 24;
  return true;
}

// ---------------------------------------------------------------------------
// Colour tables.

bool FillColourTable(TIFF* tif, const TiffLayout& layout, uint8_t* table,
                     int entries, std::string& reason) {
  if (layout.photometric == PHOTOMETRIC_PALETTE) {
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red ||
        !green || !blue) {
      reason = "palette without colour map";
      return false;
    }
    // libtiff holds 2^BitsPerSample entries of each.  Maps written with
    // 8-bit values are used as they are; 16-bit maps are scaled.
    bool wide = false;
    for (int i = 0; i < entries; ++i)
      wide |= red[i] >= 256 || green[i] >= 256 || blue[i] >= 256;
    auto level = [wide](uint16_t v) {
      return static_cast<uint8_t>(wide ? v * 255 / 65535 : v & 0xFF);
    };
    for (int i = 0; i < entries; ++i) {
      table[4 * i] = level(blue[i]);
      table[4 * i + 1] = level(green[i]);
      table[4 * i + 2] = level(red[i]);
    }
    return true;
  }
  bool whiteIsZero = layout.photometric == PHOTOMETRIC_MINISWHITE;
  for (int i = 0; i < entries; ++i) {
    int level = i * 255 / (entries - 1);
    std::memset(table + 4 * i, whiteIsZero ? 255 - level : level, 3);
  }
  return true;
}

Picture CreateTiffPicture(TIFF* tif, const TiffLayout& layout,
                          std::string& reason) {
  Picture picture = CreatePicture(int(layout.width), int(layout.height),
                                  layout.pictureBits);
  if (!picture) {
    reason = "out of memory";
    return nullptr;
  }
  BitmapInfoHeader* header = PictureHeader(picture);
  header->biXPelsPerMeter = header->biYPelsPerMeter = kPixelsPerMetre;
  if (layout.pictureBits > 8) return picture;
  // Entries follow the source depth: a widened 2-bit picture has four.
  int sourceBits = layout.form == RowForm::Copy ? layout.bits
                   : layout.form == RowForm::Widen2 ? 2
                                                    : 8;
  if (sourceBits == 2) header->biClrUsed = 4;
  int entries = 1 << sourceBits;
  if (!FillColourTable(tif, layout, picture.get() + header->biSize, entries,
                       reason))
    return nullptr;
  return picture;
}

// ---------------------------------------------------------------------------
// Row conversions.  libtiff hands 16-bit samples over in host order.

inline uint8_t SampleHigh(const uint8_t* row, size_t index, bool wide) {
  if (!wide) return row[index];
  uint16_t v;
  std::memcpy(&v, row + 2 * index, 2);
  return static_cast<uint8_t>(v >> 8);
}

void Widen2To4(const uint8_t* src, uint8_t* dst, uint32_t width) {
  for (uint32_t i = 0; i < (width + 3) / 4; ++i) {
    uint8_t b = src[i];
    dst[2 * i] = static_cast<uint8_t>(((b >> 2) & 0x30) | ((b >> 4) & 0x03));
    dst[2 * i + 1] = static_cast<uint8_t>(((b << 2) & 0x30) | (b & 0x03));
  }
}

// Two 12-bit samples fill three bytes, most significant bits first.
void High12(const uint8_t* src, uint8_t* dst, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x) {
    const uint8_t* s = src + 3 * (x / 2);
    dst[x] = (x & 1) ? static_cast<uint8_t>((s[1] << 4) | (s[2] >> 4)) : s[0];
  }
}

void RgbRow(const uint8_t* src, uint8_t* dst, uint32_t width, int step) {
  for (uint32_t x = 0; x < width; ++x, src += step, dst += 3) {
    dst[0] = src[2];
    dst[1] = src[1];
    dst[2] = src[0];
  }
}

void CmykRow(const uint8_t* src, uint8_t* dst, uint32_t width, int step,
             bool wide) {
  for (uint32_t x = 0; x < width; ++x, dst += 3) {
    size_t i = size_t(x) * step;
    int k = 255 - SampleHigh(src, i + 3, wide);
    dst[0] = static_cast<uint8_t>((255 - SampleHigh(src, i + 2, wide)) * k / 255);
    dst[1] = static_cast<uint8_t>((255 - SampleHigh(src, i + 1, wide)) * k / 255);
    dst[2] = static_cast<uint8_t>((255 - SampleHigh(src, i, wide)) * k / 255);
  }
}

void ConvertRow(const TiffLayout& layout, const uint8_t* src, uint8_t* dst) {
  uint32_t width = layout.width;
  switch (layout.form) {
    case RowForm::Copy:
      std::memcpy(dst, src, (uint64_t{width} * layout.bits + 7) / 8);
      break;
    case RowForm::Widen2:
      Widen2To4(src, dst, width);
      break;
    case RowForm::High12:
      High12(src, dst, width);
      break;
    case RowForm::Grey:
      for (uint32_t x = 0; x < width; ++x)
        dst[x] = SampleHigh(src, size_t(x) * layout.step, layout.wide);
      break;
    case RowForm::Rgb:
      if (!layout.wide) {
        RgbRow(src, dst, width, layout.step);
        break;
      }
      for (uint32_t x = 0; x < width; ++x, dst += 3) {
        size_t i = size_t(x) * layout.step;
        dst[0] = SampleHigh(src, i + 2, true);
        dst[1] = SampleHigh(src, i + 1, true);
        dst[2] = SampleHigh(src, i, true);
      }
      break;
    case RowForm::Cmyk:
      CmykRow(src, dst, width, layout.step, layout.wide);
      break;
  }
}

// ---------------------------------------------------------------------------
// Reading.

struct FreeDelete {
  void operator()(uint8_t* p) const noexcept { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t[], FreeDelete>;

Buffer AllocateZeroed(uint64_t bytes) {
  if (bytes == 0 || bytes > kMaxBufferBytes) return nullptr;
  return Buffer(static_cast<uint8_t*>(std::calloc(1, size_t(bytes))));
}

// Converts `rows` scanlines of `band`, the first being picture row `top`
// counted from the top.
void ConvertBand(const TiffLayout& layout, const uint8_t* band, uint32_t top,
                 uint32_t rows, Picture& picture) {
  rows = std::min(rows, layout.height - top);
  for (uint32_t r = 0; r < rows; ++r) {
    int stored = int(layout.height - 1 - (top + r));
    ConvertRow(layout, band + layout.scanline * r,
               PictureRow(picture.get(), stored));
  }
}

bool ReadStrips(TIFF* tif, const TiffLayout& layout, Picture& picture,
                std::string& reason) {
  uint32_t rowsPerStrip = layout.rowsPerStrip;
  if (rowsPerStrip == 0 || rowsPerStrip > layout.height)
    rowsPerStrip = layout.height;
  uint64_t stripSize = TIFFStripSize64(tif);
  Buffer strip = AllocateZeroed(stripSize);
  if (!strip) {
    reason = "strip too large";
    return false;
  }
  // A strip never yields more rows than its buffer holds.
  uint32_t rows = uint32_t(std::min<uint64_t>(rowsPerStrip,
                                              stripSize / layout.scanline));
  uint32_t strips = (layout.height + rowsPerStrip - 1) / rowsPerStrip;
  for (uint32_t s = 0; s < strips; ++s) {
    if (s > 0) std::memset(strip.get(), 0, size_t(stripSize));
    if (TIFFReadEncodedStrip(tif, s, strip.get(), tmsize_t(stripSize)) < 0) {
      if (reason.empty()) reason = "strip " + std::to_string(s) + " unreadable";
      return false;
    }
    ConvertBand(layout, strip.get(), s * rowsPerStrip, rows, picture);
  }
  return true;
}

// Tiled files are read one row of tiles at a time: the tiles are put side
// by side into a band laid out like a strip, then converted as one.
bool ReadTiles(TIFF* tif, const TiffLayout& layout, Picture& picture,
               std::string& reason) {
  uint32_t tileWidth = 0, tileLength = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  uint64_t tileSize = TIFFTileSize64(tif), tileRow = TIFFTileRowSize64(tif);
  if (tileWidth == 0 || tileLength == 0 || tileRow == 0 ||
      uint64_t{tileWidth} * tileLength > std::max<uint64_t>(PixelLimit(), 1)) {
    reason = "bad tile size";
    return false;
  }
  uint32_t bandRows = std::min(tileLength, layout.height);
  Buffer tile = AllocateZeroed(tileSize);
  Buffer band = AllocateZeroed(layout.scanline * bandRows);
  if (!tile || !band) {
    reason = "tiles too large";
    return false;
  }
  uint64_t pixelBits = uint64_t{layout.bits} * layout.step;
  for (uint32_t top = 0; top < layout.height; top += tileLength) {
    std::memset(band.get(), 0, size_t(layout.scanline * bandRows));
    for (uint32_t left = 0; left < layout.width; left += tileWidth) {
      std::memset(tile.get(), 0, size_t(tileSize));
      uint32_t index = TIFFComputeTile(tif, left, top, 0, 0);
      if (TIFFReadEncodedTile(tif, index, tile.get(), tmsize_t(tileSize)) < 0) {
        if (reason.empty()) reason = "tile unreadable";
        return false;
      }
      // Tile widths are multiples of 16 pixels: columns start on a byte.
      uint64_t offset = left * pixelBits / 8;
      uint64_t bytes = std::min(tileRow, layout.scanline - offset);
      for (uint32_t r = 0; r < bandRows && r * tileRow < tileSize; ++r)
        std::memcpy(band.get() + layout.scanline * r + offset,
                    tile.get() + tileRow * r, size_t(bytes));
    }
    ConvertBand(layout, band.get(), top, bandRows, picture);
  }
  return true;
}

Picture DecodeOpenTiff(TIFF* tif, std::string& reason) {
  TiffLayout layout;
  if (!ReadLayout(tif, layout, reason) || !ChooseForm(layout, reason))
    return nullptr;
  Picture picture = CreateTiffPicture(tif, layout, reason);
  if (!picture) return nullptr;
  bool read = TIFFIsTiled(tif) ? ReadTiles(tif, layout, picture, reason)
                               : ReadStrips(tif, layout, picture, reason);
  if (!read) return nullptr;
  return picture;
}

}  // namespace

Picture DecodeTiffData(const uint8_t* data, size_t size) {
  if (!data || !HasTiffMagic(data, size)) {
    NoteLoadFailure("not a TIFF file");
    return nullptr;
  }
  MemoryFile file{data, size, 0};
  std::string reason;
  TiffHandle tif = OpenMemoryTiff(file, reason);
  Picture picture = tif ? DecodeOpenTiff(tif.get(), reason) : nullptr;
  if (!picture) {
    NoteLoadFailure("TIFF: " + (reason.empty() ? "cannot be read" : reason));
    return nullptr;
  }
  return picture;
}

Picture DecodeTiff(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadFilePrefix(path, 4, bytes)) return nullptr;
  if (!HasTiffMagic(bytes.data(), bytes.size())) {
    NoteLoadFailure("not a TIFF file");
    return nullptr;
  }
  if (!ReadWholeFile(path, bytes)) return nullptr;
  return DecodeTiffData(bytes.data(), bytes.size());
}

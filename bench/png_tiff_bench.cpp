// PNG and TIFF loading against bare library reads of the same bytes.
//
// The files are made once at start-up: a 4000 x 3000 RGB photograph-like
// picture (smooth shading with a little noise) as a PNG (default filters,
// compression level 6) and as TIFFs with LZW and horizontal prediction and
// uncompressed, 16 rows a strip.  The bare reads decode into one plain
// buffer and convert nothing.
#include <benchmark/benchmark.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "image/png_reader.h"
#include "image/tiff_reader.h"

namespace {

constexpr uint32_t kWidth = 4000, kHeight = 3000;
constexpr uint32_t kRowsPerStrip = 16;

std::vector<uint8_t> MakePixels() {
  std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
  uint32_t noise = 12345;
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      noise = noise * 1103515245 + 12345;
      int n = int((noise >> 16) & 7) - 3;
      uint8_t* p = &rgb[(size_t{y} * kWidth + x) * 3];
      p[0] = uint8_t(x * 255 / kWidth + n);
      p[1] = uint8_t(y * 255 / kHeight + n);
      p[2] = uint8_t((x + y) / 28 + n);
    }
  }
  return rgb;
}

// --- writing ------------------------------------------------------------------

void AppendPng(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

std::vector<uint8_t> MakePng(const std::vector<uint8_t>& rgb) {
  std::vector<uint8_t> out;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) std::abort();
  png_set_write_fn(png, &out, AppendPng, nullptr);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < kHeight; ++y)
    png_write_row(png, &rgb[size_t{y} * kWidth * 3]);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// A growable memory file for libtiff, for writing and for reading back.
struct MemoryFile {
  std::vector<uint8_t> bytes;
  uint64_t pos = 0;
};

tmsize_t MemRead(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemoryFile*>(h);
  if (f->pos >= f->bytes.size()) return 0;
  size_t count = std::min<uint64_t>(uint64_t(n), f->bytes.size() - f->pos);
  std::memcpy(buf, f->bytes.data() + f->pos, count);
  f->pos += count;
  return tmsize_t(count);
}

tmsize_t MemWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemoryFile*>(h);
  if (f->pos + uint64_t(n) > f->bytes.size()) f->bytes.resize(f->pos + n);
  std::memcpy(f->bytes.data() + f->pos, buf, size_t(n));
  f->pos += uint64_t(n);
  return n;
}

toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<MemoryFile*>(h);
  uint64_t base = whence == SEEK_CUR ? f->pos
                  : whence == SEEK_END ? f->bytes.size()
                                       : 0;
  f->pos = base + off;
  return f->pos;
}

int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<MemoryFile*>(h)->bytes.size(); }

int MemMap(thandle_t h, void** base, toff_t* size) {
  auto* f = static_cast<MemoryFile*>(h);
  *base = f->bytes.data();
  *size = f->bytes.size();
  return 1;
}

void MemUnmap(thandle_t, void*, toff_t) {}

TIFF* OpenMemory(MemoryFile& file, const char* mode) {
  return TIFFClientOpen("bench", mode, &file, MemRead, MemWrite, MemSeek,
                        MemClose, MemSize, MemMap, MemUnmap);
}

std::vector<uint8_t> MakeTiff(const std::vector<uint8_t>& rgb, bool lzw) {
  MemoryFile file;
  TIFF* tif = OpenMemory(file, "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
  TIFFSetField(tif, TIFFTAG_COMPRESSION,
               lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
  if (lzw) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  for (uint32_t y = 0; y < kHeight; ++y)
    TIFFWriteScanline(tif, const_cast<uint8_t*>(&rgb[size_t{y} * kWidth * 3]),
                      y, 0);
  TIFFClose(tif);
  return std::move(file.bytes);
}

struct Files {
  std::vector<uint8_t> png, tiffLzw, tiffRaw;
};

const Files& TheFiles() {
  static const Files files = [] {
    std::vector<uint8_t> rgb = MakePixels();
    return Files{MakePng(rgb), MakeTiff(rgb, true), MakeTiff(rgb, false)};
  }();
  return files;
}

// --- bare reads -----------------------------------------------------------------

struct PngBytes {
  const uint8_t* data;
  size_t size, pos;
};

void ReadPngBytes(png_structp png, png_bytep out, size_t n) {
  auto* src = static_cast<PngBytes*>(png_get_io_ptr(png));
  if (n > src->size - src->pos) png_error(png, "short");
  std::memcpy(out, src->data + src->pos, n);
  src->pos += n;
}

bool BarePngRead(const std::vector<uint8_t>& file, std::vector<uint8_t>& image,
                 std::vector<png_bytep>& rows) {
  PngBytes src{file.data(), file.size(), 0};
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &src, ReadPngBytes);
  png_read_info(png, info);
  size_t rowBytes = png_get_rowbytes(png, info);
  uint32_t height = png_get_image_height(png, info);
  image.resize(rowBytes * height);
  rows.resize(height);
  for (uint32_t y = 0; y < height; ++y) rows[y] = &image[rowBytes * y];
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// Reading needs no copy: the bytes are mapped as they are.
struct ConstFile {
  const uint8_t* data;
  uint64_t size, pos;
};

tmsize_t ConstRead(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<ConstFile*>(h);
  if (f->pos >= f->size) return 0;
  size_t count = std::min<uint64_t>(uint64_t(n), f->size - f->pos);
  std::memcpy(buf, f->data + f->pos, count);
  f->pos += count;
  return tmsize_t(count);
}

tmsize_t ConstWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t ConstSeek(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<ConstFile*>(h);
  uint64_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->size : 0;
  return f->pos = base + off;
}

toff_t ConstSize(thandle_t h) { return static_cast<ConstFile*>(h)->size; }

int ConstMap(thandle_t h, void** base, toff_t* size) {
  auto* f = static_cast<ConstFile*>(h);
  *base = const_cast<uint8_t*>(f->data);
  *size = f->size;
  return 1;
}

bool BareTiffRead(const std::vector<uint8_t>& bytes,
                  std::vector<uint8_t>& image) {
  ConstFile file{bytes.data(), bytes.size(), 0};
  TIFF* tif = TIFFClientOpen("bench", "r", &file, ConstRead, ConstWrite,
                             ConstSeek, MemClose, ConstSize, ConstMap,
                             MemUnmap);
  if (!tif) return false;
  tmsize_t stripSize = TIFFStripSize(tif);
  uint32_t strips = TIFFNumberOfStrips(tif);
  image.resize(size_t(stripSize) * strips);
  bool ok = true;
  for (uint32_t s = 0; s < strips && ok; ++s)
    ok = TIFFReadEncodedStrip(tif, s, &image[size_t(stripSize) * s],
                              stripSize) >= 0;
  TIFFClose(tif);
  return ok;
}

// --- benchmarks -----------------------------------------------------------------

void BM_PngDecode(benchmark::State& state) {
  const std::vector<uint8_t>& file = TheFiles().png;
  for (auto _ : state) {
    Picture picture = DecodePngData(file.data(), file.size());
    if (!picture) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(picture.get());
  }
}

void BM_PngBareLibpng(benchmark::State& state) {
  const std::vector<uint8_t>& file = TheFiles().png;
  for (auto _ : state) {
    std::vector<uint8_t> image;
    std::vector<png_bytep> rows;
    if (!BarePngRead(file, image, rows)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(image.data());
  }
}

void TiffDecode(benchmark::State& state, const std::vector<uint8_t>& file) {
  for (auto _ : state) {
    Picture picture = DecodeTiffData(file.data(), file.size());
    if (!picture) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(picture.get());
  }
}

void TiffBare(benchmark::State& state, const std::vector<uint8_t>& file) {
  for (auto _ : state) {
    std::vector<uint8_t> image;
    if (!BareTiffRead(file, image)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(image.data());
  }
}

void BM_TiffLzwDecode(benchmark::State& s) { TiffDecode(s, TheFiles().tiffLzw); }
void BM_TiffLzwBareLibtiff(benchmark::State& s) { TiffBare(s, TheFiles().tiffLzw); }
void BM_TiffRawDecode(benchmark::State& s) { TiffDecode(s, TheFiles().tiffRaw); }
void BM_TiffRawBareLibtiff(benchmark::State& s) { TiffBare(s, TheFiles().tiffRaw); }

BENCHMARK(BM_PngDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngBareLibpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffLzwDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffLzwBareLibtiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffRawDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffRawBareLibtiff)->Unit(benchmark::kMillisecond);

}  // namespace

// PNG and PNS reading through libpng, from memory.
//
// Transparency is resolved against white here, so that every picture that
// leaves the reader is opaque: palette entries are blended with white by
// their alpha, pixels with an alpha channel are blended with white, and a
// truecolour or grey file's transparent colour becomes white.
#include "image/png_reader.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "image/comment.h"
#include "image/file_data.h"

namespace {

constexpr size_t kSignatureBytes = 8;
// A compressed text chunk that starts this early is dropped before decoding.
constexpr size_t kZtxtScanBytes = 1000;
// Longer text is a description or a dump, not a caption worth drawing.
constexpr size_t kCommentLimit = 250;
// Room for inflated text and profile chunks, whatever the file's size.
constexpr size_t kChunkLimit = size_t{8} << 20;
// The display gamma pictures are corrected for, in libpng's fixed point.
constexpr png_fixed_point kScreenGamma = 220000;

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | p[3];
}

// The bytes libpng reads: the whole buffer except, optionally, one chunk.
struct PngSource {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  size_t skipBegin = 0;  // [skipBegin, skipEnd) is never handed to libpng
  size_t skipEnd = 0;
};

void ReadPngBytes(png_structp png, png_bytep out, size_t length) {
  auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
  while (length > 0) {
    if (src->pos == src->skipBegin) src->pos = src->skipEnd;
    size_t end = src->pos < src->skipBegin ? src->skipBegin : src->size;
    size_t n = std::min(length, end - src->pos);
    if (n == 0) png_error(png, "data ends early");
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
    out += n;
    length -= n;
  }
}

// True when a chunk begins at `offset`, found by walking the chunk lengths
// from the signature.  Guards against "zTXt" appearing inside other data,
// where cutting would corrupt the file.
bool ChunkStartsAt(const uint8_t* data, size_t size, size_t offset) {
  size_t pos = kSignatureBytes;
  while (pos < offset && pos + 8 <= size) {
    uint64_t next = uint64_t{pos} + 12 + BigEndian32(data + pos);
    if (next > size) return false;
    pos = static_cast<size_t>(next);
  }
  return pos == offset;
}

// True when every chunk up to IEND lies within the data.  libpng would
// fail on such a file anyway, but only after allocating (and clearing) a
// buffer of the length the broken chunk announces.
bool ChunksFitInData(const uint8_t* data, size_t size) {
  size_t pos = kSignatureBytes;
  while (pos + 8 <= size) {
    uint64_t next = uint64_t{pos} + 12 + BigEndian32(data + pos);
    if (next > size) return false;
    if (std::memcmp(data + pos + 4, "IEND", 4) == 0) return true;
    pos = static_cast<size_t>(next);
  }
  return true;
}

// The last "zTXt" within the first kZtxtScanBytes bytes marks the chunk to
// drop: its length, type, data and CRC.  Nothing is dropped when that chunk
// would run past the end of the data or is not a real chunk.
void FindDroppedZtxt(PngSource& src) {
  src.skipBegin = src.skipEnd = src.size;
  size_t scan = std::min(src.size, kZtxtScanBytes);
  size_t last = 0;
  for (size_t z = 1; z + 4 <= scan; ++z)
    if (std::memcmp(src.data + z, "zTXt", 4) == 0) last = z;
  if (last < 4) return;
  size_t begin = last - 4;
  uint64_t end = uint64_t{last} + 8 + BigEndian32(src.data + begin);
  if (end > src.size || !ChunkStartsAt(src.data, src.size, begin)) return;
  src.skipBegin = begin;
  src.skipEnd = static_cast<size_t>(end);
}

// How a row as libpng delivers it becomes a picture row.
enum class RowForm {
  Direct,   // libpng's row is the picture row (packed indices, BGR)
  Widen2,   // 2-bit samples widened to 4-bit nibbles
  High16,   // 16-bit samples: the high byte of each
  Blend8,   // BGRA, blended with white
  Blend16,  // 16-bit BGRA, high bytes blended with white
};

struct ByteBuffer {
  std::unique_ptr<uint8_t[]> bytes;
  bool Allocate(size_t count) {
    bytes.reset(new (std::nothrow) uint8_t[count]);
    return bytes != nullptr;
  }
  uint8_t* get() const { return bytes.get(); }
};

// Everything a decode owns.  It lives outside the function that sets the
// libpng recovery point, so that a jump back skips no destructor.
struct PngJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngSource source;
  std::string error;
  Picture picture;
  RowForm form = RowForm::Direct;
  int pictureBits = 0;
  int rampEntries = 0;        // grey pictures: entries of the grey ramp
  double rampExponent = 1.0;  // gamma applied to the ramp's levels
  ByteBuffer row;             // one libpng row, for converted forms
  ByteBuffer image;           // all libpng rows of an interlaced file
  std::unique_ptr<png_bytep[]> rowPointers;

  ~PngJob() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  job->error = message ? message : "libpng error";
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// libpng corrects only when file gamma x screen gamma is more than 5% away
// from 1; the ramp of low-depth grey files follows the same rule.
bool GammaSignificant(png_fixed_point fileGamma) {
  double product = std::floor(double(fileGamma) * kScreenGamma * 1e-5 + .5);
  return product < 95000 || product > 105000;
}

// The comment comes from the first text chunk read before the image data.
void TakeComment(png_structp png, png_infop info) {
  ClearCurrentComment();
  png_textp text = nullptr;
  int count = 0;
  if (png_get_text(png, info, &text, &count) <= 0 || count <= 0 || !text)
    return;
  // International text keeps its length apart from the Latin-1 kinds.
  size_t length = text[0].compression > 0 ? text[0].itxt_length
                                          : text[0].text_length;
  if (text[0].text && length < kCommentLimit)
    SetCurrentComment(reinterpret_cast<const uint8_t*>(text[0].text), length);
}

// Chooses the libpng transformations and how rows become the picture.
void ConfigureTransforms(PngJob& job, int depth, int colourType) {
  png_structp png = job.png;
  png_infop info = job.info;
  bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  png_fixed_point fileGamma = 0;
  bool hasGamma = png_get_gAMA_fixed(png, info, &fileGamma) != 0 &&
                  fileGamma > 0;
  bool libpngGamma = hasGamma;
  if (hasTrns && depth == 16) png_set_strip_16(png);
  png_set_bgr(png);
  job.rampEntries = 0;

  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    job.pictureBits = depth == 2 ? 4 : depth;
    job.form = depth == 2 ? RowForm::Widen2 : RowForm::Direct;
  } else if ((colourType == PNG_COLOR_TYPE_GRAY ||
              colourType == PNG_COLOR_TYPE_RGB) && hasTrns) {
    // The transparent colour is matched by libpng on the samples as stored,
    // before gamma and before 16-bit samples are cut to 8; matching after
    // either would miss pixels or hit the wrong ones.
    png_set_tRNS_to_alpha(png);
    png_set_gray_to_rgb(png);
    job.pictureBits = 24;
    job.form = RowForm::Blend8;
  } else if (colourType == PNG_COLOR_TYPE_GRAY) {
    // Grey levels are read as single samples: expanded to RGB they would be
    // three equal channels.  Depths 1, 2 and 4 stay packed; libpng would
    // re-quantise gamma-corrected levels to those depths, so the gamma goes
    // into the grey ramp instead, computed as libpng does for 8-bit levels.
    job.rampEntries = depth >= 8 ? 256 : 1 << depth;
    if (depth < 8) {
      libpngGamma = false;
      if (hasGamma && GammaSignificant(fileGamma))
        job.rampExponent =
            std::floor(1e15 / fileGamma / kScreenGamma + .5) * 1e-5;
    }
    job.pictureBits = depth == 16 ? 8 : depth == 2 ? 4 : depth;
    job.form = depth == 16  ? RowForm::High16
               : depth == 2 ? RowForm::Widen2
                            : RowForm::Direct;
  } else if (colourType == PNG_COLOR_TYPE_RGB) {
    job.pictureBits = 24;
    job.form = depth == 16 ? RowForm::High16 : RowForm::Direct;
  } else {  // grey with alpha, RGBA
    png_set_gray_to_rgb(png);
    job.pictureBits = 24;
    job.form = depth == 16 ? RowForm::Blend16 : RowForm::Blend8;
  }
  if (libpngGamma) png_set_gamma_fixed(png, kScreenGamma, fileGamma);
}

uint8_t OverWhite(int colour, int alpha) {
  int x = alpha * colour + (255 - alpha) * 255 + 128;
  return static_cast<uint8_t>((x + (x >> 8)) >> 8);
}

void FillPaletteTable(PngJob& job, uint8_t* table, int entries) {
  png_colorp palette = nullptr;
  int count = 0;
  // Read after the transformations are set up: libpng gamma-corrects the
  // palette itself.
  png_get_PLTE(job.png, job.info, &palette, &count);
  png_bytep alpha = nullptr;
  int alphaCount = 0;
  png_get_tRNS(job.png, job.info, &alpha, &alphaCount, nullptr);
  if (!alpha) alphaCount = 0;
  count = std::min(count, entries);
  for (int k = 0; k < count; ++k) {
    int a = k < alphaCount ? alpha[k] : 255;
    uint8_t* entry = table + 4 * k;
    entry[0] = static_cast<uint8_t>(palette[k].blue * a / 255 + (255 - a));
    entry[1] = static_cast<uint8_t>(palette[k].green * a / 255 + (255 - a));
    entry[2] = static_cast<uint8_t>(palette[k].red * a / 255 + (255 - a));
  }
}

void FillGreyRamp(const PngJob& job, uint8_t* table) {
  int entries = job.rampEntries;
  for (int k = 0; k < entries; ++k) {
    double level = k * 255 / (entries - 1);
    if (job.rampExponent != 1.0)
      level = std::floor(255 * std::pow(level / 255, job.rampExponent) + .5);
    std::memset(table + 4 * k, static_cast<int>(level), 3);
  }
}

bool CreatePngPicture(PngJob& job, int width, int height, int colourType,
                      int depth) {
  job.picture = CreatePicture(width, height, job.pictureBits);
  if (!job.picture) {
    job.error = "out of memory";
    return false;
  }
  if (job.pictureBits > 8) return true;
  BitmapInfoHeader* header = PictureHeader(job.picture);
  // A widened 2-bit picture uses only the first four entries.
  if (depth == 2) header->biClrUsed = 4;
  int entries = ColourTableEntries(*header);
  uint8_t* table = job.picture.get() + header->biSize;
  if (colourType == PNG_COLOR_TYPE_PALETTE)
    FillPaletteTable(job, table, entries);
  else
    FillGreyRamp(job, table);
  return true;
}

void Widen2To4(const uint8_t* src, uint8_t* dst, int width) {
  for (int i = 0; i < (width + 3) / 4; ++i) {
    uint8_t b = src[i];
    dst[2 * i] = static_cast<uint8_t>(((b >> 2) & 0x30) | ((b >> 4) & 0x03));
    dst[2 * i + 1] = static_cast<uint8_t>(((b << 2) & 0x30) | (b & 0x03));
  }
}

void ConvertRow(const PngJob& job, const uint8_t* src, uint8_t* dst,
                int width) {
  switch (job.form) {
    case RowForm::Direct:
      break;
    case RowForm::Widen2:
      Widen2To4(src, dst, width);
      break;
    case RowForm::High16: {
      // libpng hands 16-bit samples over most significant byte first.
      int samples = job.pictureBits == 24 ? 3 * width : width;
      for (int i = 0; i < samples; ++i) dst[i] = src[2 * i];
      break;
    }
    case RowForm::Blend8:
    case RowForm::Blend16: {
      int step = job.form == RowForm::Blend8 ? 1 : 2;
      for (int x = 0; x < width; ++x, src += 4 * step, dst += 3) {
        int a = src[3 * step];
        if (a == 255) {
          dst[0] = src[0], dst[1] = src[step], dst[2] = src[2 * step];
        } else if (a == 0) {
          dst[0] = dst[1] = dst[2] = 255;
        } else {
          for (int c = 0; c < 3; ++c) dst[c] = OverWhite(src[c * step], a);
        }
      }
      break;
    }
  }
}

bool PrepareRowBuffers(PngJob& job, int height, bool interlaced) {
  size_t rowBytes = png_get_rowbytes(job.png, job.info);
  bool direct = job.form == RowForm::Direct;
  if (!interlaced) {
    if (direct || job.row.Allocate(rowBytes)) return true;
    job.error = "out of memory";
    return false;
  }
  job.rowPointers.reset(new (std::nothrow) png_bytep[height]);
  if (!job.rowPointers ||
      (!direct && !job.image.Allocate(rowBytes * size_t(height)))) {
    job.error = "out of memory";
    return false;
  }
  for (int y = 0; y < height; ++y) {
    job.rowPointers[y] = direct ? PictureRow(job.picture.get(), height - 1 - y)
                                : job.image.get() + rowBytes * size_t(y);
  }
  return true;
}

// Reads every row into the picture, top row last in storage.  Interlaced
// files need all passes in memory before a row is complete.
void ReadImageRows(PngJob& job, int width, int height, bool interlaced) {
  bool direct = job.form == RowForm::Direct;
  if (interlaced) {
    png_read_image(job.png, job.rowPointers.get());
    if (direct) return;
    for (int y = 0; y < height; ++y)
      ConvertRow(job, job.rowPointers[y],
                 PictureRow(job.picture.get(), height - 1 - y), width);
    return;
  }
  for (int y = 0; y < height; ++y) {
    uint8_t* dst = PictureRow(job.picture.get(), height - 1 - y);
    png_read_row(job.png, direct ? dst : job.row.get(), nullptr);
    ConvertRow(job, job.row.get(), dst, width);
  }
}

// Only trivially destructible locals here: libpng errors jump back to the
// setjmp below, over this frame's callees.
bool RunDecode(PngJob& job) {
  if (setjmp(png_jmpbuf(job.png))) return false;
  png_set_read_fn(job.png, &job.source, ReadPngBytes);
  png_set_sig_bytes(job.png, kSignatureBytes);
  png_set_user_limits(job.png, kMaxPictureSide, kMaxPictureSide);
  // No ancillary chunk can hold more than the data; text may inflate some.
  png_set_chunk_malloc_max(job.png, std::max(job.source.size, kChunkLimit));
  png_read_info(job.png, job.info);

  png_uint_32 width = 0, height = 0;
  int depth = 0, colourType = 0, interlace = 0;
  png_get_IHDR(job.png, job.info, &width, &height, &depth, &colourType,
               &interlace, nullptr, nullptr);
  if (!PictureSizeAllowed(width, height)) {
    job.error = "picture size not allowed";
    return false;
  }
  TakeComment(job.png, job.info);
  ConfigureTransforms(job, depth, colourType);
  bool interlaced = interlace != PNG_INTERLACE_NONE;
  if (interlaced) png_set_interlace_handling(job.png);
  png_read_update_info(job.png, job.info);

  int w = static_cast<int>(width), h = static_cast<int>(height);
  if (!CreatePngPicture(job, w, h, colourType, depth) ||
      !PrepareRowBuffers(job, h, interlaced))
    return false;
  ReadImageRows(job, w, h, interlaced);
  png_read_end(job.png, nullptr);
  return true;
}

}  // namespace

Picture DecodePngData(const uint8_t* data, size_t size) {
  if (!data || size < kSignatureBytes || png_sig_cmp(data, 0, 8) != 0) {
    NoteLoadFailure("not a PNG file");
    return nullptr;
  }
  if (!ChunksFitInData(data, size)) {
    NoteLoadFailure("PNG: a chunk runs past the end of the data");
    return nullptr;
  }
  PngJob job;
  job.source.data = data;
  job.source.size = size;
  job.source.pos = kSignatureBytes;
  FindDroppedZtxt(job.source);
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, OnPngError,
                                   OnPngWarning);
  if (job.png) job.info = png_create_info_struct(job.png);
  if (!job.png || !job.info) {
    NoteLoadFailure("out of memory");
    return nullptr;
  }
  if (!RunDecode(job)) {
    NoteLoadFailure("PNG: " + job.error);
    return nullptr;
  }
  return std::move(job.picture);
}

Picture DecodePng(const std::string& path) {
  std::vector<uint8_t> bytes;
  // The signature decides before a large file of another kind is read.
  if (!ReadFilePrefix(path, kSignatureBytes, bytes)) return nullptr;
  if (bytes.size() < kSignatureBytes || png_sig_cmp(bytes.data(), 0, 8) != 0) {
    NoteLoadFailure("not a PNG file");
    return nullptr;
  }
  if (!ReadWholeFile(path, bytes)) return nullptr;
  return DecodePngData(bytes.data(), bytes.size());
}

#include "cli/png_write.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct WriteContext {
  png_structp png = nullptr;
  png_infop info = nullptr;
  FILE* file = nullptr;
  ~WriteContext() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    if (file) std::fclose(file);
  }
};

// What the rows in memory hold: B, G, R per pixel, with a fourth byte to
// drop after each pixel when `filler` is set (the framebuffer's layout).
struct RowLayout {
  int width = 0;
  int height = 0;
  bool filler = false;
  bool alpha = false;  // keep the fourth byte as the PNG's alpha
};

void RaiseError(png_structp png, png_const_charp message) {
  auto* error = static_cast<std::string*>(png_get_error_ptr(png));
  *error = message;
  png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

// Kept apart from WritePng so that no C++ object with a destructor lives in
// the frame that setjmp returns to twice.
bool WriteRows(WriteContext& ctx, const RowLayout& layout,
               std::vector<png_bytep>& rows) {
  if (setjmp(png_jmpbuf(ctx.png))) return false;
  png_init_io(ctx.png, ctx.file);
  // Speed first: the "sub" filter with run-length deflate at level 1 writes
  // a 1080p frame two to three times faster than level 3 with libpng's
  // adaptive filter choice, and photographs come out no larger.
  png_set_compression_level(ctx.png, 1);
  png_set_compression_strategy(ctx.png, Z_RLE);
  png_set_filter(ctx.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_IHDR(ctx.png, ctx.info, layout.width, layout.height, 8,
               layout.alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(ctx.png, ctx.info);
  png_set_bgr(ctx.png);
  if (layout.filler) png_set_filler(ctx.png, 0, PNG_FILLER_AFTER);
  png_write_image(ctx.png, rows.data());
  png_write_end(ctx.png, nullptr);
  return true;
}

bool WritePng(const RowLayout& layout, std::vector<png_bytep>& rows,
              const std::string& path, std::string& error) {
  WriteContext ctx;
  ctx.file = std::fopen(path.c_str(), "wb");
  if (!ctx.file) {
    error = std::string("cannot create: ") + std::strerror(errno);
    return false;
  }
  ctx.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, RaiseError,
                                    IgnoreWarning);
  if (ctx.png) ctx.info = png_create_info_struct(ctx.png);
  if (!ctx.png || !ctx.info) {
    error = "out of memory";
    std::remove(path.c_str());
    return false;
  }
  bool ok = WriteRows(ctx, layout, rows);
  if (ok && std::fflush(ctx.file) != 0) {
    error = std::string("write failed: ") + std::strerror(errno);
    ok = false;
  }
  if (std::fclose(ctx.file) != 0 && ok) {
    error = std::string("write failed: ") + std::strerror(errno);
    ok = false;
  }
  ctx.file = nullptr;
  if (!ok) std::remove(path.c_str());
  return ok;
}

}  // namespace

bool WritePicturePng(const Picture& picture, const std::string& path,
                     std::string& error) {
  if (!picture || PictureBits(picture) != 24) {
    error = "not a 24-bit picture";
    return false;
  }
  // Pictures are stored bottom-up; PNG rows run top-down.
  RowLayout layout{PictureWidth(picture), PictureHeight(picture), false};
  std::vector<png_bytep> rows(layout.height);
  for (int y = 0; y < layout.height; ++y)
    rows[y] = PictureRow(picture.get(), layout.height - 1 - y);
  return WritePng(layout, rows, path, error);
}

bool WriteFramebufferPng(const Framebuffer& fb, const std::string& path,
                         std::string& error, bool keepAlpha) {
  if (fb.width <= 0 || fb.height <= 0) {
    error = "empty framebuffer";
    return false;
  }
  // 0xFFRRGGBB words are the bytes B, G, R, 0xFF in memory.
  RowLayout layout{fb.width, fb.height, !keepAlpha, keepAlpha};
  std::vector<png_bytep> rows(layout.height);
  for (int y = 0; y < layout.height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(const_cast<uint32_t*>(fb.Row(y)));
  return WritePng(layout, rows, path, error);
}

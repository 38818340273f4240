#include "cli/png_write.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
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

// Where the bytes go first: a new file beside `path`, renamed over it when
// complete, so that no reader ever sees half a picture and a failure leaves
// what was there.  A path that exists as something other than a regular
// file (a device, a pipe) is written in place.  Sets `file` and `temp`
// (empty when writing in place).
bool OpenOutput(const std::string& path, PngOutput output, std::FILE*& file,
                std::string& temp, std::string& error) {
  struct stat st;
  if (output == PngOutput::InPlace ||
      (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))) {
    temp.clear();
    file = std::fopen(path.c_str(), "wb");
  } else {
    static std::atomic<unsigned> counter{0};
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    int fd = -1;
    // A short name of its own: one made from a long output name could pass
    // the longest name the folder takes.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      temp = folder + ".duoramic-" + std::to_string(::getpid()) + "-" +
             std::to_string(counter++) + ".png.tmp";
      // The mode the umask leaves, as a file fopen creates has.
      fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) break;
    }
    file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && !file) {
      int saved = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      errno = saved;
    }
  }
  if (!file) error = std::string("cannot create: ") + std::strerror(errno);
  return file != nullptr;
}

bool WritePng(const RowLayout& layout, std::vector<png_bytep>& rows,
              const std::string& path, std::string& error,
              PngOutput output = PngOutput::Replace) {
  WriteContext ctx;
  std::string temp;
  if (!OpenOutput(path, output, ctx.file, temp, error)) return false;
  ctx.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, RaiseError,
                                    IgnoreWarning);
  if (ctx.png) ctx.info = png_create_info_struct(ctx.png);
  if (!ctx.png || !ctx.info) {
    error = "out of memory";
    if (!temp.empty()) std::remove(temp.c_str());
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
  if (ok && !temp.empty() && std::rename(temp.c_str(), path.c_str()) != 0) {
    error = std::string("cannot replace: ") + std::strerror(errno);
    ok = false;
  }
  // What was written in place stays: it is the caller's file.
  if (!ok && !temp.empty()) std::remove(temp.c_str());
  return ok;
}

}  // namespace

bool WritePicturePng(const Picture& picture, const std::string& path,
                     std::string& error, PngOutput output) {
  if (!picture || PictureBits(picture) != 24) {
    error = "not a 24-bit picture";
    return false;
  }
  // Pictures are stored bottom-up; PNG rows run top-down.
  RowLayout layout{PictureWidth(picture), PictureHeight(picture), false};
  std::vector<png_bytep> rows(layout.height);
  for (int y = 0; y < layout.height; ++y)
    rows[y] = PictureRow(picture.get(), layout.height - 1 - y);
  return WritePng(layout, rows, path, error, output);
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

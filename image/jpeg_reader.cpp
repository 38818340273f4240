// JPEG decoding through libjpeg's version 6 interface: straight into the
// bottom-up B,G,R rows of a picture, optionally cropped on the way.
#include "image/jpeg_reader.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/jpeg_comment.h"

namespace {

// A progressive stream may carry any number of scans, each one a pass over
// the whole picture; real files have a dozen at most.  Without a bound a
// small hostile file costs minutes.
constexpr int kMaxScans = 500;
// What a scan costs is a pass over every block, however few bytes it
// takes: an arithmetic-coded scan of a huge picture can be 20 bytes.  The
// work (scans x blocks) is bounded by the file's size: a Huffman-coded
// picture spends at least a bit per block on its DC scan, so files of up to
// kWorkPerByte / 8 scans always pass, and the base lets small files through.
constexpr uint64_t kBaseWork = uint64_t{8} << 20;
constexpr uint64_t kWorkPerByte = 256;

// Rows handed to the library per call.
constexpr JDIMENSION kRowBatch = 16;

constexpr JOCTET kStartOfImage[2] = {0xFF, 0xD8};
constexpr JOCTET kEndOfImage[2] = {0xFF, 0xD9};

// ---------------------------------------------------------------------------
// Library glue

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf recovery;
};

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  // The library asks for a backing store when its buffers pass the
  // memory budget; there is none by design.
  if (cinfo->err->msg_code == JERR_NO_BACKING_STORE)
    std::snprintf(message, sizeof message,
                  "needs more decoding memory than the %llu MB allowed",
                  static_cast<unsigned long long>(DecodeMemoryLimit() >> 20));
  NoteLoadFailure(message);
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->recovery, 1);
}

// Warnings (corrupt data, a premature end) are not failures; the library
// goes on and so do we, without printing.  A premature end is noted: the
// rows past it are grey, and the user should know why.
void KeepQuiet(j_common_ptr) {}

void NoteWarnings(j_common_ptr cinfo, int level) {
  if (level == -1 && cinfo->err->msg_code == JWRN_JPEG_EOF)
    NoteLoadWarning("the file ends early");
  if (level == -1) ++cinfo->err->num_warnings;
}

thread_local const std::atomic<bool>* cancelFlag = nullptr;

std::atomic<uint64_t> decodeMemoryLimit{kViewerDecodeMemory};

// The progress monitor with what bounds the decode's work.
struct WorkMonitor {
  jpeg_progress_mgr pub;
  uint64_t blocksPerScan = 0;  // every component's blocks; 0 until known
  uint64_t workLimit = 0;
};

// The library calls this for every batch of rows: the place to give up.
void LimitScans(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  auto* monitor = reinterpret_cast<WorkMonitor*>(cinfo->progress);
  const char* reason = nullptr;
  if (d->input_scan_number > kMaxScans) reason = "too many scans";
  else if (uint64_t(d->input_scan_number) * monitor->blocksPerScan >
           monitor->workLimit)
    reason = "too much decoding work for the file's size";
  if (cancelFlag && cancelFlag->load(std::memory_order_relaxed))
    reason = "cancelled";
  if (reason) {
    NoteLoadFailure(reason);
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->recovery, 1);
  }
}

// A memory source whose first two bytes are served as FF D8.  After the
// data it supplies an end-of-image marker, as the library's own memory
// source does.
struct PatchedStartSource {
  jpeg_source_mgr pub;
  const JOCTET* rest;
  size_t restSize;
  bool restGiven;
};

void NoInit(j_decompress_ptr) {}

boolean FillFromRest(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<PatchedStartSource*>(cinfo->src);
  if (!src->restGiven && src->restSize > 0) {
    src->restGiven = true;
    src->pub.next_input_byte = src->rest;
    src->pub.bytes_in_buffer = src->restSize;
    return TRUE;
  }
  src->restGiven = true;
  WARNMS(cinfo, JWRN_JPEG_EOF);
  src->pub.next_input_byte = kEndOfImage;
  src->pub.bytes_in_buffer = 2;
  return TRUE;
}

void SkipInRest(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  size_t left = static_cast<size_t>(count);
  while (left > src->bytes_in_buffer) {
    left -= src->bytes_in_buffer;
    (*src->fill_input_buffer)(cinfo);
  }
  src->next_input_byte += left;
  src->bytes_in_buffer -= left;
}

void InstallPatchedStartSource(j_decompress_ptr cinfo,
                               PatchedStartSource& source, const uint8_t* data,
                               size_t size) {
  source.pub.init_source = NoInit;
  source.pub.fill_input_buffer = FillFromRest;
  source.pub.skip_input_data = SkipInRest;
  source.pub.resync_to_restart = jpeg_resync_to_restart;
  source.pub.term_source = NoInit;
  source.pub.next_input_byte = kStartOfImage;
  source.pub.bytes_in_buffer = 2;
  source.rest = data + 2;
  source.restSize = size - 2;
  source.restGiven = false;
  cinfo->src = &source.pub;
}

struct Input {
  FILE* file = nullptr;
  JpegStream stream;
  int dx = 0, dy = 0;       // CropPicture amounts
  bool headerOnly = false;  // stop after the header (ReadJpegSize)
  int denominator = 1;      // decode at 1/denominator of the size
  bool fast = false;        // fastest transform, plain upsampling (measuring)
  bool leftHalf = false;    // only the left half (a side-by-side's left view)
};

// Everything the recovery point needs lives here, outside the frame that
// calls setjmp, so that nothing it reads after a jump is indeterminate.
struct DecodeJob {
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  WorkMonitor progress;
  PatchedStartSource patched;
  Picture picture;
  int width = 0, height = 0;
};

// ---------------------------------------------------------------------------
// Rows

// The CMYK rule: with k' = 255 - fourth sample, each channel is
// 255 - min((255 - sample) + k' / 3, 255).  Samples as the library
// delivers them (Adobe files store them inverted).
void CmykRowToBgr(const JSAMPLE* in, uint8_t* out, JDIMENSION width) {
  for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
    int third = (255 - in[3]) / 3;
    auto channel = [third](int sample) {
      int ink = (255 - sample) + third;
      return static_cast<uint8_t>(255 - (ink < 255 ? ink : 255));
    };
    out[0] = channel(in[2]);
    out[1] = channel(in[1]);
    out[2] = channel(in[0]);
  }
}

// The part of the decoded picture that is kept, as CropPicture keeps it:
// negative dx drops left columns, positive the right ones; negative dy
// drops bottom rows, positive the top ones.
struct Window {
  JDIMENSION firstColumn, width;     // of the decoded rows
  JDIMENSION firstScanline, height;  // scanlines count from the top
  bool Keeps(JDIMENSION scanline) const {
    return scanline >= firstScanline && scanline - firstScanline < height;
  }
};

bool WindowFor(JDIMENSION width, JDIMENSION height, int dx, int dy,
               Window& window) {
  JDIMENSION ax = static_cast<JDIMENSION>(dx < 0 ? -int64_t{dx} : dx);
  JDIMENSION ay = static_cast<JDIMENSION>(dy < 0 ? -int64_t{dy} : dy);
  if (ax >= width || ay >= height) return false;
  window = {dx < 0 ? ax : 0, width - ax, dy > 0 ? ay : 0, height - ay};
  return true;
}

// Allocates the result block and fills its header; the rows are filled by
// the caller, bottom-up.
Picture AllocateResult(JDIMENSION width, JDIMENSION height) {
  int w = static_cast<int>(width), h = static_cast<int>(height);
  size_t stride = static_cast<size_t>(RowStride(w, 24));
  Picture picture =
      AllocatePictureBlock(sizeof(BitmapInfoHeader) + stride * height);
  if (!picture) return nullptr;
  BitmapInfoHeader* header = PictureHeader(picture);
  header->biSize = sizeof(BitmapInfoHeader);
  header->biWidth = w;
  header->biHeight = h;
  header->biPlanes = 1;
  header->biBitCount = 24;
  header->biCompression = kBiRgb;
  header->biSizeImage = static_cast<uint32_t>(stride * height);
  return picture;
}

// The kept scanline s is the (s - firstScanline)th row from the top: the
// first decoded row is the top one, the last stored row.
uint8_t* KeptRow(uint8_t* block, const Window& window, JDIMENSION scanline) {
  return PictureRow(block, static_cast<int>(window.height - 1 -
                                            (scanline - window.firstScanline)));
}

// Whole rows: the library converts straight into the picture rows (grey to
// B,G,R repeats the sample, as the grey rule says).  Rows cropped away
// vertically go to a scratch batch.
void ReadWholeRows(DecodeJob& job, const Window& window) {
  j_decompress_ptr cinfo = &job.cinfo;
  JDIMENSION width = cinfo->output_width, height = cinfo->output_height;
  JSAMPARRAY scratch = nullptr;
  if (window.height != height)
    scratch = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                          JPOOL_IMAGE, width * 3, kRowBatch);
  JSAMPROW rows[kRowBatch];
  while (cinfo->output_scanline < height) {
    JDIMENSION first = cinfo->output_scanline;
    JDIMENSION count = height - first;
    if (count > kRowBatch) count = kRowBatch;
    for (JDIMENSION k = 0; k < count; ++k)
      rows[k] = window.Keeps(first + k)
                    ? KeptRow(job.picture.get(), window, first + k)
                    : scratch[k];
    if (jpeg_read_scanlines(cinfo, rows, count) == 0) break;
  }
}

// Rows cropped horizontally are decoded in place too: each row is written
// where its kept columns land, so its cropped columns fall on the rows
// beside it.  Those bytes are saved before and put back after, one row per
// call, so that no other row ever sees them; only a row whose cropped
// columns would fall outside the pixel area goes through a scratch row.
// This saves a copy of every pixel, a tenth of a camera file's load.
void ReadCroppedRows(DecodeJob& job, const Window& window) {
  j_decompress_ptr cinfo = &job.cinfo;
  JDIMENSION width = cinfo->output_width, height = cinfo->output_height;
  uint8_t* block = job.picture.get();
  uint8_t* pixels = PicturePixels(block);
  size_t imageBytes = PictureHeader(block)->biSizeImage;
  size_t rowBytes = 3 * size_t{width};
  size_t before = 3 * size_t{window.firstColumn};
  size_t kept = 3 * size_t{window.width};
  size_t after = rowBytes - before - kept;
  auto pool = reinterpret_cast<j_common_ptr>(cinfo);
  JSAMPROW scratch =
      (*cinfo->mem->alloc_sarray)(pool, JPOOL_IMAGE, width * 3, 1)[0];
  JSAMPROW saved = (*cinfo->mem->alloc_sarray)(
      pool, JPOOL_IMAGE, static_cast<JDIMENSION>(before + after), 1)[0];
  while (cinfo->output_scanline < height) {
    JDIMENSION scanline = cinfo->output_scanline;
    if (!window.Keeps(scanline)) {
      if (jpeg_read_scanlines(cinfo, &scratch, 1) != 1) break;
      continue;
    }
    uint8_t* row = KeptRow(block, window, scanline);
    size_t at = static_cast<size_t>(row - pixels);
    if (at < before || at - before + rowBytes > imageBytes) {
      if (jpeg_read_scanlines(cinfo, &scratch, 1) != 1) break;
      std::memcpy(row, scratch + before, kept);
      continue;
    }
    JSAMPROW target = row - before;
    std::memcpy(saved, target, before);
    std::memcpy(saved + before, row + kept, after);
    JDIMENSION got = jpeg_read_scanlines(cinfo, &target, 1);
    std::memcpy(target, saved, before);
    std::memcpy(row + kept, saved + before, after);
    if (got != 1) break;
  }
}

// CMYK goes through one row of samples.
void ReadCmykRows(DecodeJob& job, const Window& window) {
  j_decompress_ptr cinfo = &job.cinfo;
  JSAMPARRAY samples = (*cinfo->mem->alloc_sarray)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
      cinfo->output_width * cinfo->output_components, 1);
  while (cinfo->output_scanline < cinfo->output_height) {
    JDIMENSION scanline = cinfo->output_scanline;
    if (jpeg_read_scanlines(cinfo, samples, 1) != 1) break;
    if (window.Keeps(scanline))
      CmykRowToBgr(samples[0] + 4 * size_t{window.firstColumn},
                   KeptRow(job.picture.get(), window, scanline), window.width);
  }
}

void ReadRows(DecodeJob& job, const Window& window) {
  if (job.cinfo.out_color_space != JCS_EXT_BGR)
    ReadCmykRows(job, window);
  else if (window.width == job.cinfo.output_width)
    ReadWholeRows(job, window);
  else
    ReadCroppedRows(job, window);
}

// ---------------------------------------------------------------------------
// Decoding

}  // namespace

uint64_t DecodeMemoryLimit() { return decodeMemoryLimit.load(); }
void SetDecodeMemoryLimit(uint64_t bytes) { decodeMemoryLimit.store(bytes); }

namespace {

// The size of the compressed data, which bounds the work it may ask for.
uint64_t InputBytes(const Input& input) {
  if (!input.file) return input.stream.size;
  struct stat st;
  if (fstat(fileno(input.file), &st) != 0 || st.st_size < 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

// Returns false with job.picture empty on any failure.
bool RunDecode(DecodeJob& job, const Input& input) {
  j_decompress_ptr cinfo = &job.cinfo;
  cinfo->err = jpeg_std_error(&job.errors.pub);
  job.errors.pub.error_exit = JumpBack;
  job.errors.pub.output_message = KeepQuiet;
  job.errors.pub.emit_message = NoteWarnings;
  if (setjmp(job.errors.recovery)) {
    jpeg_destroy_decompress(cinfo);
    job.picture.reset();
    return false;
  }
  jpeg_create_decompress(cinfo);
  job.progress.pub.progress_monitor = LimitScans;
  cinfo->progress = &job.progress.pub;
  // Coefficient buffers beyond this are refused (there is no backing
  // store), before they are allocated.
  cinfo->mem->max_memory_to_use =
      static_cast<long>(std::min<uint64_t>(DecodeMemoryLimit(), LONG_MAX));
  if (input.file) {
    jpeg_stdio_src(cinfo, input.file);
  } else if (input.stream.patchedStart) {
    InstallPatchedStartSource(cinfo, job.patched, input.stream.data,
                              input.stream.size);
  } else {
    jpeg_mem_src(cinfo, input.stream.data,
                 static_cast<unsigned long>(input.stream.size));
  }
  jpeg_read_header(cinfo, TRUE);
  uint64_t blocks = 0;
  for (int c = 0; c < cinfo->num_components; ++c)
    blocks += uint64_t{cinfo->comp_info[c].width_in_blocks} *
              cinfo->comp_info[c].height_in_blocks;
  job.progress.blocksPerScan = blocks;
  job.progress.workLimit = kBaseWork + kWorkPerByte * InputBytes(input);
  job.width = static_cast<int>(cinfo->image_width);
  job.height = static_cast<int>(cinfo->image_height);
  if (input.headerOnly) {
    jpeg_destroy_decompress(cinfo);
    return true;
  }

  auto refuse = [&](const char* reason) {
    NoteLoadFailure(reason);
    jpeg_destroy_decompress(cinfo);
    return false;
  };
  switch (cinfo->num_components) {
    case 1:
    case 3: cinfo->out_color_space = JCS_EXT_BGR; break;
    case 4: cinfo->out_color_space = JCS_CMYK; break;
    default: {
      // The picture would be undefined; refuse it instead.
      char reason[64];
      std::snprintf(reason, sizeof reason, "%d colour components",
                    cinfo->num_components);
      return refuse(reason);
    }
  }
  if (!PictureSizeAllowed(cinfo->image_width, cinfo->image_height)) {
    return refuse(cinfo->image_width > kMaxPictureSide ||
                          cinfo->image_height > kMaxPictureSide
                      ? "picture larger than 65535 pixels"
                      : "picture too large");
  }
  if (input.denominator > 1) {
    // Scaled in the DCT domain.  A reduced picture for measuring puts
    // speed before the last bit of quality.
    cinfo->scale_num = 1;
    cinfo->scale_denom = static_cast<unsigned>(input.denominator);
    if (input.fast) {
      cinfo->dct_method = JDCT_IFAST;
      cinfo->do_fancy_upsampling = FALSE;
    }
  }
  jpeg_calc_output_dimensions(cinfo);
  Window window;
  if (input.leftHalf) {
    jpeg_start_decompress(cinfo);
    JDIMENSION kept = cinfo->output_width / 2;
    if (kept == 0) return refuse("picture is too narrow to hold two views");
    // The library skips the blocks right of the crop (it widens it to
    // whole blocks, so rows may stay wider than the half).
    JDIMENSION first = 0, width = kept;
    jpeg_crop_scanline(cinfo, &first, &width);
    window = {0, kept, 0, cinfo->output_height};
  } else {
    if (!WindowFor(cinfo->output_width, cinfo->output_height, input.dx,
                   input.dy, window))
      return refuse("the crop leaves no picture");
    jpeg_start_decompress(cinfo);
  }
  job.picture = AllocateResult(window.width, window.height);
  if (!job.picture) return refuse("out of memory");
  ReadRows(job, window);
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  return true;
}

std::unique_ptr<DecodeJob> Run(const Input& input, bool& ok) {
  auto job = std::make_unique<DecodeJob>();
  std::memset(&job->cinfo, 0, sizeof job->cinfo);
  ok = RunDecode(*job, input);
  return job;
}

Picture Decode(const Input& input) {
  bool ok = false;
  std::unique_ptr<DecodeJob> job = Run(input, ok);
  return ok ? std::move(job->picture) : nullptr;
}

bool UsableStream(const JpegStream& stream) {
  // The patched start needs the two bytes it stands in for.
  return stream.data ? !stream.patchedStart || stream.size >= 2
                     : stream.size == 0 && !stream.patchedStart;
}

struct FileClose {
  void operator()(FILE* f) const noexcept { std::fclose(f); }
};

}  // namespace

Picture DecodeJpeg(const std::string& path) {
  std::unique_ptr<FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    NoteLoadFailure(std::string("cannot open: ") + std::strerror(errno));
    return nullptr;
  }
  ReadJpegCommentBeforeDecodingFile(path);
  Input input;
  input.file = file.get();
  return Decode(input);
}

Picture DecodeJpegData(const uint8_t* data, size_t size) {
  return DecodeJpegStream({data, data ? size : 0, false});
}

Picture DecodeJpegStream(const JpegStream& stream, int dx, int dy) {
  if (!UsableStream(stream)) {
    NoteLoadFailure("no picture data");
    return nullptr;
  }
  ReadJpegCommentBeforeDecoding(stream.data, stream.size, stream.patchedStart);
  return DecodeJpegPixels(stream, dx, dy);
}

void SetDecodeCancelFlag(const std::atomic<bool>* flag) { cancelFlag = flag; }
const std::atomic<bool>* DecodeCancelFlag() { return cancelFlag; }

Picture DecodeJpegPixels(const JpegStream& stream, int dx, int dy) {
  if (!UsableStream(stream)) {
    NoteLoadFailure("no picture data");
    return nullptr;
  }
  Input input;
  input.stream = stream;
  input.dx = dx;
  input.dy = dy;
  return Decode(input);
}

namespace {

// The reduced decodes: the reduction must be one libjpeg scales by.
Picture DecodeReduced(const Input& input) {
  if (!UsableStream(input.stream) || !input.stream.data) {
    NoteLoadFailure("no picture data");
    return nullptr;
  }
  int d = input.denominator;
  if (d != 1 && d != 2 && d != 4 && d != 8) {
    NoteLoadFailure("reduction must be 1, 2, 4 or 8");
    return nullptr;
  }
  return Decode(input);
}

}  // namespace

Picture DecodeJpegPixelsReduced(const JpegStream& stream, int denominator,
                                int dx, int dy) {
  Input input;
  input.stream = stream;
  input.dx = dx;
  input.dy = dy;
  input.denominator = denominator;
  input.fast = true;
  return DecodeReduced(input);
}

bool ReadJpegSize(const JpegStream& stream, int& width, int& height) {
  if (!UsableStream(stream)) return false;
  Input input;
  input.stream = stream;
  input.headerOnly = true;
  bool ok = false;
  std::unique_ptr<DecodeJob> job = Run(input, ok);
  if (!ok) return false;
  width = job->width;
  height = job->height;
  return true;
}

Picture DecodeJpegReduced(const JpegStream& stream, int scaleDenom,
                          bool leftHalf) {
  Input input;
  input.stream = stream;
  input.denominator = scaleDenom;
  input.leftHalf = leftHalf;
  return DecodeReduced(input);
}

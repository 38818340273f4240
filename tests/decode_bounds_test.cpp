// Work bounds for hostile JPEGs: a small file whose scans each cost a pass
// over a huge picture is refused for the work it asks, not decoded for
// minutes; coefficient memory beyond the budget is refused before it is
// taken; ordinary progressive files within the same bounds decode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/file_data.h"
#include "image/jpeg_reader.h"
#include "stereo/thumbnail.h"
#include "tests/reader_support.h"
#include "tests/synthetic_jpeg.h"

namespace {

using synthetic::Bytes;

// Restores the decode memory budget when the test leaves.
class ScopedDecodeMemory {
 public:
  explicit ScopedDecodeMemory(uint64_t bytes) { SetDecodeMemoryLimit(bytes); }
  ~ScopedDecodeMemory() { SetDecodeMemoryLimit(saved_); }

 private:
  uint64_t saved_ = DecodeMemoryLimit();
};

// An arithmetic-coded progressive JPEG of a small grey picture whose frame
// header is made to declare width x height, its last scan repeated `scans`
// times: a few kilobytes that ask for scans passes over every block.
Bytes HostileJpeg(int width, int height, int scans) {
  synthetic::RawImage grey{16, 16, 3, JCS_RGB, Bytes(16 * 16 * 3, 128)};
  synthetic::CompressOptions options;
  options.progressive = true;
  options.arithmetic = true;
  Bytes file = synthetic::Compress(grey, options);
  size_t lastScan = 0;
  for (size_t i = 2; i + 8 < file.size(); ++i) {
    if (file[i] != 0xFF) continue;
    if (file[i + 1] == 0xCA) {  // progressive, arithmetic: the frame header
      file[i + 5] = uint8_t(height >> 8), file[i + 6] = uint8_t(height);
      file[i + 7] = uint8_t(width >> 8), file[i + 8] = uint8_t(width);
    }
    if (file[i + 1] == 0xDA) lastScan = i;
  }
  EXPECT_GT(lastScan, 0u);
  Bytes scan(file.begin() + lastScan, file.end() - 2);  // up to EOI
  Bytes out(file.begin(), file.end() - 2);
  for (int k = 1; k < scans; ++k) out.insert(out.end(), scan.begin(), scan.end());
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

}  // namespace

// The file the thumbnailer met: 16384 x 16384 in one repeated scan.  It
// passes the viewer's pixel limit, and is refused before any pass.
TEST(DecodeBounds, HugePictureOfRepeatedTinyScansIsRefused) {
  Bytes file = HostileJpeg(16384, 16384, 500);
  EXPECT_LT(file.size(), 40000u);
  ClearLoadFailure();
  EXPECT_FALSE(DecodeJpegData(file.data(), file.size()));
  // Its coefficients alone would take 768 MB.
  EXPECT_EQ(LastLoadFailure(), "needs more decoding memory than the 640 MB allowed");
  std::string reason;
  EXPECT_FALSE(MakeThumbnailData(file.data(), file.size(), false, 256, reason));
}

// Small enough for memory, but each of its scans is a pass over 100 000
// blocks that the file pays a few bytes for.
TEST(DecodeBounds, ScansCostingMoreThanTheFileCouldHoldAreRefused) {
  Bytes file = HostileJpeg(2048, 2048, 200);
  ClearLoadFailure();
  EXPECT_FALSE(DecodeJpegData(file.data(), file.size()));
  EXPECT_EQ(LastLoadFailure(), "too much decoding work for the file's size");
  // The same picture with its scans once over: the library's own file.
  Bytes once = HostileJpeg(2048, 2048, 1);
  EXPECT_TRUE(DecodeJpegData(once.data(), once.size()));
}

// Coefficients are kept for the whole picture until the last scan: beyond
// the memory budget the file is refused, under it the same file decodes.
TEST(DecodeBounds, CoefficientMemoryBeyondTheBudgetIsRefused) {
  synthetic::CompressOptions options;
  options.progressive = true;
  Bytes file = synthetic::Compress(synthetic::TestCard(2048, 2048, 1), options);
  {
    // 2048 x 2048 at 4:2:0 holds 12 MB of coefficients.
    ScopedDecodeMemory budget(8u << 20);
    ClearLoadFailure();
    EXPECT_FALSE(DecodeJpegData(file.data(), file.size()));
    EXPECT_EQ(LastLoadFailure(), "needs more decoding memory than the 8 MB allowed");
  }
  EXPECT_TRUE(DecodeJpegData(file.data(), file.size())) << LastLoadFailure();
}

// The thumbnailer's budget is below the viewer's on both counts.
TEST(DecodeBounds, ThumbnailerWorksWithinLessThanTheViewer) {
  uint64_t pixels = PixelLimit(), memory = DecodeMemoryLimit();
  EXPECT_LT(kThumbnailPixelLimit, pixels);
  EXPECT_LT(kThumbnailDecodeMemory, memory);
  ScopedPixelLimit restorePixels(pixels);
  ScopedDecodeMemory restoreMemory(memory);
  SetThumbnailBudget();
  EXPECT_EQ(PixelLimit(), kThumbnailPixelLimit);
  EXPECT_EQ(DecodeMemoryLimit(), kThumbnailDecodeMemory);
  // 9000 x 9000 passes the viewer's limit, not the thumbnailer's.
  synthetic::RawImage small = synthetic::TestCard(16, 16);
  Bytes file = synthetic::Compress(small);
  for (size_t i = 2; i + 8 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xC0) {
      file[i + 5] = 9000 >> 8, file[i + 6] = 9000 & 0xFF;
      file[i + 7] = 9000 >> 8, file[i + 8] = 9000 & 0xFF;
      break;
    }
  std::string reason;
  EXPECT_FALSE(MakeThumbnailData(file.data(), file.size(), false, 256, reason));
  EXPECT_EQ(reason, "picture too large");
}

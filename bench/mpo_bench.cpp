// Loading a camera-sized MPO against decoding its two JPEG streams the way
// an application without our code would.  Read the ratio
// BM_LoadMpo / BM_TwoBareDecodes (target: at most 1.15), not the times.
#include <benchmark/benchmark.h>

#include <memory>

#include "image/comment.h"
#include "image/mpo_reader.h"
#include "tests/synthetic_jpeg.h"

namespace {

using synthetic::Bytes;

struct CameraFile {
  Bytes left, right, mpo;
};

// Two different 4000 x 3000 views at quality 90, assembled like a FinePix
// REAL 3D file: Exif with a FUJIFILM maker note and an MPF segment in each
// picture, the parallax in the second one.
const CameraFile& TheFile() {
  static const CameraFile file = [] {
    CameraFile f;
    synthetic::CompressOptions options;
    options.quality = 90;
    f.left = synthetic::Compress(synthetic::TestCard(4000, 3000, 1), options);
    f.right = synthetic::Compress(synthetic::TestCard(4000, 3000, 2), options);
    synthetic::MpoOptions mpo;
    mpo.parallax.present = true;
    mpo.parallax.horizontalNumerator = -25;  // -3.125 %: a W3 at close range
    mpo.parallax.horizontalDenominator = 8;
    mpo.parallax.verticalNumerator = 0;
    mpo.parallax.verticalDenominator = 1;
    f.mpo = synthetic::BuildMpo({f.left, f.right}, mpo);
    return f;
  }();
  return file;
}

// jpeg_mem_src, RGB out, a batch of rows per call into a buffer of its own.
void BareDecode(const Bytes& jpeg) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  size_t rowBytes = size_t{cinfo.output_width} * cinfo.output_components;
  std::unique_ptr<uint8_t[]> pixels(
      new uint8_t[rowBytes * cinfo.output_height]);
  JSAMPROW rows[16];
  while (cinfo.output_scanline < cinfo.output_height) {
    JDIMENSION count = cinfo.output_height - cinfo.output_scanline;
    if (count > 16) count = 16;
    for (JDIMENSION k = 0; k < count; ++k)
      rows[k] = pixels.get() + rowBytes * (cinfo.output_scanline + k);
    jpeg_read_scanlines(&cinfo, rows, count);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  benchmark::DoNotOptimize(pixels.get());
}

void BM_LoadMpo(benchmark::State& state) {
  const CameraFile& file = TheFile();
  for (auto _ : state) {
    ClearCurrentComment();
    Picture left, right;
    if (!LoadMpoData(file.mpo.data(), file.mpo.size(), left, right))
      state.SkipWithError("the MPO did not load");
    benchmark::DoNotOptimize(left.get());
    benchmark::DoNotOptimize(right.get());
  }
  state.counters["file_MB"] = static_cast<double>(file.mpo.size()) / 1e6;
}
BENCHMARK(BM_LoadMpo)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_TwoBareDecodes(benchmark::State& state) {
  const CameraFile& file = TheFile();
  for (auto _ : state) {
    BareDecode(file.left);
    BareDecode(file.right);
  }
}
BENCHMARK(BM_TwoBareDecodes)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

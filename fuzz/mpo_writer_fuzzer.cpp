// The MPO writer over any picture a reader makes of arbitrary bytes: the
// file it writes must read back through the MPO reader as two views of the
// sizes given, whatever the pixels (an accidental MP mark in the compressed
// data included).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "image/comment.h"
#include "image/mpo_reader.h"
#include "image/still_reader.h"
#include "image/stereo_writer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Encoding is slower than reading: smaller pictures keep the runs short.
  SetPixelLimit(uint64_t{1} << 18);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StillDecode decoded = DecodeStillData(data, size);
  if (!decoded.picture) return 0;
  Picture right = CropPicture(decoded.picture, PictureWidth(decoded.picture) / 3,
                              0);
  if (!right) right = CropPicture(decoded.picture, 0, 0);
  std::vector<uint8_t> mpo;
  std::string error;
  if (!EncodeMpo(decoded.picture, right, 90, mpo, error)) return 0;
  ClearCurrentComment();
  MpoViews views;
  if (!DecodeMpoViews(mpo.data(), mpo.size(), views)) __builtin_trap();
  if (PictureWidth(views.left) != PictureWidth(decoded.picture) ||
      PictureHeight(views.left) != PictureHeight(decoded.picture) ||
      PictureWidth(views.right) != PictureWidth(right) ||
      PictureHeight(views.right) != PictureHeight(right))
    __builtin_trap();
  TouchPicture(views.left);
  TouchPicture(views.right);
  return 0;
}

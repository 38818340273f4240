// The JPS descriptor and the Exif carried into written files on arbitrary
// bytes: the segment walk, the descriptor's fields, the views cut as it
// declares them (from the file's own picture and from a small frame of
// every shape), and the size tags set in place in the Exif found.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "image/exif_copy.h"
#include "image/jps_layout.h"
#include "image/still_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  JpsLayout layout = ReadJpsLayout(data, size);
  // Frames of odd and tiny sizes, one pixel short of two views included.
  static const int kSides[][2] = {{1, 1}, {2, 1}, {1, 2}, {3, 5}, {8, 3}};
  for (const auto& side : kSides) {
    Picture frame = CreatePicture(side[0], side[1], 24);
    Picture left, right;
    if (SplitJpsViews(frame, layout, left, right)) {
      if (!left || !right) __builtin_trap();
      TouchPicture(left);
      TouchPicture(right);
    } else if (left || right) {
      __builtin_trap();
    }
    TouchPicture(LeftFirstSideBySide(std::move(frame), layout));
  }
  if (layout.declared) {
    StillDecode decoded = DecodeStillData(data, size);
    Picture left, right;
    if (decoded.picture &&
        SplitJpsViews(decoded.picture, decoded.stereoLayout, left, right)) {
      TouchPicture(left);
      TouchPicture(right);
    }
  }
  std::vector<uint8_t> exif = FindExif(data, size);
  size_t before = exif.size();
  SetExifPictureSize(exif, 1 + int(size % 70000), 1 + int(size % 300));
  ClearParallax(exif);
  if (exif.size() != before) __builtin_trap();
  return 0;
}

// Thumbnails of arbitrary bytes, as a file manager hands the thumbnailer
// any file it takes for a stereo picture: the MPF segment walk, the reduced
// left-half JPEG decode and the other readers.  The last byte picks the
// size and whether the name says MPO, so that whole files seed it (a
// JPEG's last byte is its end marker's, which the decoder can do without).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "stereo/thumbnail.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t control = data[size - 1];
  int thumbSize = 1 + (control & 0x7F);
  bool namedMpo = control & 0x80;
  std::string reason;
  Picture thumb = MakeThumbnailData(data, size - 1, namedMpo, thumbSize,
                                    reason);
  if (thumb) {
    if (PictureWidth(thumb) > thumbSize || PictureHeight(thumb) > thumbSize)
      __builtin_trap();
    TouchPicture(thumb);
  } else if (reason.empty()) {
    __builtin_trap();
  }
  return 0;
}

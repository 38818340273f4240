// The first look at an MPO on arbitrary bytes: the header read that
// chooses the reduction, the reduced decodes of both views with their
// crops, and the fitting, for screens small enough that even a small input
// is reduced.  What it returns must be two whole pictures of one size.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "shell/first_look.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (ScreenSize screen : {ScreenSize{16, 9}, ScreenSize{97, 61}}) {
    FitSettings fit;
    fit.screen = screen;
    PreparedItem look;
    if (!ReadFirstLookMpo(data, size, fit, look)) continue;
    if (!look.left || !look.right) __builtin_trap();
    if (PictureWidth(look.left) != PictureWidth(look.right) ||
        PictureHeight(look.left) != PictureHeight(look.right))
      __builtin_trap();
    TouchPicture(look.left);
    TouchPicture(look.right);
  }
  return 0;
}

// VR photos on arbitrary bytes: the JPEG header walk for XMP, Extended XMP
// reassembly (chunks in any order, repeated, overlapping, of any length),
// the XMP property search, base64 and the embedded right view's decode.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "image/comment.h"
#include "image/stereo_still.h"
#include "image/vr_photo.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ClearCurrentComment();
  JpegXmp xmp;
  if (ReadJpegXmp(data, size, xmp) && !xmp.chunks.empty()) {
    std::string packet, problem;
    if (ReassembleExtendedXmp(xmp.chunks, xmp.chunks.front().guid, packet,
                              problem) &&
        packet.size() != xmp.chunks.front().total)
      __builtin_trap();
  }
  StereoStill still;
  if (DecodeStereoStill(data, size, still)) {
    TouchPicture(still.left);
    TouchPicture(still.right);
  }
  return 0;
}

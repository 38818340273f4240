#include "shell/auto_align.h"

#include <cstdio>
#include <utility>

#include "align/alignment_library.h"
#include "image/stereo_writer.h"
#include "shell/program_library.h"

namespace {

// OpenCV, under the measurement, comes with the library on first use.
AlignPairFunction AlignmentLibrary(std::string* error) {
  static std::string reason;
  static const AlignPairFunction align =
      reinterpret_cast<AlignPairFunction>(ResolveProgramLibrary(
          "libduoramic_autoalign.so", kAlignPairSymbol, "", &reason));
  if (!align) *error = reason;
  return align;
}

}  // namespace

std::string AlignPairForDisplay(Picture& left, Picture& right) {
  if (!left || !right || PictureBits(left) != 24 || PictureBits(right) != 24)
    return "not aligned: no pair";
  std::string error;
  AlignPairFunction align = AlignmentLibrary(&error);
  if (!align) return "not aligned: the alignment library is missing (" +
                     error + ")";
  Alignment a;
  Picture leftOut, rightOut;
  bool corrected = align(&left, &right, &a, &leftOut, &rightOut);
  if (!a.measured) return "not aligned: " + a.failure;
  if (!corrected)
    return "not aligned: the corrected views have no common area";
  left = std::move(leftOut);
  right = std::move(rightOut);
  char note[160];
  std::snprintf(note, sizeof note,
                "aligned: rotation %.2f deg, vertical %.1f px, scale %.4f, "
                "disparity %.0f..%.0f px",
                a.rotationDeg, a.verticalPx, a.scale, a.disparityMinPx,
                a.disparityMaxPx);
  return note;
}

std::string AlignSideBySideForDisplay(Picture& picture) {
  if (!picture || PictureBits(picture) != 24) return "not aligned: no pair";
  int width = PictureWidth(picture), half = width / 2;
  if (half < 1) return "not aligned: no pair";
  // The halves as the side-by-side cut takes them: columns [0, half) and
  // [width - half, width).
  Picture left = CropPicture(picture, width - half, 0);
  Picture right = CropPicture(picture, -(width - half), 0);
  std::string note = AlignPairForDisplay(left, right);
  if (note.rfind("aligned", 0) != 0) return note;
  Picture joined = JoinSideBySide(left, right);
  if (!joined) return "not aligned: out of memory";
  picture = std::move(joined);
  return note;
}

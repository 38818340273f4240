#include "shell/auto_align.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "align/alignment_library.h"
#include "image/stereo_writer.h"
#include "shell/program_library.h"

namespace {

// OpenCV, under the measurement, comes with the library on first use.
// Each entry is looked up once; `Symbol` names it.
template <typename Function, const char* const& Symbol>
Function LibraryFunction(std::string* error) {
  static std::string reason;
  static const Function function = reinterpret_cast<Function>(
      ResolveProgramLibrary("libduoramic_autoalign.so", Symbol, "", &reason));
  if (!function) *error = reason;
  return function;
}

// The measurement's reasons for giving up, as the title says them.
std::string FailureInWords(const std::string& failure) {
  struct Words {
    const char* start;
    const char* words;
  };
  static constexpr Words kWords[] = {
      {"too few matching details", "左右で一致する部分が少なすぎます"},
      {"the matching details lie too close", "一致する部分が一か所に偏っています"},
      {"the views differ by more", "左右の映像の違いが大きすぎます"},
      {"the views are too small", "映像が小さすぎます"},
      {"out of memory", "メモリが足りません"},
  };
  for (const Words& w : kWords)
    if (failure.rfind(w.start, 0) == 0) return w.words;
  return "測定できない映像です";
}

// Which way the shift moved the scene, in the floating window's words.
std::string ShiftWords(int shift) {
  if (shift == 0) return "視差調整 0px";
  // s < 0 adds |s| to every disparity: the scene moves away.
  return std::string("視差調整 ") + (shift < 0 ? "奥へ " : "手前へ ") +
         std::to_string(std::abs(shift)) + "px";
}

constexpr const char* kCameraParallaxWords = "視差調整なし（カメラの視差情報で表示）";

// The convergence shift applied to both views; the title's part for it.
std::string Converge(Picture& left, Picture& right, const Alignment& a,
                     std::string& log, bool& changed) {
  int shift = ConvergenceShift(a);
  int width = std::min(PictureWidth(left), PictureWidth(right));
  char line[96];
  // A shift of a quarter of the picture or more is no stereo pair's depth
  // but a mismatch the measurement let through; the views stay as they are.
  if (std::abs(int64_t{shift}) * 4 >= width) {
    std::snprintf(line, sizeof line, "; not converged: a shift of %d px is "
                  "too large", shift);
    log += line;
    return "視差調整なし（視差が大きすぎます）";
  }
  if (shift != 0) {
    Picture l = CropPicture(left, shift, 0), r = CropPicture(right, -shift, 0);
    if (!l || !r) {
      log += "; not converged: out of memory";
      return "視差調整なし（メモリが足りません）";
    }
    left = std::move(l);
    right = std::move(r);
    changed = true;
  }
  std::snprintf(line, sizeof line, "; converged by %d px", shift);
  log += line;
  return ShiftWords(shift);
}

}  // namespace

int ConvergenceShift(const Alignment& a) {
  return static_cast<int>(std::lround(a.disparityMinPx));
}

AlignOutcome AlignPairForDisplay(Picture& left, Picture& right,
                                 AlignChoice choice, bool cameraParallax) {
  bool converge = choice.converge && !cameraParallax;
  if (!choice.correct && !converge) {
    if (!choice.converge) return {};
    return {"not converged: the camera's parallax places the views",
            kCameraParallaxWords};
  }
  const std::string what = choice.correct ? "自動位置合わせ" : "自動視差調整";
  if (!left || !right || PictureBits(left) != 24 || PictureBits(right) != 24)
    return {"not aligned: no pair", what + ": 左右の映像がありません"};
  std::string error;
  Alignment a;
  Picture leftOut, rightOut;
  bool corrected = false;
  // Convergence alone measures without correcting: the disparities are
  // those of the views lined up, where a match's horizontal offset is its
  // depth alone.  The uncorrected views differ from them by the turn and
  // the size change, (y - c_y) sin(rotation) + (x - c_x)(scale - 1): a few
  // pixels for the fraction of a degree a rig is off, and a depth choice
  // a few pixels out is not seen.
  if (choice.correct) {
    AlignPairFunction align = LibraryFunction<AlignPairFunction, kAlignPairSymbol>(&error);
    if (!align)
      return {"not aligned: the alignment library is missing (" + error + ")",
              what + ": 位置合わせ機能を読み込めません"};
    corrected = align(&left, &right, &a, &leftOut, &rightOut);
  } else {
    MeasurePairFunction measure = LibraryFunction<MeasurePairFunction, kMeasurePairSymbol>(&error);
    if (!measure)
      return {"not measured: the alignment library is missing (" + error + ")",
              what + ": 位置合わせ機能を読み込めません"};
    measure(&left, &right, &a);
  }
  if (!a.measured)
    return {"not aligned: " + a.failure,
            what + ": 測定できません（" + FailureInWords(a.failure) + "）"};
  if (choice.correct && !corrected)
    return {"not aligned: the corrected views have no common area",
            what + ": 補正すると左右に共通の部分が残りません"};
  AlignOutcome out;
  char text[200];
  std::snprintf(text, sizeof text,
                "%s: rotation %.2f deg, vertical %.1f px, scale %.4f, "
                "disparity %.0f..%.0f px",
                choice.correct ? "aligned" : "measured", a.rotationDeg,
                a.verticalPx, a.scale, a.disparityMinPx, a.disparityMaxPx);
  out.log = text;
  if (corrected) {
    out.changed = true;
    left = std::move(leftOut);
    right = std::move(rightOut);
    // "−0.00" would read as a correction where there was none.
    double rotation = std::fabs(a.rotationDeg) < 0.005 ? 0 : a.rotationDeg;
    double vertical = std::fabs(a.verticalPx) < 0.05 ? 0 : a.verticalPx;
    std::snprintf(text, sizeof text, "補正: 回転 %.2f° 上下 %.1fpx 倍率 %.3f",
                  rotation, vertical, a.scale);
    out.title = text;
  }
  if (choice.converge) {
    std::string part = cameraParallax ? std::string(kCameraParallaxWords)
                                      : Converge(left, right, a, out.log, out.changed);
    out.title += out.title.empty() ? part : "  " + part;
  }
  return out;
}

AlignOutcome AlignSideBySideForDisplay(Picture& picture, AlignChoice choice) {
  if (!choice.correct && !choice.converge) return {};
  if (!picture || PictureBits(picture) != 24)
    return {"not aligned: no pair", "自動位置合わせ: 左右の映像がありません"};
  int width = PictureWidth(picture), half = width / 2;
  if (half < 1)
    return {"not aligned: no pair", "自動位置合わせ: 左右の映像がありません"};
  // The halves as the side-by-side cut takes them: columns [0, half) and
  // [width - half, width).
  Picture left = CropPicture(picture, width - half, 0);
  Picture right = CropPicture(picture, -(width - half), 0);
  // A still holding both views carries no camera parallax.
  AlignOutcome outcome = AlignPairForDisplay(left, right, choice, false);
  if (!outcome.changed) return outcome;
  Picture joined = JoinSideBySide(left, right);
  if (!joined) return {"not aligned: out of memory", "自動位置合わせ: メモリが足りません"};
  picture = std::move(joined);
  return outcome;
}

#include "shell/first_look.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/jpeg_comment.h"
#include "image/jpeg_reader.h"
#include "image/mpo_reader.h"
#include "image/two_threads.h"

namespace {

bool Applies(const FitSettings& fit) {
  // The alignment measures the views at full size, and a panorama is shown
  // at the screen's height: neither is ever reduced enough to gain.  The
  // convergence shift is only known once measured: a first look without it
  // would jump sideways when the exact picture came.
  return !fit.autoAlign && !fit.autoConverge && !fit.panorama;
}

bool HasText(const CommentCapture& capture) { return capture.Text()[0] != 0; }

// The reduction for pictures of at least `width` x `height` fitted as
// `fitted`; the band of a comment only makes the fitted size smaller, so
// the size without one is the safe measure before the comment is known.
int DenominatorFor(const FitSettings& fit, int width, int height,
                   bool sideBySide) {
  ScreenSize fitted = FittedSize(fit, false, width, height, sideBySide);
  return FirstLookDenominator(width, height, fitted.width, fitted.height);
}

bool ReadJpegFile(const std::string& path, std::vector<uint8_t>& bytes,
                  int& width, int& height) {
  return ReadWholeFile(path, bytes) &&
         ReadJpegSize({bytes.data(), bytes.size(), false}, width, height);
}

// The reduced decodes take libjpeg's fastest transform and plain chroma
// upsampling, as the MPO reader's reduced decode does: a first look is on
// screen for a moment, and what it costs is all of that moment.
bool FirstLookSideBySide(const std::string& path, const FitSettings& fit,
                         CommentCapture& capture, PreparedItem& look) {
  std::vector<uint8_t> bytes;
  int width = 0, height = 0;
  if (!ReadJpegFile(path, bytes, width, height)) return false;
  int d = DenominatorFor(fit, width, height, true);
  if (d < 2) return false;
  // The comment as a whole decode reads it, before the pixels.
  ReadJpegCommentBeforeDecoding(bytes.data(), bytes.size(), false);
  Picture picture =
      DecodeJpegPixelsReduced({bytes.data(), bytes.size(), false}, d);
  if (!picture) return false;
  ScaleSideBySideForScreen(fit, HasText(capture), picture);
  look.left = std::move(picture);
  return true;
}

bool FirstLookPair(const std::string& leftPath, const std::string& rightPath,
                   const FitSettings& fit, CommentCapture& capture,
                   PreparedItem& look) {
  std::vector<uint8_t> leftBytes, rightBytes;
  int lw = 0, lh = 0, rw = 0, rh = 0;
  if (!ReadJpegFile(leftPath, leftBytes, lw, lh) ||
      !ReadJpegFile(rightPath, rightBytes, rw, rh))
    return false;
  // Both views are fitted to the larger of the two sizes; the smaller
  // picture must still be reduced no further than that.
  ScreenSize fitted =
      FittedSize(fit, false, std::max(lw, rw), std::max(lh, rh), false);
  int d = FirstLookDenominator(std::min(lw, rw), std::min(lh, rh),
                               fitted.width, fitted.height);
  if (d < 2) return false;
  // Read one after the other, the left file's comment wins and the right
  // one's counts only when the left has none.
  ReadJpegCommentBeforeDecoding(leftBytes.data(), leftBytes.size(), false);
  ReadJpegCommentBeforeDecoding(rightBytes.data(), rightBytes.size(), false);
  Picture left, right;
  std::string unused;
  RunSideBySide(
      [&] {
        right = DecodeJpegPixelsReduced(
            {rightBytes.data(), rightBytes.size(), false}, d);
      },
      [&] {
        left = DecodeJpegPixelsReduced(
            {leftBytes.data(), leftBytes.size(), false}, d);
      },
      unused);
  if (!left || !right ||
      !ScalePairForScreen(fit, HasText(capture), left, right))
    return false;
  look.left = std::move(left);
  look.right = std::move(right);
  return true;
}

bool FirstLookMpo(const uint8_t* data, size_t size, const FitSettings& fit,
                  CommentCapture& capture, PreparedItem& look) {
  int width = 0, height = 0;
  if (!data || !ReadJpegSize({data, size, false}, width, height)) return false;
  int d = DenominatorFor(fit, width, height, false);
  if (d < 2) return false;
  MpoViews views;
  if (!DecodeMpoViewsReduced(data, size, d, views) ||
      !ScalePairForScreen(fit, HasText(capture), views.left, views.right))
    return false;
  // The shifts are the camera's, in pixels of the whole views: the exact
  // item has the same.
  look.shiftX = views.shiftX;
  look.shiftY = views.shiftY;
  look.left = std::move(views.left);
  look.right = std::move(views.right);
  return true;
}

}  // namespace

int FirstLookDenominator(int width, int height, int fitWidth, int fitHeight) {
  if (fitWidth < 1 || fitHeight < 1) return 1;
  int chosen = 1;
  for (int d : {2, 4, 8})
    if (int64_t{width} >= int64_t{fitWidth} * d &&
        int64_t{height} >= int64_t{fitHeight} * d)
      chosen = d;
  return chosen;
}

bool ReadFirstLookMpo(const uint8_t* data, size_t size,
                      const FitSettings& fit, PreparedItem& look) {
  if (!Applies(fit)) return false;
  CommentCapture capture;
  if (!FirstLookMpo(data, size, fit, capture, look)) return false;
  look.comment = capture.Text();
  return true;
}

bool ReadFirstLook(const ItemRequest& request, PreparedItem& look) {
  if (!Applies(request.fit)) return false;
  CommentCapture capture(request.startComment);
  bool read = false;
  switch (request.shape) {
    case ItemShape::Mpo: {
      std::vector<uint8_t> bytes;
      read = ReadWholeFile(request.left, bytes) &&
             FirstLookMpo(bytes.data(), bytes.size(), request.fit, capture,
                          look);
      break;
    }
    case ItemShape::SideBySide:
      read = FirstLookSideBySide(request.left, request.fit, capture, look);
      break;
    case ItemShape::Pair:
      read = FirstLookPair(request.left, request.right, request.fit, capture,
                           look);
      break;
  }
  if (!read) return false;
  look.request = request;
  look.comment = capture.Text();
  return true;
}

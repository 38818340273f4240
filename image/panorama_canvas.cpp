#include "image/panorama_canvas.h"

#include <algorithm>
#include <cstring>

namespace {

// Pastes `view` stretched over crop x scale, nearest pixel, into the eye's
// canvas starting at column `eyeColumn`; columns past the right edge of
// the sphere wrap round to its left edge.
void Place(const Picture& view, const PanoramaCrop& crop, double scale,
           int eyeColumn, int eyeWidth, Picture& canvas) {
  int width = PictureWidth(view), height = PictureHeight(view);
  int canvasHeight = PictureHeight(canvas);
  int left = int(crop.left * scale), top = int(crop.top * scale);
  int cropWidth = std::max(1, int(crop.width * scale));
  int cropHeight = std::max(1, int(crop.height * scale));
  for (int y = 0; y < cropHeight; ++y) {
    int row = top + y;  // from the top
    if (row < 0 || row >= canvasHeight) continue;
    int sourceRow = int(int64_t{y} * height / cropHeight);
    const uint8_t* from = PictureRow(view.get(), height - 1 - sourceRow);
    uint8_t* to = PictureRow(canvas.get(), canvasHeight - 1 - row);
    for (int x = 0; x < cropWidth && x < eyeWidth; ++x) {
      int column = (left + x) % eyeWidth;
      int sourceColumn = int(int64_t{x} * width / cropWidth);
      std::memcpy(to + 3 * (eyeColumn + column), from + 3 * sourceColumn, 3);
    }
  }
}

}  // namespace

Picture PanoramaCanvas(const Picture& left, const Picture& right,
                       const PanoramaCrop& crop, int maxEyeWidth) {
  if (!left || !right || crop.fullWidth < 1 || crop.fullHeight < 1 ||
      crop.width < 1 || crop.height < 1 || maxEyeWidth < 1)
    return nullptr;
  double scale = std::min(1.0, double(maxEyeWidth) / crop.fullWidth);
  int eyeWidth = std::max(1, int(crop.fullWidth * scale));
  int eyeHeight = std::max(1, int(crop.fullHeight * scale));
  if (!PictureSizeAllowed(int64_t{eyeWidth} * 2, eyeHeight)) return nullptr;
  Picture canvas = CreatePicture(eyeWidth * 2, eyeHeight, 24);  // black
  if (!canvas) return nullptr;
  Place(left, crop, scale, 0, eyeWidth, canvas);
  Place(right, crop, scale, eyeWidth, eyeWidth, canvas);
  return canvas;
}

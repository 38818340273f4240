#include "stereo/movie_views.h"

#include <cstring>

namespace {

// Stored rows [first, first + count) of a view.
PictureView StoredRows(const PictureView& view, int first, int count) {
  PictureView rows = view;
  rows.base = view.StoredRow(first);
  rows.height = count;
  return rows;
}

}  // namespace

Picture LineDoubledCopy(const PictureView& frame) {
  int w = frame.width, h = frame.height;
  Picture copy = CreatePicture(w, 2 * h, 24);
  if (!copy) return copy;
  size_t bytes = static_cast<size_t>(w) * 3;
  for (int k = 0; k + 1 < h; ++k) {
    const uint8_t* row = frame.StoredRow(k);
    const uint8_t* next = frame.StoredRow(k + 1);
    std::memcpy(PictureRow(copy.get(), 2 * k), row, bytes);
    uint8_t* mid = PictureRow(copy.get(), 2 * k + 1);
    for (size_t i = 0; i < bytes; ++i) mid[i] = uint8_t((row[i] + next[i]) >> 1);
  }
  for (int r : {2 * h - 2, 2 * h - 1})
    std::memcpy(PictureRow(copy.get(), r), frame.StoredRow(h - 1), bytes);
  return copy;
}

MovieEyeViews CutMovieViews(const PictureView& frame, int widthMode) {
  MovieEyeViews v;
  int w = frame.width, h = frame.height;
  if (!frame || w < 2 || h < 2) return v;
  v.fitHeight = h;
  switch (widthMode) {
    case 0:
    case 5:
    case 6:
      v.left = ColumnsOf(frame, 0, w / 2);
      v.right = ColumnsOf(frame, w / 2, w / 2);
      v.fitWidth = widthMode == 0 ? w / 2 : widthMode == 5 ? w : w / 4;
      break;
    case 1:
    case 4:
      v.left = StoredRows(frame, 0, h / 2);
      v.right = StoredRows(frame, h / 2, h - h / 2);
      v.fitWidth = w;
      break;
    case 2: {
      v.doubled = LineDoubledCopy(frame);
      if (!v.doubled) return v;
      PictureView copy = ViewOf(v.doubled);
      v.left = StoredRows(copy, 0, h);
      v.right = StoredRows(copy, h, h);
      v.fitWidth = w;
      break;
    }
    case 3: {
      int shown = h * 95 / 200;
      if (shown < 1) return v;
      v.left = StoredRows(frame, 0, shown);
      v.right = StoredRows(frame, h * 105 / 200, shown);
      v.fitWidth = w;
      break;
    }
    default:
      break;  // other values draw nothing
  }
  return v;
}

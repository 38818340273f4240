#include "image/stereo_still.h"

#include <cmath>
#include <vector>

#include "image/file_data.h"
#include "image/heif_boxes.h"
#include "image/heif_reader.h"
#include "image/jpeg_reader.h"
#include "image/mpo_reader.h"
#include "image/vr_photo.h"

namespace {

// Each pixel of the result is the mean of a denominator x denominator
// block; pixel i covers pixels [i d, (i + 1) d) counted from the top left,
// as libjpeg's reduced decodes of an MPO's views do.
Picture Reduce(const Picture& picture, int denominator) {
  int fullHeight = PictureHeight(picture);
  int width = PictureWidth(picture) / denominator;
  int height = fullHeight / denominator;
  Picture out = CreatePicture(width, height, 24);
  if (!out) return nullptr;
  int area = denominator * denominator;
  for (int y = 0; y < height; ++y) {  // from the top
    uint8_t* to = PictureRow(out.get(), height - 1 - y);
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int dy = 0; dy < denominator; ++dy) {
          const uint8_t* row = PictureRow(
              picture.get(), fullHeight - 1 - (y * denominator + dy));
          for (int dx = 0; dx < denominator; ++dx)
            sum += row[3 * (x * denominator + dx) + c];
        }
        to[3 * x + c] = static_cast<uint8_t>(sum / area);
      }
  }
  return out;
}

bool DecodeHeifStill(const uint8_t* data, size_t size, StereoStill& still) {
  HeifViews views;
  if (!DecodeHeifViews(data, size, views)) return false;
  still.info.format = views.boxes.isAvif ? "AVIF" : "HEIF";
  still.info.twoViews = views.right != nullptr;
  still.info.baselineMm = views.baselineMm;
  still.info.horizontalFovDeg = views.horizontalFovDeg;
  still.info.disparity = views.disparity;
  still.left = std::move(views.left);
  still.right = views.right ? std::move(views.right)
                            : CropPicture(still.left, 0, 0);
  if (!still.right) {
    NoteLoadFailure("out of memory");
    return false;
  }
  return true;
}

bool DecodeVrStill(const uint8_t* data, size_t size, StereoStill& still) {
  VrPhoto photo;
  if (!ReadVrPhoto(data, size, photo)) return false;
  still.info.format = "VR photo";
  still.info.twoViews = true;
  if (photo.panorama) {
    const PanoramaCrop& crop = *photo.panorama;
    still.info.panorama = crop;
    still.info.horizontalFovDeg = 360.0 * crop.width / crop.fullWidth;
    still.info.verticalFovDeg = 180.0 * crop.height / crop.fullHeight;
  }
  // The file itself is the left view (its comment is read as a JPEG's).
  still.left = DecodeJpegData(data, size);
  if (!still.left) return false;
  ClearLoadFailure();
  still.right = DecodeJpegPixels(
      JpegStream{photo.rightJpeg.data(), photo.rightJpeg.size(), false});
  if (!still.right) {
    NoteLoadFailure("VR photo: right view: " + LastLoadFailure());
    return false;
  }
  return true;
}

}  // namespace

bool IsStereoStillData(const uint8_t* data, size_t size) {
  return LooksLikeHeif(data, size) || LooksLikeVrPhoto(data, size);
}

bool DecodeStereoStill(const uint8_t* data, size_t size, StereoStill& still) {
  still = StereoStill{};
  if (LooksLikeHeif(data, size)) return DecodeHeifStill(data, size, still);
  if (LooksLikeVrPhoto(data, size)) return DecodeVrStill(data, size, still);
  NoteLoadFailure("neither a HEIF file nor a VR photo");
  return false;
}

bool ReadStereoStillFile(const std::string& path, StereoStill& still) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  return DecodeStereoStill(bytes.data(), bytes.size(), still);
}

int DisparityShift(const StereoStillInfo& info, int width) {
  if (!info.disparity || !info.twoViews) return 0;
  // The camera's percent of the width, taken as an MPO's parallax is:
  // a negative adjustment brings the views closer together.
  double shift = -double(width) * *info.disparity / 10000.0;
  constexpr double kBound = kMaxPictureSide + 1.0;
  return static_cast<int>(std::fmax(-kBound, std::fmin(kBound, shift)));
}

bool DecodeStereoStillViews(const uint8_t* data, size_t size, int denominator,
                            MpoViews& views, StereoStillInfo* info) {
  // A VR photo's views are JPEGs: libjpeg decodes them reduced, several
  // times faster than whole (the first look and alignment ask for this).
  if (denominator > 1 && !info && LooksLikeVrPhoto(data, size)) {
    VrPhoto photo;
    if (!ReadVrPhoto(data, size, photo)) return false;
    views.left = DecodeJpegPixelsReduced({data, size, false}, denominator);
    if (!views.left) return false;
    views.right = DecodeJpegPixelsReduced(
        {photo.rightJpeg.data(), photo.rightJpeg.size(), false}, denominator);
    if (!views.right) {
      views.left.reset();
      NoteLoadFailure("VR photo: right view: " + LastLoadFailure());
      return false;
    }
    views.shiftX = views.shiftY = 0;
    return true;
  }
  StereoStill still;
  if (!DecodeStereoStill(data, size, still)) return false;
  int shiftX = DisparityShift(still.info, PictureWidth(still.right));
  Picture left = CropPicture(still.left, shiftX, 0);
  Picture right = CropPicture(still.right, -shiftX, 0);
  if (!left || !right) {
    NoteLoadFailure("the disparity adjustment leaves nothing of the views");
    return false;
  }
  if (denominator > 1) {
    left = Reduce(left, denominator);
    right = Reduce(right, denominator);
    if (!left || !right) {
      NoteLoadFailure("views too small to reduce");
      return false;
    }
  }
  views.left = std::move(left);
  views.right = std::move(right);
  views.shiftX = shiftX;
  views.shiftY = 0;
  if (info) *info = still.info;
  return true;
}

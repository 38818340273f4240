#include "image/heif_reader.h"


#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "image/file_data.h"
#include "image/heif_library.h"
#include "image/jpeg_reader.h"

namespace {

struct ContextFree {
  void operator()(heif_context* c) const { Heif()->heif_context_free(c); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { Heif()->heif_image_handle_release(h); }
};
struct ImageFree {
  void operator()(heif_image* i) const { Heif()->heif_image_release(i); }
};
struct OptionsFree {
  void operator()(heif_decoding_options* o) const {
    Heif()->heif_decoding_options_free(o);
  }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;

// What a refused decode lacks, in words a user can act on: Debian's
// libheif decodes HEVC (libde265) but has no AV1 decoder.
std::string MissingDecoder(const HeifBoxes& boxes) {
  if (boxes.isAvif && !Heif()->heif_have_decoder_for_format(heif_compression_AV1))
    return "an AVIF picture needs an AV1 decoder, and this system's libheif "
           "has none (it decodes AVIF when built with libdav1d or libaom)";
  if (!boxes.isAvif && !Heif()->heif_have_decoder_for_format(heif_compression_HEVC))
    return "a HEIC picture needs an HEVC decoder, and this system's libheif "
           "has none (install libde265)";
  return "the picture's coding is not one this system's libheif decodes";
}

std::string Describe(const heif_error& error, const HeifBoxes& boxes) {
  if (error.code == heif_error_Unsupported_feature &&
      error.subcode == heif_suberror_Unsupported_codec)
    return MissingDecoder(boxes);
  return std::string("HEIF: ") + (error.message ? error.message : "error");
}

bool Open(const uint8_t* data, size_t size, const HeifBoxes& boxes,
          Context& context) {
  if (!Heif()) {
    NoteLoadFailure("HEIF pictures need libheif, which is not installed "
                    "(libheif1)");
    return false;
  }
  context.reset(Heif()->heif_context_alloc());
  if (!context) {
    NoteLoadFailure("out of memory");
    return false;
  }
  // libheif sizes a grid by the grid's own record, not by the size the
  // item announces (which is checked below), and allocates it whole: its
  // one bound is on each side.  The side of a square at the picture limit
  // keeps that allocation within the limit too (16384 by default; no
  // camera's picture is wider).
  auto side = static_cast<int>(std::sqrt(static_cast<double>(PixelLimit())));
  Heif()->heif_context_set_maximum_image_size_limit(context.get(),
                                            std::min(side, kMaxPictureSide));
  heif_error error = Heif()->heif_context_read_from_memory_without_copy(
      context.get(), data, size, nullptr);
  if (error.code != heif_error_Ok) {
    NoteLoadFailure(Describe(error, boxes));
    return false;
  }
  return true;
}

// One image item, decoded to interleaved RGB (rotation and mirroring done)
// and turned into a bottom-up BGR picture.
Picture DecodeItem(heif_context* context, heif_item_id id, const char* what,
                   const HeifBoxes& boxes) {
  heif_image_handle* raw = nullptr;
  heif_error error = id ? Heif()->heif_context_get_image_handle(context, id, &raw)
                        : Heif()->heif_context_get_primary_image_handle(context, &raw);
  Handle handle(raw);
  if (error.code != heif_error_Ok || !handle) {
    NoteLoadFailure(std::string(what) + ": no picture with item id " +
                    std::to_string(id) + " in the file");
    return nullptr;
  }
  int width = Heif()->heif_image_handle_get_width(handle.get());
  int height = Heif()->heif_image_handle_get_height(handle.get());
  if (!PictureSizeAllowed(width, height)) {
    NoteLoadFailure(std::string(what) + ": " + std::to_string(width) + "x" +
                    std::to_string(height) +
                    " is larger than the picture limit");
    return nullptr;
  }
  const std::atomic<bool>* cancel = DecodeCancelFlag();
  if (cancel && cancel->load()) {
    NoteLoadFailure("cancelled");
    return nullptr;
  }
  std::unique_ptr<heif_decoding_options, OptionsFree> options(
      Heif()->heif_decoding_options_alloc());
  heif_image* rawImage = nullptr;
  error = Heif()->heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                            heif_chroma_interleaved_RGB, options.get());
  Image image(rawImage);
  if (error.code != heif_error_Ok || !image) {
    NoteLoadFailure(std::string(what) + ": " + Describe(error, boxes));
    return nullptr;
  }
  int stride = 0;
  const uint8_t* rgb =
      Heif()->heif_image_get_plane_readonly(image.get(), heif_channel_interleaved,
                                    &stride);
  width = Heif()->heif_image_get_width(image.get(), heif_channel_interleaved);
  height = Heif()->heif_image_get_height(image.get(), heif_channel_interleaved);
  if (!rgb || !PictureSizeAllowed(width, height) || stride < 3 * width) {
    NoteLoadFailure(std::string(what) + ": libheif gave no usable picture");
    return nullptr;
  }
  Picture picture = CreatePicture(width, height, 24);
  if (!picture) {
    NoteLoadFailure("out of memory");
    return nullptr;
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* from = rgb + size_t(y) * stride;
    uint8_t* to = PictureRow(picture.get(), height - 1 - y);
    for (int x = 0; x < width; ++x, from += 3, to += 3) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
    }
  }
  return picture;
}

// The distance between the two cameras' positions, and the field of view
// the left camera's focal length gives.
void ReadCamera(HeifViews& views) {
  const HeifBoxes& boxes = views.boxes;
  const HeifCamera* left = boxes.CameraOf(*boxes.leftId);
  const HeifCamera* right = boxes.CameraOf(*boxes.rightId);
  if (left && right && left->positionX && right->positionX) {
    double dx = *right->positionX - *left->positionX;
    double dy = *right->positionY - *left->positionY;
    double dz = *right->positionZ - *left->positionZ;
    views.baselineMm = std::sqrt(dx * dx + dy * dy + dz * dz) / 1000.0;
  }
  for (const HeifCamera* camera : {left, right}) {
    if (!camera) continue;
    if (!views.horizontalFovDeg && camera->focalX && *camera->focalX > 0)
      views.horizontalFovDeg =
          2 * std::atan(0.5 / *camera->focalX) * 180 / std::numbers::pi;
    if (!views.disparity && camera->disparity)
      views.disparity = camera->disparity;
  }
}

}  // namespace

bool DecodeHeifViews(const uint8_t* data, size_t size, HeifViews& views) {
  views = HeifViews{};
  if (!ReadHeifBoxes(data, size, views.boxes)) {
    NoteLoadFailure(views.boxes.problem);
    return false;
  }
  Context context;
  if (!Open(data, size, views.boxes, context)) return false;
  const HeifBoxes& boxes = views.boxes;
  if (!boxes.leftId) {
    views.left = DecodeItem(context.get(), 0, "primary picture", boxes);
    return views.left != nullptr;
  }
  views.left = DecodeItem(context.get(), *boxes.leftId, "left view", boxes);
  if (!views.left) return false;
  views.right = DecodeItem(context.get(), *boxes.rightId, "right view", boxes);
  if (!views.right) return false;
  ReadCamera(views);
  return true;
}

Picture DecodeHeifData(const uint8_t* data, size_t size) {
  if (!LooksLikeHeif(data, size)) {
    NoteLoadFailure("not a HEIF file");
    return nullptr;
  }
  HeifBoxes boxes;
  ReadHeifBoxes(data, size, boxes);
  Context context;
  if (!Open(data, size, boxes, context)) return nullptr;
  // A stereo file's picture is its left view, as an MPO's is its first.
  if (boxes.leftId)
    if (Picture left = DecodeItem(context.get(), *boxes.leftId, "left view",
                                  boxes))
      return left;
  return DecodeItem(context.get(), 0, "primary picture", boxes);
}

// HEIF files for the tests, made with libheif's own encoder, and the box
// surgery that turns them into stereo files: libheif 1.15 cannot write an
// entity group or a camera property, so they are put into `meta` here,
// the enclosing boxes grown and the item data offsets that follow moved.
#pragma once

#include <libheif/heif.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/picture.h"
#include "tests/box_writer.h"

namespace heif_files {

using Bytes = std::vector<uint8_t>;

using box_writer::GetBe32;
using box_writer::MakeBox;
using box_writer::PutBe32;
using box_writer::SetBe32;

inline Bytes MakeFullBox(const char* type, uint32_t versionFlags,
                         const Bytes& body) {
  Bytes full;
  PutBe32(full, versionFlags);
  full.insert(full.end(), body.begin(), body.end());
  return MakeBox(type, full);
}
inline Bytes MakeUuidBox(const uint8_t (&uuid)[16], const Bytes& body) {
  Bytes inner(uuid, uuid + 16);
  inner.insert(inner.end(), body.begin(), body.end());
  return MakeBox("uuid", inner);
}
// An entity group: group id, count, ids.
inline Bytes MakeGroup(const char* type, uint32_t groupId,
                       const std::vector<uint32_t>& ids) {
  Bytes body;
  PutBe32(body, groupId);
  PutBe32(body, uint32_t(ids.size()));
  for (uint32_t id : ids) PutBe32(body, id);
  return MakeFullBox(type, 0, body);
}

// Where the box of `path` (outermost first) starts, and its header size
// (12 for `meta`, a full box).  False when there is no such box.
inline bool FindBox(const Bytes& file, const std::vector<std::string>& path,
                    size_t& start, size_t& header) {
  size_t from = 0, to = file.size();
  for (const std::string& type : path) {
    bool found = false;
    for (size_t at = from; at + 8 <= to;) {
      uint32_t size = GetBe32(file, at);
      if (size < 8 || at + size > to) return false;
      if (std::memcmp(&file[at + 4], type.data(), 4) == 0) {
        start = at;
        header = type == "meta" ? 12 : 8;
        from = at + header;
        to = at + size;
        found = true;
        break;
      }
      at += size;
    }
    if (!found) return false;
  }
  return true;
}

// Adds `delta` to every file offset in `iloc` at or past `from`.
inline void ShiftItemOffsets(Bytes& file, size_t from, uint32_t delta) {
  size_t iloc, header;
  if (!FindBox(file, {"meta", "iloc"}, iloc, header)) return;
  size_t at = iloc + 8;
  int version = file[at];
  at += 4;
  int offsetSize = file[at] >> 4, lengthSize = file[at] & 15;
  int baseSize = file[at + 1] >> 4, indexSize = version ? file[at + 1] & 15 : 0;
  at += 2;
  auto read = [&](int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | file[at + i];
    return v;
  };
  auto write = [&](size_t pos, int n, uint64_t v) {
    for (int i = n - 1; i >= 0; --i, v >>= 8) file[pos + i] = uint8_t(v);
  };
  uint32_t items = version < 2 ? uint32_t(read(2)) : uint32_t(read(4));
  at += version < 2 ? 2 : 4;
  for (uint32_t i = 0; i < items; ++i) {
    at += version < 2 ? 2 : 4;  // item id
    int method = 0;
    if (version) {
      method = int(read(2) & 15);
      at += 2;
    }
    at += 2;  // data reference index
    uint64_t base = read(baseSize);
    if (method == 0 && baseSize && base >= from)
      write(at, baseSize, base + delta);
    at += baseSize;
    int extents = int(read(2));
    at += 2;
    for (int e = 0; e < extents; ++e) {
      at += indexSize;
      uint64_t offset = read(offsetSize);
      if (method == 0 && !base && offset >= from)
        write(at, offsetSize, offset + delta);
      at += offsetSize + lengthSize;
    }
  }
}

// Puts `content` at the end of the box of `path`, growing it and the boxes
// around it, and moves the item data behind it.
inline bool InsertIntoBox(Bytes& file, const std::vector<std::string>& path,
                          const Bytes& content) {
  size_t start, header;
  if (!FindBox(file, path, start, header)) return false;
  size_t end = start + GetBe32(file, start);
  uint32_t delta = uint32_t(content.size());
  file.insert(file.begin() + end, content.begin(), content.end());
  for (size_t depth = 1; depth <= path.size(); ++depth) {
    std::vector<std::string> outer(path.begin(), path.begin() + depth);
    size_t at, h;
    FindBox(file, outer, at, h);
    SetBe32(file, at, GetBe32(file, at) + delta);
  }
  ShiftItemOffsets(file, end, delta);
  return true;
}

// A picture of plain colour ramps, different for each `seed`.
inline Picture RampPicture(int width, int height, int seed) {
  Picture p = CreatePicture(width, height, 24);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* px = PictureRow(p.get(), y) + 3 * x;
      px[0] = uint8_t(seed * 70 + y * 3);
      px[1] = uint8_t(x * 3 + seed * 20);
      px[2] = uint8_t((x + y) * 2 + seed * 90);
    }
  return p;
}

inline heif_error Collect(heif_context*, const void* data, size_t size,
                          void* userdata) {
  auto* out = static_cast<Bytes*>(userdata);
  auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// A HEIF file of the pictures, one top-level image each, the one at
// `primary` the primary image; their item ids in `ids`.
inline Bytes EncodeHeif(const std::vector<const Picture*>& pictures,
                        size_t primary, std::vector<uint32_t>& ids) {
  Bytes out;
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  heif_context_get_encoder_for_format(context, heif_compression_HEVC,
                                      &encoder);
  if (!encoder) {
    heif_context_free(context);
    return out;
  }
  heif_encoder_set_lossy_quality(encoder, 90);
  for (size_t i = 0; i < pictures.size(); ++i) {
    const Picture& picture = *pictures[i];
    int w = PictureWidth(picture), h = PictureHeight(picture);
    heif_image* image = nullptr;
    heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                      &image);
    heif_image_add_plane(image, heif_channel_interleaved, w, h, 8);
    int stride = 0;
    uint8_t* rgb = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* px = PictureRow(picture.get(), h - 1 - y) + 3 * x;
        uint8_t* to = rgb + y * stride + 3 * x;
        to[0] = px[2];
        to[1] = px[1];
        to[2] = px[0];
      }
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(context, image, encoder, nullptr, &handle);
    if (i == primary) heif_context_set_primary_image(context, handle);
    heif_image_handle_release(handle);
    heif_image_release(image);
  }
  heif_encoder_release(encoder);
  // Items are numbered in the order they were encoded.
  std::vector<heif_item_id> list(pictures.size());
  list.resize(size_t(heif_context_get_list_of_top_level_image_IDs(
      context, list.data(), int(list.size()))));
  ids.assign(list.begin(), list.end());
  heif_writer writer{1, Collect};
  heif_context_write(context, &writer, &out);
  heif_context_free(context);
  return out;
}

// libheif's own decode of one item, as a bottom-up BGR picture: the oracle.
inline Picture LibheifDecode(const Bytes& file, uint32_t id) {
  heif_context* context = heif_context_alloc();
  Picture out;
  heif_image_handle* handle = nullptr;
  heif_image* image = nullptr;
  if (heif_context_read_from_memory_without_copy(context, file.data(),
                                                 file.size(), nullptr)
              .code == heif_error_Ok &&
      heif_context_get_image_handle(context, id, &handle).code ==
          heif_error_Ok &&
      heif_decode_image(handle, &image, heif_colorspace_RGB,
                        heif_chroma_interleaved_RGB, nullptr)
              .code == heif_error_Ok) {
    int stride = 0;
    const uint8_t* rgb =
        heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    int w = heif_image_get_width(image, heif_channel_interleaved);
    int h = heif_image_get_height(image, heif_channel_interleaved);
    out = CreatePicture(w, h, 24);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* px = rgb + y * stride + 3 * x;
        uint8_t* to = PictureRow(out.get(), h - 1 - y) + 3 * x;
        to[0] = px[2];
        to[1] = px[1];
        to[2] = px[0];
      }
  }
  if (image) heif_image_release(image);
  if (handle) heif_image_handle_release(handle);
  heif_context_free(context);
  return out;
}

}  // namespace heif_files

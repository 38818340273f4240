#include "image/heif_boxes.h"

#include <cstring>
#include <string_view>

#include "core/iso_boxes.h"

namespace {

// The older files' camera properties are `uuid` boxes with these types.
constexpr uint8_t kIntrinsicsUuid[16] = {0x22, 0xcc, 0x04, 0xc7, 0xd6, 0xd9,
                                         0x4e, 0x07, 0x9d, 0x90, 0x4e, 0xb6,
                                         0xec, 0xba, 0xf3, 0xa3};
constexpr uint8_t kExtrinsicsUuid[16] = {0x43, 0x63, 0xe9, 0x14, 0x5b, 0x7d,
                                         0x4a, 0xab, 0x97, 0xae, 0xbe, 0xa6,
                                         0x98, 0x03, 0xb4, 0x34};
constexpr uint8_t kDisparityUuid[16] = {0xde, 0x22, 0x50, 0x85, 0x36, 0xcb,
                                        0x43, 0x65, 0x87, 0x43, 0x2f, 0x87,
                                        0x05, 0xe7, 0xc7, 0x8a};

struct Box {
  uint32_t type = 0;
  const uint8_t* uuid = nullptr;  // the user type of a `uuid` box
  const uint8_t* body = nullptr;
  size_t size = 0;
};

// The boxes one after another in [data, data + size).  Each call moves on
// by at least 8 bytes, so a walk ends after size / 8 steps at most.
class BoxReader {
 public:
  BoxReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // False at the end, and with `problem` set when a header is damaged.
  bool Next(Box& box, std::string& problem) {
    if (at_ >= size_) return false;
    size_t left = size_ - at_;
    const uint8_t* p = data_ + at_;
    if (left < kBoxHeader || (HasLargeLength(p) && left < kLargeBoxHeader))
      return Damaged("a box header is cut short", problem);
    uint64_t length = 0;
    size_t header = 0;
    bool fits = BoxLength(p, left, length, header);
    box.type = Be32(p + 4);
    box.uuid = nullptr;
    if (box.type == BoxTag("uuid")) {
      if (length < header + 16 || left < header + 16)
        return Damaged("a uuid box is cut short", problem);
      box.uuid = p + header;
      header += 16;
    }
    if (!fits || length < header)
      return Damaged("a box runs past the data that holds it", problem);
    box.body = p + header;
    box.size = static_cast<size_t>(length) - header;
    at_ += static_cast<size_t>(length);
    return true;
  }

 private:
  bool Damaged(const char* why, std::string& problem) {
    problem = why;
    at_ = size_;
    return false;
  }
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

bool IsHeifBrand(uint32_t brand) {
  for (uint32_t known : {BoxTag("heic"), BoxTag("heix"), BoxTag("heim"), BoxTag("heis"),
                         BoxTag("hevc"), BoxTag("hevx"), BoxTag("mif1"), BoxTag("msf1"),
                         BoxTag("mif2"), BoxTag("avif"), BoxTag("avis")})
    if (brand == known) return true;
  return false;
}

void ReadStereoGroups(const Box& grpl, HeifBoxes& out) {
  BoxReader groups(grpl.body, grpl.size);
  Box group;
  while (groups.Next(group, out.problem)) {
    if (group.type != BoxTag("ster") || out.leftId) continue;
    // version and flags, group_id, num_entities_in_group, then the ids
    if (group.size < 12) {
      out.problem = "a stereo group is cut short";
      continue;
    }
    uint32_t count = Be32(group.body + 8);
    if (count < 2) {
      out.problem = "a stereo group names fewer than two views";
      continue;
    }
    if (count > (group.size - 12) / 4) {
      out.problem = "a stereo group names more views than it holds";
      continue;
    }
    out.leftId = Be32(group.body + 12);
    out.rightId = Be32(group.body + 16);
  }
}

int32_t Signed(uint32_t value) { return static_cast<int32_t>(value); }

// Intrinsics: version and flags (the fixed-point shift in bits 8..12), then
// focal length x, principal point x and y, as fractions of the width.
void ReadIntrinsics(const uint8_t* body, size_t size, HeifCamera& camera) {
  if (size < 16) return;
  uint32_t flags = Be32(body) & 0xFFFFFF;
  int shift = (flags >> 8) & 0x1F;
  camera.focalX = Signed(Be32(body + 4)) / double(uint64_t{1} << shift);
}

// Extrinsics: flags 1, 2 and 4 say which of x, y, z (micrometres) follow.
void ReadExtrinsics(const uint8_t* body, size_t size, HeifCamera& camera) {
  if (size < 4) return;
  uint32_t flags = Be32(body) & 0xFFFFFF;
  size_t at = 4;
  std::optional<double>* axes[] = {&camera.positionX, &camera.positionY,
                                   &camera.positionZ};
  bool any = false;
  for (int axis = 0; axis < 3; ++axis) {
    if (!(flags & (1u << axis))) continue;
    if (size - at < 4) return;
    *axes[axis] = Signed(Be32(body + at));
    at += 4;
    any = true;
  }
  if (!any) return;
  for (auto* axis : axes)
    if (!*axis) *axis = 0.0;
}

void ReadCameraProperty(const Box& property, HeifCamera& camera) {
  if (property.type == BoxTag("cmin")) {
    ReadIntrinsics(property.body, property.size, camera);
  } else if (property.type == BoxTag("cmex")) {
    ReadExtrinsics(property.body, property.size, camera);
  } else if (property.uuid) {
    if (!std::memcmp(property.uuid, kIntrinsicsUuid, 16))
      ReadIntrinsics(property.body, property.size, camera);
    else if (!std::memcmp(property.uuid, kExtrinsicsUuid, 16))
      ReadExtrinsics(property.body, property.size, camera);
    else if (!std::memcmp(property.uuid, kDisparityUuid, 16) &&
             property.size >= 4)
      camera.disparity = Signed(Be32(property.body));
  }
}

bool HasCamera(const HeifCamera& c) {
  return c.focalX || c.positionX || c.disparity;
}

// `ipco` lists the properties (numbered from 1); each `ipma` entry ties an
// item to some of them.
void ReadProperties(const Box& iprp, HeifBoxes& out) {
  std::vector<Box> properties;
  std::vector<Box> associations;
  BoxReader children(iprp.body, iprp.size);
  Box child;
  while (children.Next(child, out.problem)) {
    if (child.type == BoxTag("ipco")) {
      BoxReader list(child.body, child.size);
      Box property;
      while (list.Next(property, out.problem)) properties.push_back(property);
    } else if (child.type == BoxTag("ipma")) {
      associations.push_back(child);
    }
  }
  for (const Box& ipma : associations) {
    if (ipma.size < 8) continue;
    int version = ipma.body[0];
    bool wideIndex = ipma.body[3] & 1;
    uint32_t entries = Be32(ipma.body + 4);
    const uint8_t* p = ipma.body + 8;
    const uint8_t* end = ipma.body + ipma.size;
    for (uint32_t e = 0; e < entries; ++e) {
      size_t idSize = version < 1 ? 2 : 4;
      if (size_t(end - p) < idSize + 1) {
        out.problem = "a property association list is cut short";
        break;
      }
      uint32_t itemId = idSize == 2 ? Be16(p) : Be32(p);
      p += idSize;
      int count = *p++;
      size_t each = wideIndex ? 2 : 1;
      if (size_t(end - p) < count * each) {
        out.problem = "a property association list is cut short";
        break;
      }
      HeifCamera camera;
      for (int a = 0; a < count; ++a, p += each) {
        size_t index = wideIndex ? (Be16(p) & 0x7FFF) : (*p & 0x7F);
        if (index == 0 || index > properties.size()) continue;
        ReadCameraProperty(properties[index - 1], camera);
      }
      if (HasCamera(camera)) out.cameras.push_back({itemId, camera});
    }
  }
}

}  // namespace

const HeifCamera* HeifBoxes::CameraOf(uint32_t itemId) const {
  for (const ItemCamera& c : cameras)
    if (c.itemId == itemId) return &c.camera;
  return nullptr;
}

bool LooksLikeHeif(const uint8_t* data, size_t size) {
  if (!data || size < 16 || Be32(data + 4) != BoxTag("ftyp")) return false;
  size_t length = Be32(data);
  if (length < 16 || length > size) return false;
  if (IsHeifBrand(Be32(data + 8))) return true;
  for (size_t at = 16; at + 4 <= length; at += 4)
    if (IsHeifBrand(Be32(data + at))) return true;
  return false;
}

bool ReadHeifBoxes(const uint8_t* data, size_t size, HeifBoxes& out) {
  out = HeifBoxes{};
  if (!LooksLikeHeif(data, size)) {
    out.problem = "not a HEIF file";
    return false;
  }
  out.isAvif = Be32(data + 8) == BoxTag("avif") || Be32(data + 8) == BoxTag("avis");
  BoxReader top(data, size);
  Box box;
  std::string problem;
  while (top.Next(box, problem)) {
    if (box.type != BoxTag("meta")) continue;
    if (box.size < 4) break;
    BoxReader children(box.body + 4, box.size - 4);  // after version, flags
    Box child;
    while (children.Next(child, out.problem)) {
      if (child.type == BoxTag("pitm") && child.size >= 6)
        out.primaryId = child.body[0] == 0 ? Be16(child.body + 4)
                        : child.size >= 8  ? Be32(child.body + 4)
                                           : 0;
      else if (child.type == BoxTag("grpl"))
        ReadStereoGroups(child, out);
      else if (child.type == BoxTag("iprp"))
        ReadProperties(child, out);
    }
    return true;
  }
  out.problem = problem.empty() ? "no meta box" : problem;
  return false;
}

#include "image/jps_layout.h"

#include <cstring>

#include "image/stereo_writer.h"

namespace {

constexpr char kJpsMark[8] = {'_', 'J', 'P', 'S', 'J', 'P', 'S', '_'};

// Descriptor bytes: separation, flags, layout, type.
constexpr uint8_t kFlagHalfHeight = 1;
constexpr uint8_t kFlagHalfWidth = 2;
constexpr uint8_t kFlagLeftFirst = 4;
constexpr uint8_t kLayoutInterleaved = 1;
constexpr uint8_t kLayoutSideBySide = 2;
constexpr uint8_t kLayoutOverUnder = 3;
constexpr uint8_t kTypeStereo = 1;

// The segment body after "_JPSJPS_": a big-endian block length (at least
// the four descriptor bytes), the descriptor, then a comment we ignore.
bool ParseDescriptor(const uint8_t* body, size_t size, JpsLayout& layout) {
  if (size < 8 + 2 + 4 || std::memcmp(body, kJpsMark, 8) != 0) return false;
  unsigned block = unsigned{body[8]} << 8 | body[9];
  if (block < 4) return false;
  const uint8_t* d = body + 10;
  if (d[3] != kTypeStereo) return false;
  switch (d[2]) {
    case kLayoutInterleaved:
      layout.arrangement = JpsArrangement::Interleaved;
      break;
    case kLayoutSideBySide:
      layout.arrangement = JpsArrangement::SideBySide;
      break;
    case kLayoutOverUnder:
      layout.arrangement = JpsArrangement::OverUnder;
      break;
    default:
      return false;  // anaglyph and unknown layouts: no views to cut
  }
  layout.separation = d[0];
  layout.halfHeight = (d[1] & kFlagHalfHeight) != 0;
  layout.halfWidth = (d[1] & kFlagHalfWidth) != 0;
  layout.leftFirst = (d[1] & kFlagLeftFirst) != 0;
  layout.declared = true;
  return true;
}

// A `width` x `rows` picture of columns [firstColumn, +width) of `whole`,
// its display row k taken from the whole's display row rowOf(k).
template <typename RowOf>
Picture CopyView(const Picture& whole, int firstColumn, int width, int rows,
                 RowOf rowOf) {
  if (width < 1 || rows < 1) return nullptr;
  Picture view = CreatePicture(width, rows, 24);
  if (!view) return nullptr;
  int height = PictureHeight(whole);
  // Rows are stored bottom-up.
  for (int k = 0; k < rows; ++k)
    std::memcpy(PictureRow(view.get(), rows - 1 - k),
                PictureRow(whole.get(), height - 1 - rowOf(k)) +
                    3 * size_t(firstColumn),
                3 * size_t(width));
  return view;
}

}  // namespace

JpsLayout ReadJpsLayout(const uint8_t* data, size_t size) {
  JpsLayout layout;
  if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return layout;
  size_t at = 2;
  while (at + 4 <= size && data[at] == 0xFF) {
    uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // the scan: too late
    size_t length = size_t{data[at + 2]} << 8 | data[at + 3];
    if (length < 2 || length > size - at - 2) break;
    JpsLayout found;
    if (marker == 0xE3 && ParseDescriptor(data + at + 4, length - 2, found))
      return found;
    at += 2 + length;
  }
  return layout;
}

std::vector<uint8_t> JpsDescriptorSegment(const JpsLayout& layout) {
  uint8_t arrangement = kLayoutSideBySide;
  if (layout.arrangement == JpsArrangement::OverUnder)
    arrangement = kLayoutOverUnder;
  if (layout.arrangement == JpsArrangement::Interleaved)
    arrangement = kLayoutInterleaved;
  uint8_t flags = (layout.halfHeight ? kFlagHalfHeight : 0) |
                  (layout.halfWidth ? kFlagHalfWidth : 0) |
                  (layout.leftFirst ? kFlagLeftFirst : 0);
  // Length, mark, block length 4, descriptor, an empty comment.
  std::vector<uint8_t> out = {0xFF, 0xE3, 0, 2 + 8 + 2 + 4 + 2};
  out.insert(out.end(), kJpsMark, kJpsMark + 8);
  out.insert(out.end(), {0, 4, uint8_t(layout.separation), flags, arrangement,
                         kTypeStereo, 0, 0});
  return out;
}

bool SplitJpsViews(const Picture& whole, const JpsLayout& layout,
                   Picture& left, Picture& right) {
  left.reset();
  right.reset();
  if (!whole || PictureBits(whole) != 24) return false;
  int width = PictureWidth(whole), height = PictureHeight(whole);
  Picture first, second;
  switch (layout.arrangement) {
    case JpsArrangement::SideBySide: {
      int half = width / 2;
      auto same = [](int k) { return k; };
      first = CopyView(whole, 0, half, height, same);
      second = first ? CopyView(whole, half, half, height, same) : nullptr;
      break;
    }
    case JpsArrangement::OverUnder: {
      int half = height / 2;
      first = CopyView(whole, 0, width, half, [](int k) { return k; });
      second = first ? CopyView(whole, 0, width, half,
                                [half](int k) { return half + k; })
                     : nullptr;
      break;
    }
    case JpsArrangement::Interleaved: {
      int half = height / 2;
      first = CopyView(whole, 0, width, half, [](int k) { return 2 * k; });
      second = first ? CopyView(whole, 0, width, half,
                                [](int k) { return 2 * k + 1; })
                     : nullptr;
      break;
    }
  }
  if (!first || !second) return false;
  // Without a descriptor the left half is the left view.
  bool leftFirst = !layout.declared || layout.leftFirst;
  left = std::move(leftFirst ? first : second);
  right = std::move(leftFirst ? second : first);
  return true;
}

Picture LeftFirstSideBySide(Picture whole, const JpsLayout& layout) {
  if (!layout.declared || (layout.arrangement == JpsArrangement::SideBySide &&
                           layout.leftFirst))
    return whole;
  Picture left, right;
  if (!SplitJpsViews(whole, layout, left, right)) return nullptr;
  return JoinSideBySide(left, right);
}

// Multi-picture (MPO) files: a byte scan finds the second picture and the
// camera's parallax, and both views are decoded from the file's own bytes.
#include "image/mpo_reader.h"

#include <cstring>
#include <optional>
#include <vector>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/jpeg_comment.h"
#include "image/jpeg_reader.h"
#include "image/stereo_still.h"
#include "image/two_threads.h"

namespace {

// The FUJIFILM maker note's parallax entries are looked for this far from
// its start.
constexpr size_t kParallaxWindow = 400;

constexpr uint8_t kMpfMark[4] = {'M', 'P', 'F', 0};
constexpr uint8_t kMakerNoteMark[6] = {'F', 'I', 'L', 'M', 0x0C, 0x00};

// Where the second picture begins and where the maker note that belongs to
// it starts, as the byte scan finds them.
struct MpoLayout {
  size_t start = 0;
  std::optional<size_t> makerNote;
};

const uint8_t* Find(const uint8_t* from, const uint8_t* end,
                    const uint8_t* pattern, size_t length) {
  if (from >= end) return nullptr;
  return static_cast<const uint8_t*>(
      memmem(from, static_cast<size_t>(end - from), pattern, length));
}

bool IsByteOrderMark(uint8_t c) { return c == 'M' || c == 'I'; }

uint32_t ReadU32(const uint8_t* p, bool big) {
  return big ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 |
                   uint32_t{p[2]} << 8 | p[3]
             : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 |
                   uint32_t{p[1]} << 8 | p[0];
}

// The MP index's type code of a picture of a stereo pair.
constexpr uint32_t kDisparityType = 0x020002;

// Where the MP index at `mark` ("MPF\0" then a TIFF header) puts the
// second picture: its entry's offset counts from the TIFF header.  Some
// writers (Pillow among them) give only the first picture an MP segment,
// so this is all there is to find the second one by.
bool SecondFromIndex(const uint8_t* data, size_t size, size_t mark,
                     size_t& start, bool& disparity) {
  size_t header = mark + 4;
  if (header > size || size - header < 8) return false;
  const uint8_t* tiff = data + header;
  size_t available = size - header;
  bool big = tiff[0] == 'M';
  auto u16 = [&](size_t at) {
    return big ? unsigned{tiff[at]} << 8 | tiff[at + 1]
               : unsigned{tiff[at + 1]} << 8 | tiff[at];
  };
  uint32_t ifd = ReadU32(tiff + 4, big);
  if (ifd > available || available - ifd < 2) return false;
  unsigned count = u16(ifd);
  if ((available - ifd - 2) / 12 < count) return false;
  for (unsigned i = 0; i < count; ++i) {
    size_t entry = ifd + 2 + size_t{i} * 12;
    if (u16(entry) != 0xB002) continue;
    uint32_t length = ReadU32(tiff + entry + 4, big);
    uint32_t at = ReadU32(tiff + entry + 8, big);
    // Two 16-byte entries at least; the second's offset is at byte 24.
    if (length < 32 || at > available || available - at < 32) return false;
    // The second entry's attribute: its low 24 bits type the picture.
    disparity = (ReadU32(tiff + at + 16, big) & 0xFFFFFF) == kDisparityType;
    uint64_t second = uint64_t{header} + ReadU32(tiff + at + 24, big);
    if (second >= size || size - second < 4 || data[second] != 0xFF ||
        data[second + 1] != 0xD8)
      return false;
    start = static_cast<size_t>(second);
    return true;
  }
  return false;
}

// The scan over every byte position: the second "MPF\0" followed by two
// byte-order letters ends it and gives the start (six bytes before the
// mark: the two bytes ahead of the APP2 marker are taken as the picture's
// start); the second "FILM" 0x0C 0x00 met before that is the maker note of
// the second picture, whose 8-byte header begins four bytes earlier.  A
// file with one mark only has its second picture where its MP index says.
bool ScanLayout(const uint8_t* data, size_t size, MpoLayout& layout) {
  const uint8_t* end = data + size;
  const uint8_t* marks[2] = {nullptr, nullptr};
  int found = 0;
  for (const uint8_t* p = Find(data, end, kMpfMark, sizeof kMpfMark); p;
       p = Find(p + 1, end, kMpfMark, sizeof kMpfMark)) {
    if (end - p < 6 || !IsByteOrderMark(p[4]) || !IsByteOrderMark(p[5]))
      continue;
    marks[found] = p;
    if (++found == 2) break;
  }
  const uint8_t* scanEnd = marks[1];
  if (marks[1]) {
    size_t i = static_cast<size_t>(marks[1] - data);
    if (i < 6) {
      NoteLoadFailure("second MPF mark too close to the file start");
      return false;
    }
    layout.start = i - 6;
  } else if (bool disparity = false;
             marks[0] &&
             SecondFromIndex(data, size, size_t(marks[0] - data),
                             layout.start, disparity)) {
    // Pillow types the second picture "undefined"; so do phones for a gain
    // map or a depth map, which is no view.  Such a picture is the second
    // view only when it is as large as the first.
    int width = 0, height = 0, secondWidth = 0, secondHeight = 0;
    if (!disparity &&
        (!ReadJpegSize({data, layout.start}, width, height) ||
         !ReadJpegSize({data + layout.start, size - layout.start},
                       secondWidth, secondHeight) ||
         width != secondWidth || height != secondHeight)) {
      NoteLoadFailure("no second MPF mark, and the MP index's second picture "
                      "is no view of the same size (a gain or depth map?)");
      return false;
    }
    scanEnd = end;
  } else {
    NoteLoadFailure(marks[0] ? "no second MPF mark, and no second picture in "
                               "the MP index"
                             : "no second MPF mark");
    return false;
  }

  int notes = 0;
  for (const uint8_t* p =
           Find(data, end, kMakerNoteMark, sizeof kMakerNoteMark);
       p && p < scanEnd;
       p = Find(p + 1, end, kMakerNoteMark, sizeof kMakerNoteMark)) {
    if (++notes == 2) {
      size_t at = static_cast<size_t>(p - data);
      if (at >= 4) layout.makerNote = at - 4;
      break;
    }
  }
  return true;
}

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
         uint32_t{p[3]} << 24;
}

// The signed rational at `offset` from the maker note.  False when it lies
// outside the data; `value` stays empty when its denominator is zero.
bool ReadRational(const uint8_t* data, size_t size, size_t makerNote,
                  uint32_t offset, std::optional<double>& value) {
  uint64_t at = uint64_t{makerNote} + offset;
  if (at > size || size - at < 8) return false;
  auto numerator = static_cast<int32_t>(ReadLe32(data + at));
  auto denominator = static_cast<int32_t>(ReadLe32(data + at + 4));
  if (denominator != 0) value = static_cast<double>(numerator) / denominator;
  return true;
}

struct Parallax {
  std::optional<double> horizontal;  // percent of the width
  std::optional<double> vertical;    // percent of the height
};

// Two consecutive 12-byte directory entries tagged 0xB211 and 0xB212
// (little-endian) within the window; their value offsets count from the
// maker note's start.  False when a value offset points outside the data:
// such a file is damaged or made to mislead, and is refused.
bool FindParallax(const uint8_t* data, size_t size, size_t makerNote,
                  Parallax& parallax) {
  for (size_t j = makerNote; j < makerNote + kParallaxWindow; ++j) {
    if (j > size || size - j < 24) break;
    const uint8_t* entry = data + j;
    if (entry[0] != 0x11 || entry[1] != 0xB2 || entry[12] != 0x12 ||
        entry[13] != 0xB2)
      continue;
    if (!ReadRational(data, size, makerNote, ReadLe32(entry + 8),
                      parallax.horizontal) ||
        !ReadRational(data, size, makerNote, ReadLe32(entry + 20),
                      parallax.vertical)) {
      NoteLoadFailure("parallax value outside the file");
      return false;
    }
    break;
  }
  return true;
}

// side x percent x factor, truncated toward zero.  Amounts beyond any
// picture side are held there: the crop refuses them anyway.
int ShiftFor(int side, double percent, double factor) {
  double shift = side * percent * factor;
  constexpr double kBound = kMaxPictureSide + 1.0;
  if (shift > kBound) shift = kBound;
  if (shift < -kBound) shift = -kBound;
  return static_cast<int>(shift);
}

}  // namespace

int LoadMpoFile(const std::string& path, Picture& left, Picture& right) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return 0;
  return LoadMpoData(bytes.data(), bytes.size(), left, right);
}

int LoadMpoData(const uint8_t* data, size_t size, Picture& left,
                Picture& right) {
  ParallaxShiftX = 0;
  ParallaxShiftY = 0;
  MpoViews views;
  if (!DecodeMpoViews(data, size, views)) return 0;
  ParallaxShiftX = views.shiftX;
  ParallaxShiftY = views.shiftY;
  left = std::move(views.left);
  right = std::move(views.right);
  return 1;
}

bool ReadMpoFileViews(const std::string& path, MpoViews& views) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  return DecodeMpoViews(bytes.data(), bytes.size(), views);
}

namespace {

// Both views at 1/denominator of their size, cropped by the parallax
// shifts divided alike.
Picture DecodeView(const JpegStream& stream, int denominator, int dx, int dy) {
  if (denominator == 1) return DecodeJpegPixels(stream, dx, dy);
  return DecodeJpegPixelsReduced(stream, denominator, dx / denominator,
                                 dy / denominator);
}

bool DecodeViews(const uint8_t* data, size_t size, int denominator,
                 MpoViews& views) {
  if (!data) size = 0;
  // Spatial HEIF photos and VR photos take the same paths as an MPO.
  if (IsStereoStillData(data, size))
    return DecodeStereoStillViews(data, size, denominator, views);
  MpoLayout layout;
  if (!ScanLayout(data, size, layout)) return false;
  Parallax parallax;
  if (layout.makerNote &&
      !FindParallax(data, size, *layout.makerNote, parallax))
    return false;

  // The second picture: the bytes from `start` on, its first two read as
  // FF D8.  The shifts come from its size, which its header gives; both
  // views are then decoded straight into their cropped form, which is what
  // cropping the decoded pictures would give, without a second copy.
  JpegStream secondStream{data + layout.start, size - layout.start, true};
  int shiftX = 0, shiftY = 0;
  if (parallax.horizontal || parallax.vertical) {
    int width = 0, height = 0;
    if (!ReadJpegSize(secondStream, width, height)) return false;
    if (parallax.horizontal)
      shiftX = ShiftFor(width, *parallax.horizontal, -0.01);
    if (parallax.vertical) shiftY = ShiftFor(height, *parallax.vertical, 0.01);
  }
  // The first picture is the file itself: the library stops at its end.
  // The comments are read in the order a view after view decode reads
  // them: the second picture's only when the first decoded.
  JpegStream firstStream{data, size, false};
  ReadJpegCommentBeforeDecoding(data, size, false);
  Picture leftView, rightView;
  std::string rightFailure;
  RunSideBySide(
      [&] {
        rightView = DecodeView(secondStream, denominator, -shiftX, -shiftY);
      },
      [&] { leftView = DecodeView(firstStream, denominator, shiftX, shiftY); },
      rightFailure);
  if (!leftView) return false;
  ReadJpegCommentBeforeDecoding(secondStream.data, secondStream.size, true);
  if (!rightView) {
    NoteLoadFailure(rightFailure);
    return false;
  }
  views.left = std::move(leftView);
  views.right = std::move(rightView);
  views.shiftX = shiftX;
  views.shiftY = shiftY;
  return true;
}

}  // namespace

bool DecodeMpoViews(const uint8_t* data, size_t size, MpoViews& views) {
  return DecodeViews(data, size, 1, views);
}

bool DecodeMpoViewsReduced(const uint8_t* data, size_t size, int denominator,
                           MpoViews& views) {
  if (denominator != 1 && denominator != 2 && denominator != 4 &&
      denominator != 8) {
    NoteLoadFailure("reduction must be 1, 2, 4 or 8");
    return false;
  }
  return DecodeViews(data, size, denominator, views);
}

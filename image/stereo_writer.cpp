#include "image/stereo_writer.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "image/exif_copy.h"
#include "image/jps_layout.h"

namespace {

// libjpeg reports errors by calling error_exit, which must not return.
struct ErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  cinfo->err->format_message(cinfo, manager->message);
  longjmp(manager->jump, 1);
}

// Kept apart from EncodeJpeg so that no object with a destructor lives in
// the frame setjmp returns to.
bool Compress(jpeg_compress_struct& cinfo, ErrorManager& errors,
              const Picture& picture, int quality, bool jfif,
              unsigned char** buffer, unsigned long* size) {
  if (setjmp(errors.jump)) return false;
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, buffer, size);
  int width = PictureWidth(picture), height = PictureHeight(picture);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.write_JFIF_header = jfif ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  // Stored bottom-up: the top row is the last one.
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = PictureRow(picture.get(),
                              height - 1 - static_cast<int>(cinfo.next_scanline));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

// Little-endian TIFF pieces, for the Exif and MP directories.
struct Tiff {
  std::vector<uint8_t> bytes;
  void U16(uint32_t v) {
    bytes.push_back(v & 0xFF);
    bytes.push_back((v >> 8) & 0xFF);
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void PutU32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = (v >> (8 * i)) & 0xFF;
  }
};

enum TiffType : uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5,
                           kUndefined = 7 };

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  std::vector<uint8_t> data;  // the value's bytes, little-endian
};

Entry Short(uint16_t tag, uint16_t v) {
  return {tag, kShort, 1, {uint8_t(v & 0xFF), uint8_t(v >> 8)}};
}
Entry Long(uint16_t tag, uint32_t v) {
  Tiff t;
  t.U32(v);
  return {tag, kLong, 1, t.bytes};
}
Entry Rational(uint16_t tag, uint32_t n, uint32_t d) {
  Tiff t;
  t.U32(n);
  t.U32(d);
  return {tag, kRational, 1, t.bytes};
}
Entry Undefined(uint16_t tag, std::vector<uint8_t> data) {
  uint32_t count = static_cast<uint32_t>(data.size());
  return {tag, kUndefined, count, std::move(data)};
}
Entry Ascii(uint16_t tag, const char* text) {
  std::vector<uint8_t> data(text, text + std::strlen(text) + 1);
  uint32_t count = static_cast<uint32_t>(data.size());
  return {tag, kAscii, count, std::move(data)};
}

// Appends one directory at the end of `t` (offsets relative to t's start);
// values over four bytes follow it.  Returns where its next-directory
// offset was written, for a directory that comes after.
size_t AppendDirectory(Tiff& t, const std::vector<Entry>& entries) {
  size_t start = t.bytes.size();
  size_t valuesAt = start + 2 + 12 * entries.size() + 4;
  Tiff values;
  t.U16(static_cast<uint32_t>(entries.size()));
  for (const Entry& e : entries) {
    t.U16(e.tag);
    t.U16(e.type);
    t.U32(e.count);
    if (e.data.size() <= 4) {
      std::vector<uint8_t> inline_(e.data);
      inline_.resize(4, 0);
      t.bytes.insert(t.bytes.end(), inline_.begin(), inline_.end());
    } else {
      t.U32(static_cast<uint32_t>(valuesAt + values.bytes.size()));
      values.bytes.insert(values.bytes.end(), e.data.begin(), e.data.end());
      if (values.bytes.size() % 2) values.bytes.push_back(0);
    }
  }
  size_t next = t.bytes.size();
  t.U32(0);
  t.bytes.insert(t.bytes.end(), values.bytes.begin(), values.bytes.end());
  return next;
}

Tiff TiffHeader() {
  Tiff t;
  t.bytes = {'I', 'I', 42, 0};
  t.U32(8);
  return t;
}

std::vector<uint8_t> Segment(uint8_t marker, const char* id, size_t idLength,
                             const std::vector<uint8_t>& body) {
  size_t length = 2 + idLength + body.size();
  std::vector<uint8_t> out = {0xFF, marker, uint8_t(length >> 8),
                              uint8_t(length & 0xFF)};
  out.insert(out.end(), id, id + idLength);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// Exif of one view: who wrote it, upright, and the pixel size.
std::vector<uint8_t> ExifSegment(int width, int height) {
  Tiff t = TiffHeader();
  std::vector<Entry> ifd0 = {Ascii(0x010F, "Duoramic"),
                             Ascii(0x0110, "duoramic-cli"),
                             Short(0x0112, 1),
                             Rational(0x011A, 72, 1),
                             Rational(0x011B, 72, 1),
                             Short(0x0128, 2),
                             Ascii(0x0131, "Duoramic"),
                             Short(0x0213, 1),
                             Long(0x8769, 0)};
  size_t ifd0Next = AppendDirectory(t, ifd0);
  (void)ifd0Next;
  // The Exif pointer is the last entry of IFD0: point it at what follows.
  size_t pointerValue = 8 + 2 + 12 * (ifd0.size() - 1) + 8;
  t.PutU32(pointerValue, static_cast<uint32_t>(t.bytes.size()));
  AppendDirectory(t, {Undefined(0x9000, {'0', '2', '3', '0'}),
                      Undefined(0x9101, {1, 2, 3, 0}),
                      Undefined(0xA000, {'0', '1', '0', '0'}),
                      Short(0xA001, 1),
                      Long(0xA002, static_cast<uint32_t>(width)),
                      Long(0xA003, static_cast<uint32_t>(height))});
  return Segment(0xE1, "Exif\0\0", 6, t.bytes);
}

// The source's Exif with the view's size, else ours.
std::vector<uint8_t> ExifFor(const std::vector<uint8_t>& sourceExif,
                             int width, int height) {
  std::vector<uint8_t> tiff = sourceExif;
  // The segment's length field counts itself and the "Exif\0\0" mark.
  if (!tiff.empty() && tiff.size() <= 0xFFFF - 8 &&
      SetExifPictureSize(tiff, width, height)) {
    ClearParallax(tiff);
    return Segment(0xE1, "Exif\0\0", 6, tiff);
  }
  return ExifSegment(width, height);
}

constexpr uint32_t kMpDisparity = 0x020002;
constexpr uint32_t kMpRepresentative = 0x20000000;

std::vector<Entry> MpAttributes(uint32_t number) {
  return {Undefined(0xB000, {'0', '1', '0', '0'}), Long(0xB101, number),
          Long(0xB204, 1)};
}

// Picture 1's MP segment: the index (two entries) then its attributes.
std::vector<uint8_t> FirstMpSegment(uint32_t size1, uint32_t size2,
                                    uint32_t offset2) {
  Tiff table;
  table.U32(kMpRepresentative | kMpDisparity);
  table.U32(size1);
  table.U32(0);
  table.U32(0);
  table.U32(kMpDisparity);
  table.U32(size2);
  table.U32(offset2);
  table.U32(0);
  Tiff t = TiffHeader();
  size_t next = AppendDirectory(
      t, {Undefined(0xB000, {'0', '1', '0', '0'}), Long(0xB001, 2),
          Undefined(0xB002, table.bytes)});
  t.PutU32(next, static_cast<uint32_t>(t.bytes.size()));
  AppendDirectory(t, MpAttributes(1));
  return Segment(0xE2, "MPF\0", 4, t.bytes);
}

std::vector<uint8_t> SecondMpSegment() {
  Tiff t = TiffHeader();
  AppendDirectory(t, MpAttributes(2));
  return Segment(0xE2, "MPF\0", 4, t.bytes);
}

// Readers that find the second picture by scanning for the MP mark ("MPF",
// 0, a byte-order letter pair) must meet it exactly twice.
int MpMarks(const std::vector<uint8_t>& bytes) {
  int marks = 0;
  for (size_t i = 0; i + 6 <= bytes.size(); ++i)
    if (std::memcmp(&bytes[i], "MPF\0", 4) == 0 &&
        (bytes[i + 4] == 'I' || bytes[i + 4] == 'M') &&
        (bytes[i + 5] == 'I' || bytes[i + 5] == 'M'))
      ++marks;
  return marks;
}

}  // namespace

bool EncodeJpeg(const Picture& picture, int quality, bool jfif,
                std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  if (!picture || PictureBits(picture) != 24) {
    error = "only 24-bit pictures are encoded";
    return false;
  }
  jpeg_compress_struct cinfo{};
  ErrorManager errors{};
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = ErrorExit;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  bool ok = Compress(cinfo, errors, picture, quality, jfif, &buffer, &size);
  jpeg_destroy_compress(&cinfo);
  if (ok && buffer) out.assign(buffer, buffer + size);
  std::free(buffer);
  if (!ok) error = std::string("JPEG encoding failed: ") + errors.message;
  return ok;
}

Picture JoinSideBySide(const Picture& left, const Picture& right) {
  if (!left || !right || PictureBits(left) != 24 || PictureBits(right) != 24)
    return nullptr;
  int lw = PictureWidth(left), rw = PictureWidth(right);
  int lh = PictureHeight(left), rh = PictureHeight(right);
  // Both halves as wide as the wider view: a reader cuts at the middle.
  int half = std::max(lw, rw), height = std::max(lh, rh);
  Picture out = CreatePicture(2 * half, height, 24);
  if (!out) return nullptr;
  const Picture* views[2] = {&left, &right};
  for (int side = 0; side < 2; ++side) {
    const Picture& view = *views[side];
    int w = PictureWidth(view), h = PictureHeight(view);
    int bottom = (height - h) / 2;
    size_t column = 3 * (size_t(side) * half + (half - w) / 2);
    for (int y = 0; y < h; ++y)
      std::memcpy(PictureRow(out.get(), bottom + y) + column,
                  PictureRow(view.get(), y), 3 * size_t(w));
  }
  return out;
}

bool EncodeMpo(const Picture& left, const Picture& right, int quality,
               std::vector<uint8_t>& out, std::string& error,
               const std::vector<uint8_t>& sourceExif) {
  out.clear();
  // An accidental mark in the compressed data would hide the real second
  // picture from scanning readers; another quality encodes other bytes.
  for (int q = quality; q >= quality - 3 && q >= 1; --q) {
    std::vector<uint8_t> leftJpeg, rightJpeg;
    if (!EncodeJpeg(left, q, false, leftJpeg, error) ||
        !EncodeJpeg(right, q, false, rightJpeg, error))
      return false;
    // Each encoded picture: SOI, then its tables and scan.
    std::vector<uint8_t> second = {0xFF, 0xD8};
    auto exif2 = ExifFor(sourceExif, PictureWidth(right), PictureHeight(right));
    auto mp2 = SecondMpSegment();
    second.insert(second.end(), exif2.begin(), exif2.end());
    second.insert(second.end(), mp2.begin(), mp2.end());
    second.insert(second.end(), rightJpeg.begin() + 2, rightJpeg.end());

    auto exif1 = ExifFor(sourceExif, PictureWidth(left), PictureHeight(left));
    // The MP segment's size does not depend on the values in it.
    size_t mpSize = FirstMpSegment(0, 0, 0).size();
    size_t size1 = 2 + exif1.size() + mpSize + (leftJpeg.size() - 2);
    // Offsets count from the MP header: after SOI, Exif, the APP2 marker
    // and length and "MPF\0".
    size_t header = 2 + exif1.size() + 4 + 4;
    if (size1 + second.size() > 0xFFFFFFFFu) {
      error = "the views are too large for an MPO";
      return false;
    }
    auto mp1 = FirstMpSegment(static_cast<uint32_t>(size1),
                              static_cast<uint32_t>(second.size()),
                              static_cast<uint32_t>(size1 - header));
    out = {0xFF, 0xD8};
    out.insert(out.end(), exif1.begin(), exif1.end());
    out.insert(out.end(), mp1.begin(), mp1.end());
    out.insert(out.end(), leftJpeg.begin() + 2, leftJpeg.end());
    out.insert(out.end(), second.begin(), second.end());
    if (MpMarks(out) == 2) return true;
  }
  // The camera's Exif may itself hold what looks like a mark.
  if (!sourceExif.empty())
    return EncodeMpo(left, right, quality, out, error, {});
  out.clear();
  error = "the encoded views hide the MP marks";
  return false;
}

bool EncodeJps(const Picture& left, const Picture& right, int quality,
               std::vector<uint8_t>& out, std::string& error,
               const std::vector<uint8_t>& sourceExif) {
  out.clear();
  // The order cross-eyed viewing and most JPS readers expect: the right
  // view in the left half, and a descriptor that says so.
  Picture joined = JoinSideBySide(right, left);
  std::vector<uint8_t> jpeg;
  if (!joined) {
    error = "out of memory";
    return false;
  }
  if (!EncodeJpeg(joined, quality, true, jpeg, error)) return false;
  // After SOI and the JFIF segment, which must come first.
  size_t jfifEnd = 2;
  if (jpeg.size() > 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0)
    jfifEnd += 2 + (size_t{jpeg[4]} << 8 | jpeg[5]);
  JpsLayout layout;
  layout.declared = true;
  layout.arrangement = JpsArrangement::SideBySide;
  layout.leftFirst = false;
  auto exif = ExifFor(sourceExif, PictureWidth(joined), PictureHeight(joined));
  auto descriptor = JpsDescriptorSegment(layout);
  out.assign(jpeg.begin(), jpeg.begin() + jfifEnd);
  out.insert(out.end(), exif.begin(), exif.end());
  out.insert(out.end(), descriptor.begin(), descriptor.end());
  out.insert(out.end(), jpeg.begin() + jfifEnd, jpeg.end());
  return true;
}

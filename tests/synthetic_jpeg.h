// JPEG streams and multi-picture files made in memory with libjpeg's
// compressor, for the reader tests and the MPO benchmark.  Header-only so
// that both can use it.
#pragma once

#include <jpeglib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// GCC 12 at -O3 reports overflows inside std::vector's own growth code
// for the small appends below (a known false positive of its inliner).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#pragma GCC diagnostic ignored "-Wstringop-overread"
#endif

namespace synthetic {

using Bytes = std::vector<uint8_t>;

// Pixels top-down, `components` samples each, in `space`.
struct RawImage {
  int width = 0;
  int height = 0;
  int components = 3;
  J_COLOR_SPACE space = JCS_RGB;
  Bytes samples;
};

// A colourful test card: gradients with some texture so that the stream is
// neither trivial nor noise.  `seed` varies it.
inline RawImage TestCard(int width, int height, int seed = 0) {
  RawImage image{width, height, 3, JCS_RGB, {}};
  image.samples.resize(static_cast<size_t>(width) * height * 3);
  uint8_t* p = image.samples.data();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int texture = ((x * 7 + y * 13 + seed * 31) % 23) * 2;
      *p++ = static_cast<uint8_t>(
          (x * 255 / (width > 1 ? width - 1 : 1) + texture + seed * 40) & 0xFF);
      *p++ = static_cast<uint8_t>(
          (y * 255 / (height > 1 ? height - 1 : 1) + texture) & 0xFF);
      *p++ = static_cast<uint8_t>(((x ^ y) + seed * 17) & 0xFF);
    }
  }
  return image;
}

struct CompressOptions {
  int quality = 90;
  bool jfif = false;                  // cameras write Exif, not JFIF
  std::vector<std::string> comments;  // COM segments before the frame
  bool progressive = false;           // the library's standard scan script
  bool arithmetic = false;            // arithmetic instead of Huffman coding
};

inline Bytes Compress(const RawImage& image,
                      const CompressOptions& options = {}) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(image.width);
  cinfo.image_height = static_cast<JDIMENSION>(image.height);
  cinfo.input_components = image.components;
  cinfo.in_color_space = image.space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, options.quality, TRUE);
  cinfo.write_JFIF_header = options.jfif ? TRUE : FALSE;
  if (options.progressive) jpeg_simple_progression(&cinfo);
  cinfo.arith_code = options.arithmetic ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  for (const std::string& text : options.comments)
    jpeg_write_marker(&cinfo, JPEG_COM,
                      reinterpret_cast<const JOCTET*>(text.data()),
                      static_cast<unsigned>(text.size()));
  size_t rowBytes = static_cast<size_t>(image.width) * image.components;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.samples.data() +
                                        rowBytes * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// ---------------------------------------------------------------------------
// Segment building

inline void Put16Be(Bytes& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void Put16Le(Bytes& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32Le(Bytes& b, uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
}
inline void Patch32Le(Bytes& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}
inline void PutText(Bytes& b, const char* text, size_t length) {
  b.insert(b.end(), text, text + length);
}
// One 12-byte directory entry.
inline void PutEntry(Bytes& b, unsigned tag, unsigned type, uint32_t count,
                     uint32_t value) {
  Put16Le(b, tag);
  Put16Le(b, type);
  Put32Le(b, count);
  Put32Le(b, value);
}

// A marker segment: FF code, big-endian length, payload.
inline Bytes Segment(uint8_t code, const Bytes& payload) {
  Bytes b{0xFF, code};
  Put16Be(b, static_cast<unsigned>(payload.size() + 2));
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

// Inserts `segments` right after the stream's SOI marker.
inline Bytes InsertAfterStart(const Bytes& jpeg, const Bytes& segments) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), segments.begin(), segments.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// Inserts a COM segment just before the final EOI, after the scan.
inline Bytes CommentAfterScan(const Bytes& jpeg, const std::string& text) {
  Bytes payload(text.begin(), text.end());
  Bytes com = Segment(0xFE, payload);
  Bytes out(jpeg.begin(), jpeg.end() - 2);
  out.insert(out.end(), com.begin(), com.end());
  out.push_back(0xFF);
  out.push_back(0xD9);
  return out;
}

// A FUJIFILM maker note ("FUJIFILM", IFD offset 12, offsets counted from
// its start), with the parallax entries 0xB211 and 0xB212 when asked.
struct Parallax {
  bool present = false;
  int32_t horizontalNumerator = 0, horizontalDenominator = 1;
  int32_t verticalNumerator = 0, verticalDenominator = 1;
  // Value offsets as written; 0 means "where the rationals really are".
  uint32_t horizontalOffset = 0, verticalOffset = 0;
};

inline Bytes FujiMakerNote(const Parallax& parallax) {
  Bytes b;
  PutText(b, "FUJIFILM", 8);
  Put32Le(b, 12);
  unsigned count = parallax.present ? 3 : 1;
  Put16Le(b, count);
  uint32_t data = 12 + 2 + 12 * count + 4;  // rationals after the IFD
  PutEntry(b, 0x0000, 7, 4, 0x30333130);    // Version "0130"
  if (parallax.present) {
    PutEntry(b, 0xB211, 10, 1,
             parallax.horizontalOffset ? parallax.horizontalOffset : data);
    PutEntry(b, 0xB212, 10, 1,
             parallax.verticalOffset ? parallax.verticalOffset : data + 8);
  }
  Put32Le(b, 0);
  if (parallax.present) {
    Put32Le(b, static_cast<uint32_t>(parallax.horizontalNumerator));
    Put32Le(b, static_cast<uint32_t>(parallax.horizontalDenominator));
    Put32Le(b, static_cast<uint32_t>(parallax.verticalNumerator));
    Put32Le(b, static_cast<uint32_t>(parallax.verticalDenominator));
  }
  return b;
}

// APP1 Exif: IFD0 with Make and the Exif IFD pointer, the Exif IFD with the
// maker note (when given).
inline Bytes ExifSegment(const Bytes& makerNote) {
  Bytes tiff;
  PutText(tiff, "II*\0", 4);
  Put32Le(tiff, 8);
  const char make[] = "FUJIFILM";  // 9 bytes with its zero
  Put16Le(tiff, 2);
  uint32_t makeAt = 8 + 2 + 2 * 12 + 4;
  uint32_t exifAt = makeAt + 10;
  PutEntry(tiff, 0x010F, 2, 9, makeAt);
  PutEntry(tiff, 0x8769, 4, 1, exifAt);
  Put32Le(tiff, 0);
  PutText(tiff, make, 9);
  tiff.push_back(0);  // word alignment
  uint32_t noteAt = exifAt + 2 + 12 + 4;
  Put16Le(tiff, 1);
  PutEntry(tiff, 0x927C, 7, static_cast<uint32_t>(makerNote.size()), noteAt);
  Put32Le(tiff, 0);
  tiff.insert(tiff.end(), makerNote.begin(), makerNote.end());
  Bytes payload;
  PutText(payload, "Exif\0\0", 6);
  payload.insert(payload.end(), tiff.begin(), tiff.end());
  return Segment(0xE1, payload);
}

// APP2 MPF of the first picture: MP header, MP index IFD with one entry per
// picture and the attribute IFD.  Entry offsets count from the MP header;
// they are patched once the pictures' places are known.
constexpr size_t kMpfHeaderInSegment = 8;  // FF E2, length, "MPF\0"

inline Bytes MpfIndexSegment(int pictures) {
  Bytes b;
  PutText(b, "MPF\0", 4);
  PutText(b, "II*\0", 4);
  Put32Le(b, 8);
  Put16Le(b, 3);
  uint32_t entriesAt = 8 + 2 + 3 * 12 + 4;
  uint32_t attributesAt = entriesAt + 16 * pictures;
  PutEntry(b, 0xB000, 7, 4, 0x30303130);  // "0100"
  PutEntry(b, 0xB001, 4, 1, static_cast<uint32_t>(pictures));
  PutEntry(b, 0xB002, 7, 16 * pictures, entriesAt);
  Put32Le(b, attributesAt);
  for (int k = 0; k < pictures; ++k) {
    Put32Le(b, k == 0 ? 0x20020002u : 0x00020002u);  // disparity pictures
    Put32Le(b, 0);                                   // size, patched
    Put32Le(b, 0);                                   // offset, patched
    Put16Le(b, 0);
    Put16Le(b, 0);
  }
  Put16Le(b, 1);
  PutEntry(b, 0xB101, 4, 1, 1);  // MPIndividualNum
  Put32Le(b, 0);
  return Segment(0xE2, b);
}

// APP2 MPF of a later picture: MP header and attribute IFD only.
inline Bytes MpfAttributeSegment(int number) {
  Bytes b;
  PutText(b, "MPF\0", 4);
  PutText(b, "II*\0", 4);
  Put32Le(b, 8);
  Put16Le(b, 2);
  PutEntry(b, 0xB000, 7, 4, 0x30303130);
  PutEntry(b, 0xB101, 4, 1, static_cast<uint32_t>(number));
  Put32Le(b, 0);
  return Segment(0xE2, b);
}

struct MpoOptions {
  bool makerNotes = true;     // FUJIFILM maker notes in every picture
  Parallax parallax;          // in the second picture's maker note
  bool exifBeforeMpf = true;  // APP1 then APP2 in every picture
};

// A camera-like multi-picture file: each picture gets an Exif APP1 (with a
// FUJIFILM maker note) and an MPF APP2; the first carries the MP index.
inline Bytes BuildMpo(const std::vector<Bytes>& jpegs,
                      const MpoOptions& options = {}) {
  int count = static_cast<int>(jpegs.size());
  std::vector<Bytes> pictures;
  size_t mpHeaderAt = 0;
  for (int k = 0; k < count; ++k) {
    Bytes exif;
    if (options.makerNotes) {
      Parallax none;
      exif = ExifSegment(FujiMakerNote(k == 1 ? options.parallax : none));
    }
    Bytes mpf = k == 0 ? MpfIndexSegment(count) : MpfAttributeSegment(k + 1);
    Bytes segments = options.exifBeforeMpf ? exif : mpf;
    const Bytes& next = options.exifBeforeMpf ? mpf : exif;
    segments.insert(segments.end(), next.begin(), next.end());
    if (k == 0) {
      mpHeaderAt =
          2 + kMpfHeaderInSegment + (options.exifBeforeMpf ? exif.size() : 0);
    }
    pictures.push_back(InsertAfterStart(jpegs[k], segments));
  }
  // Fill in the MP entries: sizes, and offsets from the MP header.
  size_t entriesAt = mpHeaderAt + 8 + 2 + 3 * 12 + 4;
  size_t offset = 0;
  for (int k = 0; k < count; ++k) {
    size_t entry = entriesAt + 16 * k;
    Patch32Le(pictures[0], entry + 4,
              static_cast<uint32_t>(pictures[k].size()));
    Patch32Le(pictures[0], entry + 8,
              k == 0 ? 0 : static_cast<uint32_t>(offset - mpHeaderAt));
    offset += pictures[k].size();
  }
  Bytes file;
  for (const Bytes& picture : pictures)
    file.insert(file.end(), picture.begin(), picture.end());
  return file;
}

}  // namespace synthetic

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

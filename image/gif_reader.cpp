// DecodeGif: the last image of a GIF file (at most the 100th) at its own
// size, 1, 4 or 8 bits deep, with the transparent colour shown white.
//
// The file is read in two steps.  The first walks the blocks, reading the
// comments and noting each image with the graphic control that applies to
// it; the second decodes images from the last one backwards until one gives
// a picture.  That is what decoding every image in turn and keeping the last
// picture would give, without decoding images nobody sees.
//
// Damaged data:
//  - an image whose data ends early, or meets a code that is not in the
//    table, keeps the pixels decoded before that point; the rest of it shows
//    colour index 0;
//  - an image that yields no pixel at all (bad first code, bad code size,
//    no data) or whose size is not allowed gives no picture, and the image
//    before it stands;
//  - the picture is made deeper than the screen's colour resolution says
//    when a local colour table or the pixels need more indices; an index
//    beyond the colour tables shows black.
#include "image/gif_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "image/comment.h"
#include "image/dib_layout.h"
#include "image/file_data.h"

namespace {

constexpr int kMaxImages = 100;
constexpr int kMaxCodes = 4096;

struct ColourTable {
  const uint8_t* rgb = nullptr;
  int entries = 0;
};

struct GifImage {
  int width = 0;
  int height = 0;
  bool interlaced = false;
  ColourTable local;
  bool transparent = false;
  int transparentIndex = 0;
  size_t dataStart = 0;  // the LZW minimum code size byte
};

struct GifFile {
  const uint8_t* data = nullptr;
  size_t size = 0;
  int screenDepth = 1;
  ColourTable global;
  std::vector<GifImage> images;
};

int DepthFor(int entries) {
  if (entries <= 2) return 1;
  if (entries <= 16) return 4;
  return 8;
}

// Offset just past the sub-blocks starting at `pos` (or the data end).
size_t SkipSubBlocks(const uint8_t* d, size_t size, size_t pos) {
  while (pos < size) {
    uint8_t n = d[pos];
    pos += 1 + static_cast<size_t>(n);
    if (n == 0) return pos;
  }
  return size;
}

// Reads the graphic control of the next image: transparency flag and index.
void ReadGraphicControl(const GifFile& f, size_t pos, GifImage& next) {
  const uint8_t* d = f.data;
  if (pos + 5 > f.size || d[pos] < 4) return;
  next.transparent = (d[pos + 1] & 1) != 0;
  next.transparentIndex = d[pos + 4];
}

// The first sub-block of a comment extension becomes the comment.
void ReadComment(const GifFile& f, size_t pos) {
  if (pos >= f.size) return;
  size_t length = std::min<size_t>(f.data[pos], f.size - pos - 1);
  SetCurrentComment(f.data + pos + 1, length);
}

// Reads an image descriptor at `pos` (after its 0x2C); false when the data
// ends before the image's data begins.
bool ReadImage(const GifFile& f, size_t& pos, GifImage& image) {
  const uint8_t* d = f.data;
  if (pos + 9 > f.size) return false;
  image.width = ReadLe16(d + pos + 4);
  image.height = ReadLe16(d + pos + 6);
  uint8_t packed = d[pos + 8];
  image.interlaced = (packed & 0x40) != 0;
  pos += 9;
  if (packed & 0x80) {
    int entries = 1 << ((packed & 7) + 1);
    if (pos + 3 * static_cast<size_t>(entries) > f.size) return false;
    image.local = {d + pos, entries};
    pos += 3 * static_cast<size_t>(entries);
  }
  if (pos >= f.size) return false;
  image.dataStart = pos;
  pos = SkipSubBlocks(d, f.size, pos + 1);
  return true;
}

// Walks the blocks after the screen descriptor and global colour table.
void WalkBlocks(GifFile& f, size_t pos) {
  const uint8_t* d = f.data;
  GifImage next;
  bool imagesDone = false;
  while (pos < f.size) {
    uint8_t kind = d[pos++];
    if (kind == 0x21) {
      if (pos >= f.size) break;
      uint8_t label = d[pos++];
      if (label == 0xF9) ReadGraphicControl(f, pos, next);
      if (label == 0xFE) {
        ReadComment(f, pos);
        if (imagesDone) break;  // the one comment read after the last image
      }
      pos = SkipSubBlocks(d, f.size, pos);
    } else if (kind == 0x2C && !imagesDone) {
      if (!ReadImage(f, pos, next)) break;
      f.images.push_back(next);
      // A graphic control applies to the one image that follows it.
      next = GifImage();
      imagesDone = f.images.size() == kMaxImages;
    } else {
      break;  // the trailer, or nothing we can read on from
    }
  }
}

// Reads LZW codes from the image's data sub-blocks, least significant bit
// first.
class CodeReader {
 public:
  CodeReader(const uint8_t* d, size_t size, size_t pos)
      : d_(d), size_(size), pos_(pos) {}

  bool Read(int width, int& code) {
    while (bitCount_ < width) {
      uint8_t byte;
      if (!NextByte(byte)) return false;
      bits_ |= static_cast<uint32_t>(byte) << bitCount_;
      bitCount_ += 8;
    }
    code = static_cast<int>(bits_ & ((1u << width) - 1));
    bits_ >>= width;
    bitCount_ -= width;
    return true;
  }

 private:
  bool NextByte(uint8_t& byte) {
    if (ended_) return false;
    if (left_ == 0) {
      if (pos_ >= size_ || d_[pos_] == 0) return ended_ = true, false;
      left_ = d_[pos_++];
    }
    if (pos_ >= size_) return ended_ = true, false;
    byte = d_[pos_++];
    --left_;
    return true;
  }

  const uint8_t* d_;
  size_t size_;
  size_t pos_;
  int left_ = 0;
  bool ended_ = false;
  uint32_t bits_ = 0;
  int bitCount_ = 0;
};

// GIF LZW: codes from (minimum code size + 1) up to 12 bits over a table of
// 4096 entries.  Writes the colour indices in decode order and returns how
// many were written.
class LzwDecoder {
 public:
  size_t Decode(const GifFile& f, size_t dataStart, uint8_t* out,
                size_t count) {
    // Code sizes up to 11 leave room in the 12-bit codes for a table.
    int minSize = f.data[dataStart];
    if (minSize < 1 || minSize > 11) return 0;
    int clear = 1 << minSize, end = clear + 1;
    for (int i = 0; i < std::min(clear, 256); ++i) {
      prefix_[i] = 0;
      first_[i] = suffix_[i] = static_cast<uint8_t>(i);
      length_[i] = 1;
    }
    CodeReader reader(f.data, f.size, dataStart + 1);
    int next = clear + 2, width = minSize + 1, prev = -1, code;
    size_t written = 0;
    while (written < count && reader.Read(width, code)) {
      if (code == clear) {
        next = clear + 2, width = minSize + 1, prev = -1;
        continue;
      }
      if (code == end) break;
      if (code < clear && code > 255) break;  // no colour table is that big
      if (prev < 0) {
        if (code > clear) break;  // nothing in the table yet
      } else if (code < next) {
        if (next < kMaxCodes) Add(next++, prev, first_[code]);
      } else if (code == next && next < kMaxCodes) {
        Add(next++, prev, first_[prev]);
      } else {
        break;  // not in the table
      }
      if (next == (1 << width) && width < 12) ++width;
      written += Emit(code, out + written, count - written);
      prev = code;
    }
    return written;
  }

 private:
  void Add(int code, int prefix, int suffix) {
    prefix_[code] = static_cast<uint16_t>(prefix);
    suffix_[code] = static_cast<uint8_t>(suffix);
    first_[code] = first_[prefix];
    length_[code] = static_cast<uint16_t>(length_[prefix] + 1);
  }

  // Writes the string of `code`, cut to `room` indices.
  size_t Emit(int code, uint8_t* out, size_t room) {
    size_t length = length_[code];
    for (size_t i = length; i-- > 0; code = prefix_[code])
      if (i < room) out[i] = suffix_[code];
    return std::min(length, room);
  }

  uint16_t prefix_[kMaxCodes];
  uint8_t suffix_[kMaxCodes];
  uint8_t first_[kMaxCodes];
  uint16_t length_[kMaxCodes];
};

// Image rows in the order the data holds them.
std::vector<int> RowOrder(int height, bool interlaced) {
  std::vector<int> order;
  order.reserve(height);
  if (!interlaced) {
    for (int r = 0; r < height; ++r) order.push_back(r);
    return order;
  }
  static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int r = kStart[pass]; r < height; r += kStep[pass]) order.push_back(r);
  return order;
}

void FillColourTable(const GifFile& f, const GifImage& image, Picture& p) {
  int capacity = 1 << PictureBits(p);
  uint8_t* table = p.get() + sizeof(BitmapInfoHeader);
  for (const ColourTable* t : {&f.global, &image.local}) {
    for (int i = 0; i < std::min(t->entries, capacity); ++i) {
      table[4 * i] = t->rgb[3 * i + 2];
      table[4 * i + 1] = t->rgb[3 * i + 1];
      table[4 * i + 2] = t->rgb[3 * i];
    }
  }
  if (image.transparent && image.transparentIndex < capacity)
    std::memset(table + 4 * image.transparentIndex, 255, 3);
}

void PackRows(const uint8_t* indices, size_t decoded, const GifImage& image,
              Picture& p) {
  int bits = PictureBits(p), w = image.width;
  std::vector<int> order = RowOrder(image.height, image.interlaced);
  for (int k = 0; k < image.height; ++k) {
    size_t rowStart = static_cast<size_t>(k) * w;
    if (rowStart >= decoded) break;
    int n = static_cast<int>(std::min<size_t>(w, decoded - rowStart));
    const uint8_t* src = indices + rowStart;
    uint8_t* dst = PictureRow(p.get(), image.height - 1 - order[k]);
    for (int x = 0; x < n; ++x) {
      if (bits == 8) dst[x] = src[x];
      else if (bits == 4) dst[x >> 1] |= src[x] << ((x & 1) ? 0 : 4);
      else dst[x >> 3] |= src[x] << (7 - (x & 7));
    }
  }
}

Picture DecodeImage(const GifFile& f, const GifImage& image) {
  if (!PictureSizeAllowed(image.width, image.height)) {
    NoteLoadFailure("GIF image size not allowed");
    return nullptr;
  }
  size_t count = static_cast<size_t>(image.width) * image.height;
  std::unique_ptr<uint8_t, decltype(&std::free)> indices(
      static_cast<uint8_t*>(std::calloc(count, 1)), &std::free);
  if (!indices) {
    NoteLoadFailure("out of memory");
    return nullptr;
  }
  auto lzw = std::make_unique<LzwDecoder>();
  size_t decoded = lzw->Decode(f, image.dataStart, indices.get(), count);
  if (decoded == 0) {
    NoteLoadFailure("GIF image data unreadable");
    return nullptr;
  }
  int used = *std::max_element(indices.get(), indices.get() + decoded) + 1;
  int depth = std::max({f.screenDepth, DepthFor(used),
                        DepthFor(image.local.entries)});
  Picture p = CreatePicture(image.width, image.height, depth);
  if (!p) return nullptr;
  FillColourTable(f, image, p);
  PackRows(indices.get(), decoded, image, p);
  return p;
}

}  // namespace

Picture DecodeGifData(const uint8_t* data, size_t size) {
  if (size < 13 || std::memcmp(data, "GIF8", 4) != 0) {
    NoteLoadFailure("not a GIF file");
    return nullptr;
  }
  GifFile f;
  f.data = data;
  f.size = size;
  uint8_t packed = data[10];
  int sizeBits = (packed & 7) + 1;
  f.screenDepth = DepthFor(1 << sizeBits);
  size_t pos = 13;
  if (packed & 0x80) {
    size_t bytes = 3 * (size_t{1} << sizeBits);
    if (pos + bytes > size) {
      NoteLoadFailure("GIF data ends in the colour table");
      return nullptr;
    }
    f.global = {data + pos, 1 << sizeBits};
    pos += bytes;
  }
  WalkBlocks(f, pos);
  if (f.images.empty()) {
    NoteLoadFailure("GIF has no image");
    return nullptr;
  }
  for (size_t i = f.images.size(); i-- > 0;)
    if (Picture p = DecodeImage(f, f.images[i])) return p;
  return nullptr;
}

Picture DecodeGif(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadFilePrefix(path, 6, bytes)) return nullptr;
  if (bytes.size() < 4 || std::memcmp(bytes.data(), "GIF8", 4) != 0) {
    NoteLoadFailure("not a GIF file");
    return nullptr;
  }
  if (!ReadWholeFile(path, bytes)) return nullptr;
  return DecodeGifData(bytes.data(), bytes.size());
}

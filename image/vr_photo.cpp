#include "image/vr_photo.h"

#include <algorithm>
#include <cstring>

#include "image/file_data.h"
#include "image/md5.h"

namespace {

constexpr std::string_view kMainXmp("http://ns.adobe.com/xap/1.0/\0", 29);
constexpr std::string_view kExtendedXmp(
    "http://ns.adobe.com/xmp/extension/\0", 35);
constexpr std::string_view kImageNamespace =
    "http://ns.google.com/photos/1.0/image/";
constexpr std::string_view kPanoramaNamespace =
    "http://ns.google.com/photos/1.0/panorama/";
constexpr std::string_view kNoteNamespace = "http://ns.adobe.com/xmp/note/";

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 |
         uint32_t{p[3]};
}

constexpr size_t kLongestPrefix = 64;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The prefix a packet binds to `uri` (xmlns:P="uri" or with single quotes).
std::optional<std::string_view> PrefixOf(std::string_view packet,
                                         std::string_view uri) {
  for (size_t at = packet.find(uri); at != std::string_view::npos;
       at = packet.find(uri, at + 1)) {
    if (at < 2 || (packet[at - 1] != '"' && packet[at - 1] != '\'') ||
        packet[at - 2] != '=')
      continue;
    // Prefixes are short: looking back a little keeps a packet full of
    // the namespace's name from costing a pass per mention.
    size_t from = at - 2 > kLongestPrefix + 6 ? at - 2 - kLongestPrefix - 6 : 0;
    size_t colon = packet.substr(from, at - 2 - from).rfind("xmlns:");
    if (colon == std::string_view::npos) continue;
    colon += from;
    size_t start = colon + 6;
    std::string_view prefix = packet.substr(start, at - 2 - start);
    if (!prefix.empty() && prefix.find_first_of(" \t\r\n<>\"'") ==
                               std::string_view::npos)
      return prefix;
  }
  return std::nullopt;
}

std::optional<PanoramaCrop> ReadPanorama(std::string_view packet) {
  auto number = [&](std::string_view name) -> std::optional<int> {
    auto text = XmpProperty(packet, kPanoramaNamespace, name);
    if (!text || text->empty() || text->size() > 9) return std::nullopt;
    int value = 0;
    for (char c : *text) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  auto projection = XmpProperty(packet, kPanoramaNamespace, "ProjectionType");
  if (!projection || *projection != "equirectangular") return std::nullopt;
  PanoramaCrop crop;
  auto fullWidth = number("FullPanoWidthPixels");
  auto fullHeight = number("FullPanoHeightPixels");
  auto width = number("CroppedAreaImageWidthPixels");
  auto height = number("CroppedAreaImageHeightPixels");
  if (!fullWidth || !fullHeight || !width || !height || *width < 1 ||
      *height < 1 || *width > *fullWidth || *height > *fullHeight)
    return std::nullopt;
  crop.fullWidth = *fullWidth;
  crop.fullHeight = *fullHeight;
  crop.width = *width;
  crop.height = *height;
  crop.left = number("CroppedAreaLeftPixels").value_or(0);
  crop.top = number("CroppedAreaTopPixels").value_or(0);
  if (crop.left >= crop.fullWidth || crop.top + crop.height > crop.fullHeight)
    return std::nullopt;
  return crop;
}

bool Fail(const std::string& why) {
  NoteLoadFailure(why);
  return false;
}

}  // namespace

bool ReadJpegXmp(const uint8_t* data, size_t size, JpegXmp& xmp) {
  xmp = JpegXmp{};
  if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) return false;
    uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;
    size_t length = size_t{data[at + 2]} << 8 | data[at + 3];
    if (length < 2 || length > size - at - 2) break;
    std::string_view payload(reinterpret_cast<const char*>(data + at + 4),
                             length - 2);
    if (marker == 0xE1 && StartsWith(payload, kMainXmp) && xmp.main.empty()) {
      xmp.main = payload.substr(kMainXmp.size());
    } else if (marker == 0xE1 && StartsWith(payload, kExtendedXmp) &&
               payload.size() >= kExtendedXmp.size() + 40) {
      const auto* p =
          reinterpret_cast<const uint8_t*>(payload.data()) + kExtendedXmp.size();
      XmpChunk chunk;
      chunk.guid.assign(reinterpret_cast<const char*>(p), 32);
      chunk.total = Be32(p + 32);
      chunk.offset = Be32(p + 36);
      chunk.bytes = payload.substr(kExtendedXmp.size() + 40);
      xmp.chunks.push_back(chunk);
    }
    at += 2 + length;
  }
  return true;
}

bool ReassembleExtendedXmp(const std::vector<XmpChunk>& chunks,
                           std::string_view guid, std::string& packet,
                           std::string& problem) {
  std::vector<const XmpChunk*> mine;
  for (const XmpChunk& chunk : chunks)
    if (chunk.guid.size() == guid.size() &&
        std::equal(guid.begin(), guid.end(), chunk.guid.begin(),
                   [](char a, char b) { return (a | 0x20) == (b | 0x20); }))
      mine.push_back(&chunk);
  if (mine.empty()) {
    problem = "the extended XMP the main packet names is not in the file";
    return false;
  }
  std::stable_sort(mine.begin(), mine.end(),
                   [](const XmpChunk* a, const XmpChunk* b) {
                     return a->offset < b->offset;
                   });
  uint32_t total = mine.front()->total;
  packet.clear();
  const XmpChunk* previous = nullptr;
  for (const XmpChunk* chunk : mine) {
    if (chunk->total != total) {
      problem = "extended XMP chunks disagree on the packet's length";
      return false;
    }
    if (previous && chunk->offset == previous->offset &&
        chunk->bytes == previous->bytes)
      continue;  // the same chunk written twice
    if (chunk->offset < packet.size()) {
      problem = "extended XMP chunks overlap";
      return false;
    }
    if (chunk->offset > packet.size()) {
      problem = "an extended XMP chunk is missing";
      return false;
    }
    if (chunk->bytes.size() > total - packet.size()) {
      problem = "an extended XMP chunk runs past the packet's length";
      return false;
    }
    packet.append(chunk->bytes);
    previous = chunk;
  }
  if (packet.size() != total) {
    problem = "the extended XMP ends early (a chunk is missing)";
    return false;
  }
  std::string digest = Md5Hex(reinterpret_cast<const uint8_t*>(packet.data()),
                              packet.size());
  if (!std::equal(digest.begin(), digest.end(), guid.begin(),
                  [](char a, char b) { return (a | 0x20) == (b | 0x20); })) {
    problem = "the extended XMP's MD5 is not its GUID (damaged)";
    return false;
  }
  return true;
}

bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(text.size() / 4 * 3);
  uint32_t bits = 0;
  int count = 0, padding = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+') value = 62;
    else if (c == '/') value = 63;
    else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    else if (c == '=') {
      ++padding;
      continue;
    } else {
      return false;
    }
    if (padding) return false;  // data after the padding
    bits = bits << 6 | uint32_t(value);
    if (++count == 4) {
      out.push_back(uint8_t(bits >> 16));
      out.push_back(uint8_t(bits >> 8));
      out.push_back(uint8_t(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || padding > 2) return false;
  if (count == 2) out.push_back(uint8_t(bits >> 4));
  if (count == 3) {
    out.push_back(uint8_t(bits >> 10));
    out.push_back(uint8_t(bits >> 2));
  }
  return true;
}

std::optional<std::string_view> XmpProperty(std::string_view packet,
                                            std::string_view uri,
                                            std::string_view name) {
  auto prefix = PrefixOf(packet, uri);
  if (!prefix) return std::nullopt;
  std::string qualified = std::string(*prefix) + ":" + std::string(name);
  // As an attribute: P:Name="value" (or with single quotes).
  for (size_t at = packet.find(qualified); at != std::string_view::npos;
       at = packet.find(qualified, at + 1)) {
    size_t after = at + qualified.size();
    if (at == 0 || after + 1 >= packet.size()) continue;
    char before = packet[at - 1];
    if (before == '<') {  // as an element: <P:Name>value</P:Name>
      if (packet[after] != '>') continue;
      size_t open = after;
      std::string closing = "</" + qualified + ">";
      size_t close = packet.find(closing, open + 1);
      if (close == std::string_view::npos) return std::nullopt;
      return packet.substr(open + 1, close - open - 1);
    }
    if (before != ' ' && before != '\t' && before != '\n' && before != '\r')
      continue;
    size_t eq = after;
    while (eq < packet.size() && packet[eq] == ' ') ++eq;
    if (eq + 1 >= packet.size() || packet[eq] != '=') continue;
    char quote = packet[eq + 1];
    if (quote != '"' && quote != '\'') continue;
    size_t end = packet.find(quote, eq + 2);
    if (end == std::string_view::npos) return std::nullopt;
    return packet.substr(eq + 2, end - eq - 2);
  }
  return std::nullopt;
}

bool LooksLikeVrPhoto(const uint8_t* data, size_t size) {
  JpegXmp xmp;
  if (!ReadJpegXmp(data, size, xmp)) return false;
  if (xmp.main.find(kImageNamespace) != std::string_view::npos) return true;
  for (const XmpChunk& chunk : xmp.chunks)
    if (chunk.bytes.find(kImageNamespace) != std::string_view::npos)
      return true;
  return false;
}

bool ReadVrPhoto(const uint8_t* data, size_t size, VrPhoto& photo) {
  photo = VrPhoto{};
  JpegXmp xmp;
  if (!ReadJpegXmp(data, size, xmp) || xmp.main.empty())
    return Fail("no XMP in the JPEG");
  photo.panorama = ReadPanorama(xmp.main);
  std::optional<std::string_view> encoded =
      XmpProperty(xmp.main, kImageNamespace, "Data");
  std::string extended;
  if (!encoded) {
    auto guid = XmpProperty(xmp.main, kNoteNamespace, "HasExtendedXMP");
    if (!guid) return Fail("VR photo: no GImage:Data and no extended XMP");
    std::string problem;
    if (!ReassembleExtendedXmp(xmp.chunks, *guid, extended, problem))
      return Fail("VR photo: " + problem);
    encoded = XmpProperty(extended, kImageNamespace, "Data");
    if (!encoded) return Fail("VR photo: the extended XMP has no GImage:Data");
    if (!photo.panorama) photo.panorama = ReadPanorama(extended);
  }
  auto mime = XmpProperty(xmp.main, kImageNamespace, "Mime");
  if (!mime && !extended.empty())
    mime = XmpProperty(extended, kImageNamespace, "Mime");
  if (mime && *mime != "image/jpeg")
    return Fail("VR photo: the right view is " + std::string(*mime) +
                ", not a JPEG");
  if (!DecodeBase64(*encoded, photo.rightJpeg))
    return Fail("VR photo: GImage:Data is not valid base64");
  if (photo.rightJpeg.size() < 3 || photo.rightJpeg[0] != 0xFF ||
      photo.rightJpeg[1] != 0xD8 || photo.rightJpeg[2] != 0xFF)
    return Fail("VR photo: the embedded right view is not a JPEG");
  return true;
}

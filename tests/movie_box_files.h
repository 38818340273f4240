// MP4 boxes for the movie tests: a short writer of the boxes GStreamer and
// FFmpeg 5.1 leave out (`sv3d`, the MV-HEVC eye boxes), whole box-only
// files around a video sample entry, and the surgery that puts boxes into
// the sample entry of a movie FFmpeg made.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "tests/box_writer.h"

namespace movie_box_files {

using Bytes = std::vector<uint8_t>;

using box_writer::GetBe32;
using box_writer::PutBe32;
using box_writer::SetBe32;

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Box(const char* type, const Bytes& body) {
  return box_writer::MakeBox(type, body);
}
inline Bytes FullBox(const char* type, std::initializer_list<uint32_t> fields) {
  Bytes body(4, 0);
  for (uint32_t f : fields) PutBe32(body, f);
  return Box(type, body);
}
inline Bytes ByteFullBox(const char* type, uint8_t value) {
  return Box(type, Bytes{0, 0, 0, 0, value});
}

inline Bytes St3d(uint8_t mode) { return ByteFullBox("st3d", mode); }
// Yaw, pitch, roll 0; crop fractions top, bottom, left, right (0.32).
inline Bytes Sv3dEqui(uint32_t top, uint32_t bottom, uint32_t left, uint32_t right) {
  Bytes svhd = Box("svhd", Bytes{0, 0, 0, 0, 'x', 0});
  Bytes proj = Box("proj", Join({FullBox("prhd", {0, 0, 0}),
                                 FullBox("equi", {top, bottom, left, right})}));
  return Box("sv3d", Join({svhd, proj}));
}
inline Bytes Vexu(uint8_t striBits, uint8_t hero, uint32_t baselineUm, int32_t dadj) {
  Bytes eyes = Box("eyes", Join({ByteFullBox("stri", striBits), ByteFullBox("hero", hero)}));
  Bytes cams = Box("cams", FullBox("blin", {baselineUm}));
  Bytes cmfy = Box("cmfy", FullBox("dadj", {uint32_t(dadj)}));
  return Box("vexu", Join({eyes, cams, cmfy}));
}
inline Bytes Hfov(uint32_t milli) {
  Bytes body;
  PutBe32(body, milli);
  return Box("hfov", body);
}
// An `lhvC` with no parameter sets: its presence is what says "two layers".
inline Bytes Lhvc() { return Box("lhvC", Bytes(16, 0)); }

// A visual sample entry: its 78 bytes of fields, then `children`.
inline Bytes Entry(const char* type, const Bytes& children) {
  return Box(type, Join({Bytes(78, 0), children}));
}
inline Bytes Track(const char* handler, const Bytes& entry) {
  Bytes hdlr = FullBox("hdlr", {0, 0, 0, 0, 0});
  hdlr[16] = uint8_t(handler[0]);
  hdlr[17] = uint8_t(handler[1]);
  hdlr[18] = uint8_t(handler[2]);
  hdlr[19] = uint8_t(handler[3]);
  Bytes stsd = Box("stsd", Join({Bytes{0, 0, 0, 0, 0, 0, 0, 1}, entry}));
  Bytes stbl = Box("stbl", stsd);
  return Box("trak", Box("mdia", Join({hdlr, Box("minf", stbl)})));
}
inline Bytes Ftyp() { return Box("ftyp", Bytes{'i', 's', 'o', 'm', 0, 0, 2, 0}); }
inline Bytes MovieFile(std::initializer_list<Bytes> tracks) {
  Bytes moov;
  for (const Bytes& t : tracks) moov.insert(moov.end(), t.begin(), t.end());
  return Join({Ftyp(), Box("moov", moov)});
}

inline Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline bool WriteAll(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  return static_cast<bool>(out);
}

// Appends `children` to the first video sample entry of an MP4 whose
// `moov` follows its `mdat` (FFmpeg's layout without faststart, so no
// chunk offset moves) and grows every box around it.  False when the
// layout is not that one.
inline bool AddToVideoEntry(Bytes& file, const Bytes& children) {
  auto typeAt = [&](size_t at) {
    return std::string(file.begin() + long(at) + 4, file.begin() + long(at) + 8);
  };
  std::vector<size_t> open;  // starts of the boxes holding the entry
  size_t at = 0, end = file.size();
  bool mdatSeen = false;
  for (const char* want : {"moov", "trak", "mdia", "minf", "stbl", "stsd"}) {
    bool found = false;
    for (; at + 8 <= end; at += GetBe32(file, at)) {
      uint32_t size = GetBe32(file, at);
      if (size < 8 || at + size > end) return false;
      mdatSeen = mdatSeen || typeAt(at) == "mdat";
      if (typeAt(at) == want) {
        found = true;
        break;
      }
    }
    if (!found || !mdatSeen) return false;
    open.push_back(at);
    end = at + GetBe32(file, at);
    at += std::string(want) == "stsd" ? 16 : 8;
  }
  std::string entry = typeAt(at);
  if (entry != "avc1" && entry != "hvc1" && entry != "hev1") return false;
  open.push_back(at);
  size_t insertAt = at + GetBe32(file, at);
  file.insert(file.begin() + long(insertAt), children.begin(), children.end());
  for (size_t start : open)
    SetBe32(file, start, GetBe32(file, start) + uint32_t(children.size()));
  return true;
}

}  // namespace movie_box_files

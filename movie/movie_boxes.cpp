#include "movie/movie_boxes.h"

#include <cstring>
#include <fstream>
#include <vector>

#include "core/iso_boxes.h"

namespace {

// Our path goes no deeper than stsd/entry/vexu/eyes/stri below moov's
// five levels; anything deeper is not a box we read.
constexpr int kMaxDepth = 12;
// Every box costs at least one header read; a file of tiny boxes ends the
// walk here instead of after millions of reads.
constexpr int kMaxBoxes = 1 << 16;
// A visual sample entry's fields before its child boxes.
constexpr size_t kVisualEntryFields = 78;

struct Header {
  uint32_t type = 0;
  uint64_t body = 0;  // where the body starts
  uint64_t end = 0;   // one past the box
  uint64_t BodySize() const { return end - body; }
};

class SpanSource : public BoxSource {
 public:
  explicit SpanSource(std::span<const uint8_t> data) : data_(data) {}
  uint64_t Size() const override { return data_.size(); }
  bool Read(uint64_t offset, size_t size, uint8_t* out) override {
    if (offset > data_.size() || size > data_.size() - offset) return false;
    if (size) std::memcpy(out, data_.data() + offset, size);
    return true;
  }

 private:
  std::span<const uint8_t> data_;
};

class FileSource : public BoxSource {
 public:
  explicit FileSource(const std::string& path)
      : file_(path, std::ios::binary) {
    if (!file_) return;
    file_.seekg(0, std::ios::end);
    std::streamoff end = file_.tellg();
    size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
  }
  bool IsOpen() const { return static_cast<bool>(file_.is_open()); }
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, size_t size, uint8_t* out) override {
    if (offset > size_ || size > size_ - offset) return false;
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
    return file_.gcount() == static_cast<std::streamsize>(size);
  }

 private:
  std::ifstream file_;
  uint64_t size_ = 0;
};

class Walker {
 public:
  Walker(BoxSource& source, MovieBoxes& out) : source_(source), out_(out) {}

  // Calls `visit(header, depth + 1)` for each box in [begin, end) until it
  // returns false.  False when a header was damaged (`problem` set).
  template <typename Visit>
  bool Children(uint64_t begin, uint64_t end, int depth, Visit visit) {
    if (depth >= kMaxDepth) return Damage("boxes nest too deep");
    for (uint64_t at = begin; at < end;) {
      Header h;
      if (!ReadHeader(at, end, h)) return false;
      if (!visit(h, depth + 1)) return true;
      at = h.end;
    }
    return true;
  }

  // The fields at the start of a box's body; false when it is shorter.
  bool Body(const Header& h, size_t size, uint8_t* out) {
    if (h.BodySize() < size || !source_.Read(h.body, size, out))
      return Damage("a box is shorter than its fields");
    return true;
  }

  bool Damage(const char* why) {
    if (out_.problem.empty()) out_.problem = why;
    return false;
  }

  BoxSource& source_;
  MovieBoxes& out_;

 private:
  bool ReadHeader(uint64_t at, uint64_t end, Header& h) {
    if (++boxes_ > kMaxBoxes) return Damage("too many boxes");
    uint8_t p[kLargeBoxHeader];
    if (end - at < kBoxHeader || !source_.Read(at, kBoxHeader, p))
      return Damage("a box header is cut short");
    if (HasLargeLength(p) &&
        (end - at < kLargeBoxHeader ||
         !source_.Read(at + kBoxHeader, kLargeBoxHeader - kBoxHeader,
                       p + kBoxHeader)))
      return Damage("a box header is cut short");
    uint64_t size = 0;
    size_t header = 0;
    if (!BoxLength(p, end - at, size, header))
      return Damage("a box runs past the box or file that holds it");
    h.type = Be32(p + 4);
    h.body = at + header;
    h.end = at + size;
    return true;
  }

  int boxes_ = 0;
};

bool IsHevcEntry(uint32_t type) { return type == BoxTag("hvc1") || type == BoxTag("hev1"); }

void ReadProjection(Walker& w, const Header& proj, int depth) {
  MovieBoxes& out = w.out_;
  w.Children(proj.body, proj.end, depth, [&](const Header& h, int) {
    uint8_t f[20];
    if (h.type == BoxTag("prhd") && w.Body(h, 16, f)) {
      out.yawDeg = static_cast<int32_t>(Be32(f + 4)) / 65536.0;
      out.pitchDeg = static_cast<int32_t>(Be32(f + 8)) / 65536.0;
      out.rollDeg = static_cast<int32_t>(Be32(f + 12)) / 65536.0;
    } else if (h.type == BoxTag("equi") && w.Body(h, 20, f)) {
      uint64_t top = Be32(f + 4), bottom = Be32(f + 8);
      uint64_t left = Be32(f + 12), right = Be32(f + 16);
      // Crop fractions from opposite edges that meet or cross leave no
      // sphere to show.
      if (top + bottom >= (uint64_t{1} << 32) || left + right >= (uint64_t{1} << 32)) {
        w.Damage("the equirectangular bounds cross");
        return true;
      }
      out.projection = MovieProjection::Equirectangular;
      out.boundTop = uint32_t(top);
      out.boundBottom = uint32_t(bottom);
      out.boundLeft = uint32_t(left);
      out.boundRight = uint32_t(right);
    } else if (h.type == BoxTag("cbmp")) {
      out.projection = MovieProjection::Cubemap;
    } else if (h.type == BoxTag("mshp")) {
      out.projection = MovieProjection::Mesh;
    }
    return true;
  });
}

// One FullBox field below a container: `eyes/stri`, `cams/blin`, ...
void ReadVexu(Walker& w, const Header& vexu, int depth) {
  SpatialVideoBoxes& s = w.out_.spatial;
  w.Children(vexu.body, vexu.end, depth, [&](const Header& group, int inner) {
    if (group.type != BoxTag("eyes") && group.type != BoxTag("cams") &&
        group.type != BoxTag("cmfy"))
      return true;
    w.Children(group.body, group.end, inner, [&](const Header& h, int) {
      uint8_t f[8];
      if (h.type == BoxTag("stri") && w.Body(h, 5, f)) {
        s.hasLeft = (f[4] & 1) != 0;
        s.hasRight = (f[4] & 2) != 0;
        s.viewsReversed = (f[4] & 8) != 0;
      } else if (h.type == BoxTag("hero") && w.Body(h, 5, f)) {
        s.heroEye = f[4];
      } else if (h.type == BoxTag("blin") && w.Body(h, 8, f)) {
        s.baselineUm = Be32(f + 4);
      } else if (h.type == BoxTag("dadj") && w.Body(h, 8, f)) {
        s.disparity = static_cast<int32_t>(Be32(f + 4));
      }
      return true;
    });
    return true;
  });
}

void ReadSampleEntry(Walker& w, const Header& entry, int depth) {
  MovieBoxes& out = w.out_;
  char name[5] = {char(entry.type >> 24), char(entry.type >> 16),
                  char(entry.type >> 8), char(entry.type), 0};
  out.sampleEntry = name;
  if (entry.BodySize() < kVisualEntryFields) {
    w.Damage("the video sample entry is cut short");
    return;
  }
  w.Children(entry.body + kVisualEntryFields, entry.end, depth,
             [&](const Header& h, int inner) {
    uint8_t f[8];
    if (h.type == BoxTag("st3d") && w.Body(h, 5, f)) {
      if (f[4] <= 4) out.stereoMode = static_cast<BoxStereoMode>(f[4]);
      else w.Damage("an unknown st3d stereo mode");
    } else if (h.type == BoxTag("sv3d")) {
      w.Children(h.body, h.end, inner, [&](const Header& p, int d) {
        if (p.type == BoxTag("proj")) ReadProjection(w, p, d);
        return true;
      });
    } else if (h.type == BoxTag("lhvC") && IsHevcEntry(entry.type)) {
      out.secondLayer = true;
    } else if (h.type == BoxTag("vexu")) {
      out.hasVexu = true;
      ReadVexu(w, h, inner);
    } else if (h.type == BoxTag("hfov") && w.Body(h, 4, f)) {
      out.spatial.hfovMilli = Be32(f);
    }
    return true;
  });
  if (out.secondLayer && !out.hasVexu)
    w.Damage("a second HEVC layer without its eye boxes (vexu)");
}

// Reads `hdlr` and finds `minf/stbl/stsd`; the sample entry is read only
// for a video track.  True when the video track was found.
bool ReadMedia(Walker& w, const Header& mdia, int depth) {
  uint32_t handler = 0;
  Header stsd;
  bool haveStsd = false;
  w.Children(mdia.body, mdia.end, depth, [&](const Header& h, int d1) {
    uint8_t f[12];
    if (h.type == BoxTag("hdlr") && w.Body(h, 12, f)) handler = Be32(f + 8);
    if (h.type != BoxTag("minf")) return true;
    w.Children(h.body, h.end, d1, [&](const Header& stbl, int d2) {
      if (stbl.type != BoxTag("stbl")) return true;
      w.Children(stbl.body, stbl.end, d2, [&](const Header& s, int) {
        if (s.type != BoxTag("stsd")) return true;
        stsd = s;
        haveStsd = true;
        return false;
      });
      return false;
    });
    return true;
  });
  if (handler != BoxTag("vide") || !haveStsd) return false;
  if (stsd.BodySize() > kMaxBoxBodyRead) {
    w.Damage("the sample description is too large");
    return true;
  }
  // The sample description is read whole and walked in memory: its boxes
  // are small and read field by field.
  std::vector<uint8_t> body(static_cast<size_t>(stsd.BodySize()));
  if (!w.source_.Read(stsd.body, body.size(), body.data())) return true;
  if (body.size() < 8 || Be32(body.data() + 4) == 0) {
    w.Damage("the video track has no sample entry");
    return true;
  }
  SpanSource inMemory(body);
  Walker entries(inMemory, w.out_);
  entries.Children(8, body.size(), depth + 4, [&](const Header& entry, int d) {
    ReadSampleEntry(entries, entry, d);
    return false;  // the first entry describes the stream GStreamer plays
  });
  return true;
}

bool IsTopLevelType(uint32_t type) {
  for (uint32_t t : {BoxTag("ftyp"), BoxTag("moov"), BoxTag("mdat"), BoxTag("free"),
                     BoxTag("skip"), BoxTag("wide"), BoxTag("pnot"), BoxTag("styp")})
    if (type == t) return true;
  return false;
}

}  // namespace

const char* MovieProjectionName(MovieProjection projection) {
  switch (projection) {
    case MovieProjection::Rectilinear: return "rectilinear";
    case MovieProjection::Equirectangular: return "equirectangular";
    case MovieProjection::Cubemap: return "cubemap";
    case MovieProjection::Mesh: return "mesh";
  }
  return "";
}

double MovieBoxes::HorizontalFovDeg() const {
  if (projection != MovieProjection::Equirectangular) return 0;
  return 360.0 * (1.0 - (double(boundLeft) + double(boundRight)) / 4294967296.0);
}
double MovieBoxes::VerticalFovDeg() const {
  if (projection != MovieProjection::Equirectangular) return 0;
  return 180.0 * (1.0 - (double(boundTop) + double(boundBottom)) / 4294967296.0);
}

bool ReadMovieBoxes(BoxSource& source, MovieBoxes& out) {
  out = {};
  uint8_t first[8];
  if (!source.Read(0, 8, first) || !IsTopLevelType(Be32(first + 4))) {
    out.problem = "not an MP4 or QuickTime file";
    return false;
  }
  out.isoFile = true;
  Walker w(source, out);
  bool found = false;
  w.Children(0, source.Size(), 0, [&](const Header& moov, int d0) {
    if (moov.type != BoxTag("moov")) return true;
    w.Children(moov.body, moov.end, d0, [&](const Header& trak, int d1) {
      if (trak.type != BoxTag("trak")) return true;
      w.Children(trak.body, trak.end, d1, [&](const Header& mdia, int d2) {
        if (mdia.type == BoxTag("mdia")) found = ReadMedia(w, mdia, d2);
        return !found;
      });
      return !found;
    });
    return false;  // one movie box
  });
  return true;
}

bool ReadMovieBoxes(std::span<const uint8_t> data, MovieBoxes& out) {
  SpanSource source(data);
  return ReadMovieBoxes(source, out);
}

bool ReadMovieBoxes(const std::string& path, MovieBoxes& out) {
  FileSource source(path);
  if (!source.IsOpen()) {
    out = {};
    out.problem = "cannot be opened";
    return false;
  }
  return ReadMovieBoxes(source, out);
}

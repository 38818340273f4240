// What an MP4 or MOV file says about its video beyond what GStreamer 1.22
// reads: the stereo layout and projection of spherical video (`st3d`,
// `sv3d`) and a second HEVC layer with its eye and camera boxes (MV-HEVC
// spatial video).  All of it sits in the video track's sample entry, so
// the walk goes `moov/trak/mdia/minf/stbl/stsd` and reads only the
// headers of the boxes on that path and the bodies of `hdlr` and `stsd`:
// a `moov` after gigabytes of `mdat` costs one seek, not a read.  Every
// length is checked against the box or file that holds it; a damaged box
// leaves out what it would have given and says why in `problem`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The `st3d` stereo mode byte.
enum class BoxStereoMode { Mono = 0, TopBottom = 1, LeftRight = 2, Custom = 3,
                           RightLeft = 4 };

enum class MovieProjection { Rectilinear, Equirectangular, Cubemap, Mesh };
const char* MovieProjectionName(MovieProjection projection);

// The eye and camera boxes (`vexu`, `hfov`) of a spatial video.
struct SpatialVideoBoxes {
  std::optional<bool> hasLeft, hasRight;  // `eyes/stri`
  bool viewsReversed = false;             // `stri` bit 3
  std::optional<int> heroEye;             // `eyes/hero`: 0 none, 1 left, 2 right
  std::optional<uint32_t> baselineUm;     // `cams/blin`, micrometres
  std::optional<int32_t> disparity;       // `cmfy/dadj`, 1/10,000 of the width
  std::optional<uint32_t> hfovMilli;      // `hfov`, thousandths of a degree
};

struct MovieBoxes {
  bool isoFile = false;          // the file starts with ISO boxes (`ftyp`, ...)
  std::string sampleEntry;       // the video track's codec box ("avc1"), if found
  std::optional<BoxStereoMode> stereoMode;  // `st3d`
  MovieProjection projection = MovieProjection::Rectilinear;  // `sv3d/proj`
  double yawDeg = 0, pitchDeg = 0, rollDeg = 0;               // `prhd`
  // `equi` crop fractions (0.32 fixed point) from each edge of the sphere.
  uint32_t boundTop = 0, boundBottom = 0, boundLeft = 0, boundRight = 0;
  bool secondLayer = false;      // `lhvC` in an `hvc1`/`hev1` entry
  bool hasVexu = false;
  SpatialVideoBoxes spatial;
  std::string problem;           // the first damage met, empty when none

  // An `lhvC` with its `vexu`: the frames are the base layer, one eye.
  bool IsMvHevc() const { return secondLayer && hasVexu; }
  // The sphere the frame covers, from the `equi` bounds (360 x 180 with
  // none); 0 when the projection is not equirectangular.
  double HorizontalFovDeg() const;
  double VerticalFovDeg() const;
};

// Reads `size` bytes at `offset` into `out`; false when the source has
// fewer.
class BoxSource {
 public:
  virtual ~BoxSource() = default;
  virtual uint64_t Size() const = 0;
  virtual bool Read(uint64_t offset, size_t size, uint8_t* out) = 0;
};

// Walks the file's top-level boxes; false when it holds no ISO boxes or
// cannot be opened (`problem` says which).  A damaged video track gives
// true with what could be read and `problem` set.
bool ReadMovieBoxes(BoxSource& source, MovieBoxes& out);
bool ReadMovieBoxes(std::span<const uint8_t> data, MovieBoxes& out);
bool ReadMovieBoxes(const std::string& path, MovieBoxes& out);

// Largest `hdlr` or `stsd` body read into memory; larger ones are damage.
inline constexpr size_t kMaxBoxBodyRead = 1 << 20;

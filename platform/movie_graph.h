// The movie pipeline as the player and the command-line tool see it: one
// GStreamer pipeline per movie in one of its shapes (a side-by-side or
// over/under file, a two-stream AVI, a left/right file pair, or an MV-HEVC
// spatial video whose frames are one eye), delivering every frame to show
// to a callback.  No GStreamer type leaks out of here, so the player can be
// driven by a fake graph in tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stereo/movie_frame.h"

enum class MovieShape { SideBySide, TwoStreams, TwoFiles, OverUnder, MvHevc };
const char* MovieShapeName(MovieShape shape);
// One file whose every decoded frame is shown as it comes (no merge).
inline bool IsOneFrameShape(MovieShape shape) {
  return shape == MovieShape::SideBySide || shape == MovieShape::OverUnder ||
         shape == MovieShape::MvHevc;
}

struct MovieGraphOptions {
  bool forceRgb = false;  // only RGB24 frames (nRGB)
  bool paced = true;      // false: as fast as decoding allows, no audio
  // Over/under, right-first and one-eye frames come rearranged side by
  // side (left view first), as every presentation reads them; false hands
  // on each frame as decoded.
  bool sideBySideViews = true;
  // Read by the merge of the two-input shapes for every frame.
  std::function<int()> intervalMs = [] { return 30; };
  std::function<int()> parallaxX = [] { return 0; };
  std::function<int()> parallaxY = [] { return 0; };
};

// One frame to show, on a streaming thread; `frame` is valid only during
// the call.  `positionNs` is the frame's place in the movie.
using MovieFrameSink =
    std::function<void(const GrabbedFrame& frame, int64_t positionNs)>;

enum class GraphFailure {
  None,
  Step,              // a build step failed: `text` is its title text
  MissingDecoder,    // nothing could decode the file (or its second stream)
  MismatchedInputs,  // the two views do not share one frame type and size
};

struct GraphBuildResult {
  GraphFailure failure = GraphFailure::None;
  std::string text;
  int code = 0;  // the GStreamer/GLib error code behind the failure
  // MissingDecoder: what GStreamer says is missing ("H.265 (Main Profile)
  // decoder"), when it said so.
  std::string missing = {};
};

// Graph event codes, as the player's event handler sees them.
constexpr int kGraphEndOfStream = 1;
constexpr int kGraphErrorAbort = 3;

class MovieGraph {
 public:
  virtual ~MovieGraph() = default;
  virtual MovieShape Shape() const = 0;
  // The right view is the frame's left (or upper) half, as the file says.
  virtual bool RightFirst() const { return false; }
  // Each returns false when the pipeline refused; nothing changed then.
  virtual bool Run() = 0;
  virtual bool Pause() = 0;
  // A flushing, frame-accurate seek at the current rate.
  virtual bool Seek(int64_t positionNs) = 0;
  // Exactly one new frame while paused.
  virtual bool StepFrame() = 0;
  virtual bool SetRate(double rate) = 0;
  // Audio volume: false when there is no audio to mute.
  virtual bool HasVolume() const = 0;
  virtual bool SetMuted(bool muted) = 0;
  // -1 when the pipeline cannot tell.
  virtual int64_t PositionNs() const = 0;
  // Where the newest frame handed on starts (of the left view, for the two
  // view shapes); -1 before the first.  Paused, this is the frame on
  // screen: the sink prerolls the frame after the clock's position.
  virtual int64_t ShownPositionNs() const { return -1; }
  virtual int64_t DurationNs() const = 0;
  // 0 when the frame rate is unknown.
  virtual int64_t FrameDurationNs() const = 0;
  // Events that arrived since the last call (kGraphEndOfStream, ...); the
  // `notify` callback given at build time said that some are waiting.
  virtual std::vector<int> TakeEvents() = 0;
  // What the first error that stopped the pipeline said (after a
  // kGraphErrorAbort event); empty when it said nothing.
  virtual std::string ErrorText() const { return {}; }
};

// Where a seek must go to show a movie's last frame: 1 ms into the frame
// that starts one frame before the end.  An exact seek past the last
// frame's start finds no frame and ends the movie, and a container's
// duration often runs past the last video frame (a longer sound track, or
// rounding), so the end itself is no target.  0 when the frame rate is
// unknown.
inline int64_t LastFrameSeekNs(int64_t durationNs, int64_t frameNs) {
  if (durationNs <= 0 || frameNs <= 0) return 0;
  int64_t target = durationNs - frameNs + std::min<int64_t>(1'000'000,
                                                            frameNs / 2);
  return target > 0 ? target : 0;
}

// Builds the pipeline for `left` (and `right`, empty for one file), prerolls
// it (the first frame reaches `sink`) and leaves it paused.  On failure
// returns null and says why in `result`.  `notify` may be called on any
// thread when events wait.
std::unique_ptr<MovieGraph> BuildMovieGraph(const std::string& left,
                                            const std::string& right,
                                            const MovieGraphOptions& options,
                                            MovieFrameSink sink,
                                            std::function<void()> notify,
                                            GraphBuildResult& result);

// Joins two decoded video streams (left and right view) into side-by-side
// frames of twice the width, shifted by the source's recorded parallax and
// paced by an output clock of its own.  Plain C++: the movie pipeline feeds
// it decoded samples and takes the assembled frames through a callback.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct MergeVideoType {
  bool video = true;        // major type video
  int frameFormat = 1;      // 1 RGB24 (FrameFormat 1), 2 YUY2 (FrameFormat 2), other: refused
  int bitsPerPixel = 24;    // 24 for RGB24, 16 for YUY2
  int width = 0, height = 0;
  bool operator==(const MergeVideoType&) const = default;
};

struct MergeSample {
  int64_t start = 0;                 // 100-ns units, stream time
  const uint8_t* rows = nullptr;     // row 0 as the frame format numbers rows (RGB24: the bottom row)
  ptrdiff_t stride = 0;              // bytes from row i to row i+1; may be negative (a top-down buffer read bottom-up)
  std::shared_ptr<const void> owner; // keeps `rows` alive while the sample is queued
};

struct MergeFrame {                  // valid during the Deliver call only
  int64_t start = 0, stop = 0;       // 100-ns units
  int frameFormat = 1, width = 0, height = 0;  // width = twice the inputs'
  const uint8_t* rows = nullptr; ptrdiff_t stride = 0;  // stride = output row bytes
};

struct MergeSettings {               // read for every frame, as the settings may change
  std::function<int()> intervalMs;   // nInterval
  std::function<bool()> forceRgb;    // nRGB
  std::function<int()> parallaxX, parallaxY;  // ParallaxShiftX, ParallaxShiftY
};

// Threads: no thread of its own.  Each input's streaming thread calls
// Receive; the frames are assembled and delivered on whichever thread gets
// there, one delivery at a time, under a streaming mutex released around each
// delivery.  Receive blocks while its input already holds `maxQueued`
// samples, until the other input catches up (so give each input its own
// streaming thread, as a queue after a demuxer does); flushing and
// deactivation release it.  The settings are read with the mutex held, so
// they must not wait for a delivery; Deliver runs without it, never twice
// at once.  Set the types and onEndOfStream before samples flow.
class StereoMerge {
 public:
  using Deliver = std::function<bool(const MergeFrame&)>;  // false: downstream refused
  static constexpr int kInputs = 2;   // input 0 = left view, 1 = right view
  static constexpr uint32_t kTypeNotAccepted = 0x80040200, kWrongState = 0x80040227,
                            kFail = 0x80004005;
  // Not an error, but the sample was not taken: flushing, input ended,
  // or an input without a media type.
  static constexpr uint32_t kRefused = 1;
  // A start time for the output clock: the start of the first sample received.
  static constexpr int64_t kFirstSample = INT64_MIN;
  // An input whose samples start beyond this has ended (100000 s).
  static constexpr int64_t kStopTime = int64_t{100000} * 10000000;

  StereoMerge(MergeSettings settings, Deliver deliver);
  uint32_t SetInputType(int input, const MergeVideoType& type);  // 0 or the refusal code
  const MergeVideoType& OutputType() const;
  void Activate(int64_t startTime);  // paused or running: the output clock starts here
  void Deactivate();
  uint32_t Receive(int input, MergeSample sample);   // 0 when queued (assembly runs on this thread)
  void EndOfStream(int input);       // may pass end of stream downstream
  // Flushing empties the queues and clears the inputs' ends; after a flush
  // (a seek) the output clock starts again at `restartTime`.
  void BeginFlush();
  void EndFlush(int64_t restartTime = kFirstSample);
  bool Ended() const;                // every input has ended (end of stream went downstream)
  std::function<void()> onEndOfStream; // called once when every input has ended

  size_t maxQueued = 8;              // per input; 0: unbounded

 private:
  struct Input {
    std::deque<MergeSample> queue;
    MergeVideoType type;
    bool typed = false, flushing = false, ended = false;
  };
  void Assemble(std::unique_lock<std::mutex>& lock);
  bool AssembleOne(std::unique_lock<std::mutex>& lock);
  void CopyViews(const MergeSample& left, const MergeSample& right);
  void StartClock(int64_t startTime);
  bool AllTyped() const { return inputs_[0].typed && inputs_[1].typed; }
  bool CanTake(int input) const;

  MergeSettings settings_;
  Deliver deliver_;
  mutable std::mutex stream_;
  std::condition_variable space_;
  Input inputs_[kInputs];
  MergeVideoType output_{true, 1, 24, 0, 0};
  bool active_ = false, assembling_ = false, endSent_ = false;
  bool clockSet_ = false, outOfStep_ = false;
  int64_t outputTime_ = 0, previousTime_ = 0;
  std::vector<uint8_t> frame_;       // written only by the assembling thread
  int frameWidth_ = 0, frameHeight_ = 0, frameFormat_ = 0;
};

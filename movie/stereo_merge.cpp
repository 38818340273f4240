#include "movie/stereo_merge.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int64_t kUnitsPerMs = 10000;  // 100-ns units
// The streams may run ahead of the output clock by this many intervals,
// and by this much time, before the clock jumps to them.  Slow movies (a
// picture a second) keep their frame repeated at every interval.
constexpr int64_t kResyncIntervals = 8;
constexpr int64_t kResyncUnits = 1000 * kUnitsPerMs;
// A frame larger than this per view is refused rather than allocated.
constexpr int kMaxSide = 16384;

int BytesPerPixel(int frameFormat) { return frameFormat == 2 ? 2 : 3; }

// Row bytes of a frame of `width` pixels: RGB24 rows are padded to 4 bytes.
int64_t RowBytes(int frameFormat, int64_t width) {
  return frameFormat == 2 ? 2 * width : (3 * width + 3) / 4 * 4;
}

// Black: zero for RGB; luma 16 at even and chroma 128 at odd bytes for YUY2.
void FillBlack(uint8_t* row, int64_t from, int64_t to, int frameFormat) {
  if (from >= to) return;
  if (frameFormat != 2) {
    std::memset(row + from, 0, static_cast<size_t>(to - from));
    return;
  }
  for (int64_t k = from; k < to; ++k) row[k] = (k & 1) ? 128 : 16;
}

}  // namespace

StereoMerge::StereoMerge(MergeSettings settings, Deliver deliver)
    : settings_(std::move(settings)), deliver_(std::move(deliver)) {}

uint32_t StereoMerge::SetInputType(int input, const MergeVideoType& type) {
  if (input < 0 || input >= kInputs) return kFail;
  if (!type.video) return kTypeNotAccepted;
  bool rgb = type.frameFormat == 1 && type.bitsPerPixel == 24;
  bool yuy2 = type.frameFormat == 2 && type.bitsPerPixel == 16;
  if (!rgb && !(yuy2 && !(settings_.forceRgb && settings_.forceRgb())))
    return kFail;
  if (type.width <= 0 || type.height <= 0 || type.width > kMaxSide ||
      type.height > kMaxSide)
    return kFail;
  // An odd YUY2 width would split a two-pixel group at the seam.
  if (yuy2 && (type.width & 1)) return kFail;

  std::lock_guard lock(stream_);
  Input& self = inputs_[input];
  Input& other = inputs_[1 - input];
  if (other.typed && !(other.type == type)) {
    // Both views must match: a first connection that differs is refused;
    // a changed type on a connected input makes the other connect again.
    if (!self.typed) return kFail;
    other.typed = false;
    other.queue.clear();
  }
  // Samples queued in the old format can no longer be read safely.
  if (self.typed && !(self.type == type)) self.queue.clear();
  self.type = type;
  self.typed = true;
  output_ = type;
  output_.width = 2 * type.width;
  space_.notify_all();
  return 0;
}

const MergeVideoType& StereoMerge::OutputType() const { return output_; }

void StereoMerge::StartClock(int64_t startTime) {
  clockSet_ = startTime != kFirstSample;
  outputTime_ = previousTime_ = clockSet_ ? startTime : 0;
  outOfStep_ = false;
}

void StereoMerge::Activate(int64_t startTime) {
  std::lock_guard lock(stream_);
  for (Input& in : inputs_) {
    in.queue.clear();
    in.ended = false;
  }
  endSent_ = false;
  StartClock(startTime);
  active_ = true;
}

void StereoMerge::Deactivate() {
  std::lock_guard lock(stream_);
  active_ = false;
  for (Input& in : inputs_) in.queue.clear();
  space_.notify_all();
}

void StereoMerge::BeginFlush() {
  std::lock_guard lock(stream_);
  for (Input& in : inputs_) {
    in.flushing = true;
    in.queue.clear();
  }
  space_.notify_all();
}

void StereoMerge::EndFlush(int64_t restartTime) {
  std::lock_guard lock(stream_);
  for (Input& in : inputs_) {
    in.flushing = false;
    in.ended = false;
  }
  endSent_ = false;
  StartClock(restartTime);
}

bool StereoMerge::Ended() const {
  std::lock_guard lock(stream_);
  return endSent_;
}

// Whether a sample queued on `input` may still become part of a frame.
// Once the right view has ended with nothing queued no frame can be made,
// so left samples are let through instead of piling up (and of stalling the
// left stream, which must run to its own end for the movie to end).
bool StereoMerge::CanTake(int input) const {
  return !(input == 0 && inputs_[1].ended && inputs_[1].queue.empty());
}

uint32_t StereoMerge::Receive(int input, MergeSample sample) {
  if (input < 0 || input >= kInputs) return kFail;
  std::unique_lock lock(stream_);
  Input& in = inputs_[input];
  if (in.flushing || !AllTyped() || in.ended) return kRefused;
  if (sample.start > kStopTime) {
    in.ended = true;
    space_.notify_all();
    Assemble(lock);
    return kRefused;
  }
  if (!active_) return kWrongState;
  const MergeVideoType& type = in.type;
  int64_t viewBytes = int64_t{BytesPerPixel(type.frameFormat)} * type.width;
  if (!sample.rows || std::abs(sample.stride) < viewBytes) return kFail;

  space_.wait(lock, [&] {
    return !active_ || in.flushing || !in.typed || in.ended || !CanTake(input) ||
           maxQueued == 0 || in.queue.size() < maxQueued;
  });
  if (in.flushing || !in.typed || in.ended) return kRefused;
  if (!active_) return kWrongState;
  if (!CanTake(input)) return 0;
  if (!clockSet_) StartClock(sample.start);
  in.queue.push_back(std::move(sample));
  Assemble(lock);
  return 0;
}

void StereoMerge::EndOfStream(int input) {
  if (input < 0 || input >= kInputs) return;
  std::unique_lock lock(stream_);
  inputs_[input].ended = true;
  space_.notify_all();
  Assemble(lock);
}

// Makes frames while both views can supply them.  One thread assembles at a
// time: a thread that finds another one at it only queues, and the other
// picks its sample up after the delivery it is in.  That keeps the frames in
// order and the frame buffer untouched while a delivery reads it.
void StereoMerge::Assemble(std::unique_lock<std::mutex>& lock) {
  if (assembling_) return;
  assembling_ = true;
  while (active_ && AssembleOne(lock)) {
  }
  assembling_ = false;
  bool allEnded = inputs_[0].ended && inputs_[1].ended;
  if (!active_ || endSent_ || !allEnded) return;
  endSent_ = true;
  if (onEndOfStream) {
    lock.unlock();
    onEndOfStream();
    lock.lock();
  }
}

// One output frame; false when it cannot be made or was refused downstream.
bool StereoMerge::AssembleOne(std::unique_lock<std::mutex>& lock) {
  if (!AllTyped() || inputs_[0].flushing || inputs_[1].flushing) return false;
  bool dropped = false;
  for (Input& in : inputs_) {
    while (!in.queue.empty() && in.queue.front().start < outputTime_) {
      in.queue.pop_front();
      dropped = true;
    }
  }
  if (dropped) space_.notify_all();
  for (const Input& in : inputs_)
    if (in.queue.empty() && !in.ended) return false;
  const Input& left = inputs_[0];
  const Input& right = inputs_[1];
  if (right.queue.empty()) return false;

  const MergeVideoType& type = left.type;
  int64_t frameBytes = RowBytes(type.frameFormat, 2 * int64_t{type.width}) *
                       type.height;
  if (frameWidth_ != type.width || frameHeight_ != type.height ||
      frameFormat_ != type.frameFormat) {
    frame_.assign(static_cast<size_t>(frameBytes), 0);
    FillBlack(frame_.data(), 0, frameBytes, type.frameFormat);
    frameWidth_ = type.width;
    frameHeight_ = type.height;
    frameFormat_ = type.frameFormat;
  }
  // Never stand still, or the loop would repeat the same frame for ever.
  int64_t step = std::max(1, settings_.intervalMs ? settings_.intervalMs() : 30) *
                 kUnitsPerMs;
  // Across a gap in the streams' time stamps the clock jumps to the next
  // sample: one frame stands for the gap instead of a copy for every
  // interval in it, all delivered at once (an hour's gap made 120,000).
  int64_t next = right.queue.front().start;
  if (!left.queue.empty()) next = std::min(next, left.queue.front().start);
  if (next - outputTime_ > std::max(kResyncIntervals * step, kResyncUnits))
    outputTime_ = next;

  MergeFrame frame;
  frame.start = previousTime_;
  frame.stop = outputTime_;
  frame.frameFormat = type.frameFormat;
  frame.width = 2 * type.width;
  frame.height = type.height;
  frame.rows = frame_.data();
  frame.stride = static_cast<ptrdiff_t>(
      RowBytes(type.frameFormat, 2 * int64_t{type.width}));

  // With the left view ended the frame goes out without new content.
  if (!left.queue.empty()) {
    outOfStep_ = left.queue.front().start != right.queue.front().start;
    CopyViews(left.queue.front(), right.queue.front());
  }
  previousTime_ = outputTime_;
  outputTime_ += outOfStep_ ? 2 * step : step;

  lock.unlock();
  bool taken = deliver_ ? deliver_(frame) : true;
  lock.lock();
  return taken;
}

// Places both views side by side, each cropped and shifted by the parallax,
// and paints what the copies leave uncovered black (the shift may change
// from frame to frame, so the margins are painted every time).
void StereoMerge::CopyViews(const MergeSample& left, const MergeSample& right) {
  const int format = frameFormat_;
  const int64_t e = BytesPerPixel(format);
  const int64_t b = frameWidth_, h = frameHeight_;
  const int64_t outRow = RowBytes(format, 2 * b);
  const int64_t x = settings_.parallaxX ? settings_.parallaxX() : 0;
  const int64_t y = settings_.parallaxY ? settings_.parallaxY() : 0;
  int64_t crop = e * std::abs(x);
  int64_t place = e * std::abs(x / 2);
  if (format == 2) {
    crop &= ~int64_t{3};
    place &= ~int64_t{3};
  }
  const int64_t top = std::abs(y / 2);
  const int64_t rows = std::max<int64_t>(0, h - std::abs(y));
  // Only the view's pixel bytes: an RGB row's padding would spill past the
  // half (and past the last row's end).
  const int64_t bytes = std::max<int64_t>(0, e * b - crop);

  const int64_t leftCol = x < 0 ? crop : 0, rightCol = x >= 0 ? crop : 0;
  const int64_t leftRow = y < 0 ? -y : 0, rightRow = y > 0 ? y : 0;
  for (int64_t row = 0; row < h; ++row) {
    uint8_t* out = frame_.data() + row * outRow;
    if (row < top || row >= top + rows || bytes == 0) {
      FillBlack(out, 0, outRow, format);
      continue;
    }
    const int64_t from = row - top;
    // The left copy ends inside its half, as the placement never exceeds
    // the crop.
    FillBlack(out, 0, place, format);
    std::memcpy(out + place,
                left.rows + (from + leftRow) * left.stride + leftCol,
                static_cast<size_t>(bytes));
    FillBlack(out, place + bytes, e * b + place, format);
    std::memcpy(out + e * b + place,
                right.rows + (from + rightRow) * right.stride + rightCol,
                static_cast<size_t>(bytes));
    FillBlack(out, e * b + place + bytes, outRow, format);
  }
}

// Movie playback as the window sees it: opening and closing a movie, the
// transport controls, the frame grabber that publishes each frame and
// presents it, and the pipeline's events (end of movie, repeat, slideshow).
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/movie_graph.h"
#include "shell/later_features.h"

class MainWindow;

// The marker StepPending holds while a single-frame step is under way.
constexpr int kStepMarker = 123;

class StreamerMoviePlayer : public MoviePlayer {
 public:
  using GraphBuilder = std::function<std::unique_ptr<MovieGraph>(
      const std::string& left, const std::string& right,
      const MovieGraphOptions& options, MovieFrameSink sink,
      std::function<void()> notify, GraphBuildResult& result)>;

  // `builder` makes the pipeline; tests pass a fake one.
  explicit StreamerMoviePlayer(MainWindow& window,
                               GraphBuilder builder = BuildMovieGraph);
  ~StreamerMoviePlayer() override;

  int OpenMovie(const std::string& left, const std::string& right) override;
  void CloseMovie() override;
  void TogglePause() override;
  void RestartToggle() override;
  bool StepPending() const override { return stepPending_ != 0; }
  void StepForward() override;
  void StepBackward() override;
  void ChangeRate(double delta) override;
  void SetRate(double rate) override;
  void SeekMovie(int milliseconds) override;
  double PositionSeconds() const override;

  void RewindMovie();
  void ToggleMute() override;
  // The running flag and the current position, as the panel reads them.
  bool PollMoviePosition(double& seconds) const;
  // Takes every waiting pipeline event; runs on the window's thread.
  void HandleGraphEvents();
  void ReleaseMovieGraph();

  // The frame grabber: publishes a copy of `frame` (its pixels are lent for
  // the call only) and presents it.  Called on a streaming thread.
  void GrabFrame(const GrabbedFrame& frame, int64_t positionNs);

  double PlaybackRate() const override { return rate_; }
  std::string FlatReason() const override;
  int Volume() const { return volume_; }

 private:
  // Where the frame on screen starts.
  int64_t ShownPositionNs() const;
  void ShowBuildFailure(const GraphBuildResult& result);

  MainWindow& window_;
  GraphBuilder builder_;
  std::unique_ptr<MovieGraph> graph_;
  std::atomic<int> stepPending_{0};
  std::atomic<int64_t> positionNs_{0};
  // Frames presented since the movie opened or last ended (timing log).
  std::atomic<long> presented_{0};
  double rate_ = 1.0;
  int volume_ = 0;  // 0 full, -10000 silent
  // The grabbed frame's pixels and the next frame's, filled while the
  // grabbed one may still be presented (a repaint of the paused window):
  // the pipeline's own samples, or copies of frames it lends for the call
  // only (their buffers are reused).  The slot in use changes only when a
  // frame is handed over, under the presentation's lock.
  std::mutex heldLock_;
  std::shared_ptr<const void> held_[2];
  std::vector<uint8_t> copies_[2];
  int heldNext_ = 0;
  // Queued calls from the streaming threads die with the player.
  QObject context_;
};

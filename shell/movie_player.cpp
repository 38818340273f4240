#include "shell/movie_player.h"

#include <QDesktopServices>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/comment.h"
#include "movie/avi_streams.h"
#include "shell/command_table.h"
#include "shell/control_panel.h"
#include "shell/main_window.h"
#include "shell/startup.h"
#include "core/viewer_state.h"
#include "stereo/movie_frame.h"
#include "stereo/present.h"

namespace {

constexpr int kCodecHelpAddress = 2797;
constexpr const char* kMissingDecoderCaption = "動画再生エラー";
// Names what is missing and what a Linux user installs for it: the
// GStreamer plugin packages, where other systems had codec filters.
std::string MissingDecoderText(const std::string& missing) {
  std::string text = "この動画を再生するデコーダーがありません";
  if (!missing.empty()) text += "（" + missing + "）";
  return text +
         "。GStreamerのプラグイン（gstreamer1.0-libav、"
         "gstreamer1.0-plugins-good、gstreamer1.0-plugins-bad、"
         "gstreamer1.0-plugins-ugly など）をインストールすれば"
         "再生できるかもしれません。詳しい説明ページを表示しますか？";
}
constexpr int kSilent = -10000;
constexpr int64_t kNsPerMs = 1000000;

std::string FailedText(int code, const char* step) {
  char text[160];
  std::snprintf(text, sizeof text, "FAILED(hr=0x%x) in %s\n",
                static_cast<unsigned>(code), step);
  return text;
}

// The bytes a frame's rows hold, row by row in presentation order (the
// luma rows of a 4:2:0 frame).
size_t RowBytes(const GrabbedFrame& f) {
  if (f.format == FrameYuv420) return static_cast<size_t>(f.width);
  return f.format == FrameYuy2 ? 4 * ((static_cast<size_t>(f.width) + 1) / 2)
                               : 3 * static_cast<size_t>(f.width);
}

// Copies `rows` rows of `bytes` from `from` (`stride` apart) to `to`, packed
// at a stride rounded up to 4; returns that stride.
size_t CopyRows(const uint8_t* from, ptrdiff_t stride, size_t bytes, int rows,
                uint8_t* to) {
  size_t packed = (bytes + 3) & ~size_t{3};
  for (int y = 0; y < rows; ++y)
    std::memcpy(to + packed * y, from + stride * y, bytes);
  return packed;
}

}  // namespace

StreamerMoviePlayer::StreamerMoviePlayer(MainWindow& window,
                                         GraphBuilder builder)
    : window_(window), builder_(std::move(builder)) {}

StreamerMoviePlayer::~StreamerMoviePlayer() { ReleaseMovieGraph(); }

// ---- The frame grabber (streaming threads) ----------------------------------

void StreamerMoviePlayer::GrabFrame(const GrabbedFrame& frame,
                                    int64_t positionNs) {
  if (frame.width < 1 || frame.height < 1 || !frame.pixels) return;
  // A paused window presents the frame again on every repaint: hold the
  // pipeline's sample when it may be held, else keep a copy, rows packed.
  // The slot filled here is never the grabbed frame's, so filling it needs
  // no presentation lock; handing the frame over takes it.
  GrabbedFrame published = frame;
  published.owner.reset();
  std::lock_guard lock(heldLock_);
  held_[heldNext_] = frame.owner;
  std::vector<uint8_t>& copy = copies_[heldNext_];
  if (!frame.owner) {
    size_t rowBytes = RowBytes(frame);
    size_t stride = (rowBytes + 3) & ~size_t{3};
    size_t lumaBytes = stride * static_cast<size_t>(frame.height);
    if (frame.format != FrameYuv420) {
      copy.resize(lumaBytes);
      CopyRows(frame.pixels, frame.stride, rowBytes, frame.height, copy.data());
    } else {
      if (!frame.u || !frame.v || (frame.chromaStep != 1 && frame.chromaStep != 2))
        return;
      // The chroma rows as separate U and V planes, whatever they came as.
      size_t pairs = (static_cast<size_t>(frame.width) + 1) / 2;
      size_t pairStride = (pairs + 3) & ~size_t{3};
      int chromaRows = (frame.height + 1) / 2;
      size_t planeBytes = pairStride * static_cast<size_t>(chromaRows);
      copy.resize(lumaBytes + 2 * planeBytes);
      CopyRows(frame.pixels, frame.stride, rowBytes, frame.height, copy.data());
      uint8_t* u = copy.data() + lumaBytes;
      uint8_t* v = u + planeBytes;
      for (int y = 0; y < chromaRows; ++y) {
        const uint8_t* fromU = frame.u + static_cast<ptrdiff_t>(frame.chromaStride) * y;
        const uint8_t* fromV = frame.v + static_cast<ptrdiff_t>(frame.chromaStride) * y;
        for (size_t x = 0; x < pairs; ++x) {
          u[pairStride * y + x] = fromU[x * frame.chromaStep];
          v[pairStride * y + x] = fromV[x * frame.chromaStep];
        }
      }
      published.u = u;
      published.v = v;
      published.chromaStride = static_cast<int>(pairStride);
      published.chromaStep = 1;
    }
    published.pixels = copy.data();
    published.stride = static_cast<int>(stride);
  }
  positionNs_ = positionNs;
  // The first frame after a step request ends the step: the pipeline stays
  // paused on it.
  int marker = kStepMarker;
  stepPending_.compare_exchange_strong(marker, 0);
  int status = PresentGrabbedFrame(published);
  if (status == 0) ++presented_;
  // A frame handed over is the grabbed one until the next: its slot stays.
  if (status != 1) heldNext_ = (heldNext_ + 1) % 2;
}

// ---- Opening and closing ------------------------------------------------------

int StreamerMoviePlayer::OpenMovie(const std::string& left,
                                   const std::string& right) {
  ReleaseMovieGraph();
  FreePicture(Viewer.CurrentLeft);
  FreePicture(Viewer.CurrentRight);
  if (right.empty()) {
    // A stereo camera's AVI records its parallax in the maker note.
    AviStreamInfo info = CountVideoStreams(left, ParallaxShiftX, ParallaxShiftY);
    ParallaxShiftX = info.parallaxX;
    ParallaxShiftY = info.parallaxY;
  }
  {
    PresentationLock lock(Presentation.lock);
    ResetMovieFrameState();
    CreateMarkerStrip();
  }
  stepPending_ = 0;
  positionNs_ = 0;
  presented_ = 0;
  rate_ = 1.0;

  MovieGraphOptions options;
  options.forceRgb = Viewer.nRGB != 0;
  options.intervalMs = [] { return Viewer.nInterval; };
  options.parallaxX = [] { return ParallaxShiftX; };
  options.parallaxY = [] { return ParallaxShiftY; };
  GraphBuildResult result;
  graph_ = builder_(
      left, right, options,
      [this](const GrabbedFrame& f, int64_t at) { GrabFrame(f, at); },
      [this] {
        QMetaObject::invokeMethod(&context_, [this] { HandleGraphEvents(); },
                                  Qt::QueuedConnection);
      },
      result);
  int status = result.code ? result.code : 1;
  if (graph_) {
    int64_t duration = graph_->DurationNs();
    if (duration > 0) {
      Viewer.MovieDurationMs =
          static_cast<int>(std::min<int64_t>(duration / kNsPerMs, INT32_MAX));
      Viewer.MovieSeekMs = 0;
    } else {
      Viewer.MovieDurationMs = 1000;
    }
    Viewer.FrameDuration = static_cast<int>(graph_->FrameDurationNs() / 100);
    Viewer.FrameStepMs = std::clamp(Viewer.FrameDuration / 10000, 10, 100);
    window_.Panel().HandleCommand(CMD_PANEL_RANGE);
    if (graph_->Run()) {
      Viewer.MovieState = 2;
      status = 0;
    } else {
      window_.SetTitle(FailedText(status, "pMC1->Run()"));
    }
  } else {
    ShowBuildFailure(result);
  }
  if (status != 0) {
    CloseMovie();
    FreePicture(Viewer.CurrentLeft);
    FreePicture(Viewer.CurrentRight);
    return status;
  }
  Viewer.MovieOpen = true;
  Viewer.ShownKind = 1;
  Viewer.ShownLeftPath = left;
  Viewer.ShownRightPath = right;
  return 0;
}

std::string StreamerMoviePlayer::FlatReason() const {
  // Nothing on this system decodes a spatial video's second layer: its
  // frames are the left eye alone.
  if (graph_ && graph_->Shape() == MovieShape::MvHevc)
    return "右目の映像の表示にはMV-HEVCデコーダが必要です";
  return {};
}

void StreamerMoviePlayer::ShowBuildFailure(const GraphBuildResult& result) {
  switch (result.failure) {
    case GraphFailure::MissingDecoder:
      if (window_.Dialogs().AskYesNo(nullptr,
                                     MissingDecoderText(result.missing),
                                     kMissingDecoderCaption,
                                     YesNoPrompt::kWarning))
        QDesktopServices::openUrl(QUrl(LoadText(kCodecHelpAddress)));
      break;
    case GraphFailure::MismatchedInputs:
      window_.Dialogs().Message(nullptr, "Cannot find an acceptable media type.",
                                "Error!", true);
      break;
    case GraphFailure::Step:
      window_.SetTitle(result.text);
      break;
    case GraphFailure::None:
      break;
  }
}

void StreamerMoviePlayer::CloseMovie() {
  // The pipeline goes first: no streaming thread may touch the frame while
  // its halves become the still pair that stays on screen.
  ReleaseMovieGraph();
  ScreenSize screen = window_.Screen();
  {
    PresentationLock lock(Presentation.lock);
    if (const Picture& frame = FramePicture()) {
      BitmapInfoHeader header = *PictureHeader(frame.get());
      const uint8_t* pixels = PicturePixels(frame.get());
      Viewer.CurrentLeft =
          FitHalfToScreen(screen.width, screen.height, header, pixels, 0);
      Viewer.CurrentRight =
          FitHalfToScreen(screen.width, screen.height, header, pixels, 1);
    }
    ResetMovieFrameState();
    FreeMarkerStrip();
  }
  BlackOutFramebuffer(window_);
  Viewer.MovieOpen = false;
}

void StreamerMoviePlayer::ReleaseMovieGraph() {
  // Destroying the pipeline waits for its streaming threads, which present
  // frames; nothing of them runs afterwards.
  graph_.reset();
  stepPending_ = 0;
  std::lock_guard held(heldLock_);
  {
    PresentationLock lock(Presentation.lock);
    // Presentation may have mixed the last frame without converting it all;
    // closing keeps it, so it is completed while its rows are still held.
    CompleteFramePicture();
    SetGrabbedFrame(GrabbedFrame{});
  }
  for (auto& slot : held_) slot.reset();
  for (auto& copy : copies_) std::vector<uint8_t>().swap(copy);
  heldNext_ = 0;
}

// ---- Controls -------------------------------------------------------------

void StreamerMoviePlayer::TogglePause() {
  if (!graph_) return;
  Viewer.FrameCopyMessage.clear();
  if (Viewer.MovieState == 1) {
    if (graph_->Run()) Viewer.MovieState = 2;
  } else if (Viewer.MovieState == 2) {
    if (graph_->Pause()) Viewer.MovieState = 1;
  } else if (Viewer.MovieState == 0) {
    RewindMovie();
    if (graph_->Run()) Viewer.MovieState = 2;
  }
}

void StreamerMoviePlayer::RestartToggle() {
  if (!graph_) return;
  if (Viewer.MovieState == 1 || Viewer.MovieState == 0) {
    RewindMovie();
    if (graph_->Run()) Viewer.MovieState = 2;
  } else if (Viewer.MovieState == 2) {
    if (graph_->Pause()) Viewer.MovieState = 1;
  }
}

void StreamerMoviePlayer::StepForward() {
  if (!graph_) return;
  // A step runs the pipeline for exactly one frame and leaves it paused;
  // the grabber clears the marker when that frame arrives.
  if (Viewer.MovieState != 1 && Viewer.MovieState != 0) return;
  stepPending_ = kStepMarker;
  Viewer.MovieState = 1;
  if (!graph_->StepFrame()) stepPending_ = 0;
}

int64_t StreamerMoviePlayer::ShownPositionNs() const {
  // Merged frames carry the merge's own clock; the graph knows where the
  // views themselves are.
  int64_t shown = graph_->ShownPositionNs();
  return shown >= 0 ? shown : positionNs_.load();
}

void StreamerMoviePlayer::StepBackward() {
  if (!graph_ || (Viewer.MovieState != 1 && Viewer.MovieState != 0)) return;
  int64_t frame = graph_->FrameDurationNs();
  if (frame <= 0) return;
  // The frame before the one on screen; its start is one frame earlier.
  int64_t at = ShownPositionNs();
  int64_t target = at - frame;
  graph_->Seek(std::max<int64_t>(target, 0));
}

void StreamerMoviePlayer::RewindMovie() {
  if (!graph_ || (Viewer.MovieState != 1 && Viewer.MovieState != 2)) return;
  graph_->Pause();
  Viewer.MovieState = 0;
  graph_->Seek(0);  // the first frame shows, paused
}

void StreamerMoviePlayer::SeekMovie(int milliseconds) {
  if (!graph_) return;
  // A seek leaves the movie paused.  Stopped (state 0) it already is, at
  // its first frame: toggling would start it playing.
  if (Viewer.MovieState == 2) TogglePause();
  else if (Viewer.MovieState == 0) Viewer.MovieState = 1;
  int64_t target = int64_t{milliseconds} * kNsPerMs;
  // The last frame stands for every position after its start.  An exact
  // seek beyond it found no frame and ended the movie: paused nothing
  // changed, playing it went back to the start.
  int64_t last =
      LastFrameSeekNs(graph_->DurationNs(), graph_->FrameDurationNs());
  if (last > 0) target = std::min(target, last);
  if (!graph_->Seek(target)) graph_->Seek(0);
}

void StreamerMoviePlayer::ChangeRate(double delta) {
  if (!graph_ || delta == 0) return;
  double rate = rate_ + delta;
  if (graph_->SetRate(rate)) rate_ = rate;
}

void StreamerMoviePlayer::SetRate(double rate) {
  if (graph_ && graph_->SetRate(rate)) rate_ = rate;
}

void StreamerMoviePlayer::ToggleMute() {
  if (!graph_ || !graph_->HasVolume()) return;
  int volume = volume_ == 0 ? kSilent : 0;
  if (graph_->SetMuted(volume == kSilent)) {
    volume_ = volume;
  } else {
    window_.SetTitle(FailedText(1, "pBA1->put_Volume(g_lVolume)"));
  }
}

double StreamerMoviePlayer::PositionSeconds() const {
  double seconds = 0;
  PollMoviePosition(seconds);
  return seconds;
}

bool StreamerMoviePlayer::PollMoviePosition(double& seconds) const {
  if (!graph_) return false;
  // Paused, the clock stands short of the frame on screen (the sink holds
  // the next frame ready), and the frame counter must name what is seen.
  int64_t position =
      Viewer.MovieState == 2 ? graph_->PositionNs() : ShownPositionNs();
  if (position < 0) position = positionNs_;
  seconds = static_cast<double>(position) / 1e9;
  return Viewer.MovieState == 2;
}

void StreamerMoviePlayer::HandleGraphEvents() {
  if (!graph_) return;
  for (int event : graph_->TakeEvents()) {
    if (event != kGraphEndOfStream || !graph_) continue;
    // DUORAMIC_TIMING: how many frames reached the screen, so that frames
    // dropped for lateness can be counted against the movie's own.
    if (const char* timing = std::getenv("DUORAMIC_TIMING");
        timing && *timing && *timing != '0')
      std::fprintf(stderr, "movie: end, %ld frames presented\n",
                   presented_.exchange(0));
    if (Viewer.nRepeat && !Viewer.SlideShowOn) {
      RewindMovie();
      RestartToggle();
    } else {
      RewindMovie();
      if (Viewer.SlideShowOn) window_.PostCommand(CMD_MOVIE_ENDED);
    }
  }
}

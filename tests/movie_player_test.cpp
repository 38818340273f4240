// The movie player in the window over a scripted pipeline: opening, the
// step marker, the end of a movie, closing onto the last frame, failures.
#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "shell/command_table.h"
#include "shell/control_panel.h"
#include "shell/movie_player.h"
#include "core/viewer_state.h"
#include "stereo/movie_frame.h"
#include "stereo/stereo_format.h"
#include "tests/window_test_support.h"

namespace {

struct FakeGraph : MovieGraph {
  MovieFrameSink sink;
  std::vector<std::string> calls;
  std::vector<int> events;
  bool refuse = false;

  MovieShape shape = MovieShape::SideBySide;
  MovieShape Shape() const override { return shape; }
  bool Run() override { return Call("Run"); }
  bool Pause() override { return Call("Pause"); }
  bool Seek(int64_t ns) override { return Call("Seek " + std::to_string(ns / 1000000)); }
  bool StepFrame() override { return Call("Step"); }
  bool SetRate(double rate) override { return Call("Rate " + std::to_string(rate)); }
  bool HasVolume() const override { return true; }
  bool SetMuted(bool muted) override { return Call(muted ? "Mute" : "Unmute"); }
  int64_t PositionNs() const override { return 1'200'000'000; }
  int64_t shown = -1;  // the frame the sink last handed on
  int64_t ShownPositionNs() const override { return shown; }
  int64_t DurationNs() const override { return 10'000'000'000; }
  int64_t FrameDurationNs() const override { return 40'000'000; }
  std::vector<int> TakeEvents() override { return std::exchange(events, {}); }
  bool Call(const std::string& what) {
    calls.push_back(what);
    return !refuse;
  }
  // An RGB24 frame 8 x 2: the left half red, the right half blue.
  void Deliver() {
    std::vector<uint8_t> rows(24 * 2);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 8; ++x)
        rows[y * 24 + x * 3 + (x < 4 ? 2 : 0)] = 255;
    sink(GrabbedFrame{8, 2, FrameRgb24, rows.data(), 24, {}}, 0);
  }
  // The same in YUY2: red pixel pairs, then blue ones.
  static constexpr uint8_t kYuy2Red[4] = {82, 90, 82, 240};
  static constexpr uint8_t kYuy2Blue[4] = {41, 240, 41, 110};
  void DeliverYuy2() {
    std::vector<uint8_t> rows;
    for (int pair = 0; pair < 8; ++pair) {
      const uint8_t* p = pair % 4 < 2 ? kYuy2Red : kYuy2Blue;
      rows.insert(rows.end(), p, p + 4);
    }
    sink(GrabbedFrame{8, 2, FrameYuy2, rows.data(), 16, {}}, 0);
  }
  // The same as NV12 planes, lent for the call only like the others.
  void DeliverNv12() {
    std::vector<uint8_t> luma, chroma;
    for (int pair = 0; pair < 8; ++pair) {
      const uint8_t* p = pair % 4 < 2 ? kYuy2Red : kYuy2Blue;
      luma.insert(luma.end(), {p[0], p[2]});
      if (pair < 4) chroma.insert(chroma.end(), {p[1], p[3]});
    }
    GrabbedFrame frame{8, 2, FrameYuv420, luma.data(), 8, {}};
    frame.u = chroma.data();
    frame.v = chroma.data() + 1;
    frame.chromaStride = 8;
    frame.chromaStep = 2;
    sink(frame, 0);
  }
};

// A pipeline with a streaming thread of its own, as GStreamer has: from Run
// on it hands frames over until it is destroyed, which waits for it.  The
// frames are lent for the call only and change size every other time, so
// that the display frame is remade while the window works.
struct StreamingGraph : FakeGraph {
  std::thread streaming;
  std::atomic<bool> stop{false};
  std::atomic<int> delivered{0};

  bool Run() override {
    if (!streaming.joinable())
      streaming = std::thread([this] {
        for (int n = 0; !stop; ++n) {
          int width = n % 2 ? 96 : 64, height = n % 2 ? 40 : 30;
          std::vector<uint8_t> rows(size_t(width) * 3 * height);
          for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
              rows[(size_t(y) * width + x) * 3 + (x < width / 2 ? 2 : 0)] = 255;
          sink(GrabbedFrame{width, height, FrameRgb24, rows.data(), width * 3, {}},
               int64_t{n} * 40'000'000);
          ++delivered;
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      });
    return FakeGraph::Run();
  }
  ~StreamingGraph() override {
    stop = true;
    if (streaming.joinable()) streaming.join();
  }
};

class MoviePlayerTest : public WindowTest {
 protected:
  void PrepareWindow() override {
    player_ = std::make_unique<StreamerMoviePlayer>(
        *window_, [this](const std::string&, const std::string&,
                         const MovieGraphOptions&, MovieFrameSink sink,
                         std::function<void()>, GraphBuildResult& result) {
          if (failure_ != GraphFailure::None) {
            result.failure = failure_;
            result.missing = missing_;
            return std::unique_ptr<MovieGraph>();
          }
          std::unique_ptr<FakeGraph> graph;
          if (streaming_) graph = std::make_unique<StreamingGraph>();
          else graph = std::make_unique<FakeGraph>();
          graph->sink = std::move(sink);
          graph->shape = shape_;
          graph_ = graph.get();
          return std::unique_ptr<MovieGraph>(std::move(graph));
        });
    window_->SetMovie(player_.get());
  }
  void TearDown() override {
    window_->SetMovie(nullptr);
    player_.reset();
    WindowTest::TearDown();
  }
  void Open() {
    ASSERT_EQ(player_->OpenMovie("/movies/clip.mp4", ""), 0);
    graph_->calls.clear();
  }
  int Count(const std::string& call) {
    return static_cast<int>(
        std::count(graph_->calls.begin(), graph_->calls.end(), call));
  }

  std::unique_ptr<StreamerMoviePlayer> player_;
  FakeGraph* graph_ = nullptr;
  GraphFailure failure_ = GraphFailure::None;
  std::string missing_;
  bool streaming_ = false;  // the pipeline delivers frames on its own thread
  MovieShape shape_ = MovieShape::SideBySide;
};

TEST_F(MoviePlayerTest, SpatialVideoTitleSaysItIsFlatAndWhy) {
  shape_ = MovieShape::MvHevc;
  ShowFile("/movies/spatial.mov");
  ASSERT_TRUE(Viewer.MovieOpen);
  std::string title = Title();
  EXPECT_NE(title.find("spatial.mov"), std::string::npos) << title;
  EXPECT_NE(title.find("2D表示: "), std::string::npos) << title;
  EXPECT_NE(title.find("MV-HEVC"), std::string::npos) << title;
  // The next movie, stereo, has no such note.
  shape_ = MovieShape::OverUnder;
  ShowFile("/movies/over_under.mp4");
  EXPECT_EQ(Title().find("MV-HEVC"), std::string::npos) << Title();
}

TEST_F(MoviePlayerTest, OpeningRunsTheMovieAndSetsThePanelRange) {
  Open();
  EXPECT_EQ(Viewer.MovieState, 2);
  EXPECT_TRUE(Viewer.MovieOpen);
  EXPECT_EQ(Viewer.ShownKind, 1);
  EXPECT_EQ(Viewer.MovieDurationMs, 10000);
  EXPECT_EQ(Viewer.FrameDuration, 400000);
  EXPECT_EQ(Viewer.FrameStepMs, 40);
  EXPECT_EQ(Viewer.PanelMaximum, 9999);
}

TEST_F(MoviePlayerTest, StepMarkerIgnoresASecondStepUntilTheFrameCame) {
  Open();
  Key(Qt::Key_F2);  // pause
  EXPECT_EQ(Viewer.MovieState, 1);
  Key(Qt::Key_Space, Qt::ControlModifier);
  EXPECT_TRUE(player_->StepPending());
  Key(Qt::Key_Space, Qt::ControlModifier);  // ignored while pending
  EXPECT_EQ(Count("Step"), 1);
  graph_->Deliver();
  EXPECT_FALSE(player_->StepPending());
  EXPECT_EQ(Viewer.MovieState, 1);
  Key(Qt::Key_Backspace, Qt::ControlModifier);  // one frame back: 0 - 40 ms
  EXPECT_EQ(graph_->calls.back(), "Seek 0");

  // Paused, the clock (1200 ms) stands short of the frame on screen: the
  // position and the step back go from the frame.
  graph_->shown = 1'240'000'000;
  EXPECT_DOUBLE_EQ(player_->PositionSeconds(), 1.24);
  Key(Qt::Key_Backspace, Qt::ControlModifier);
  EXPECT_EQ(graph_->calls.back(), "Seek 1200");
  Key(Qt::Key_F2);  // playing: the clock is where the movie is
  EXPECT_DOUBLE_EQ(player_->PositionSeconds(), 1.2);
}

TEST_F(MoviePlayerTest, EndOfMovieRepeatsRewindsOrAdvancesTheShow) {
  Open();
  Viewer.nRepeat = 1;
  graph_->events = {kGraphEndOfStream};
  player_->HandleGraphEvents();
  EXPECT_EQ(Viewer.MovieState, 2);
  EXPECT_EQ(graph_->calls, (std::vector<std::string>{"Pause", "Seek 0", "Run"}));

  Viewer.nRepeat = 0;
  graph_->events = {kGraphEndOfStream};
  player_->HandleGraphEvents();
  EXPECT_EQ(Viewer.MovieState, 0);  // rewound, first frame on screen

  // In a show the next item follows, even with repeat on.
  Viewer.nRepeat = 1;
  Viewer.SlideShowOn = true;
  window_->SlideshowTimer().stop();
  player_->TogglePause();
  graph_->events = {kGraphEndOfStream};
  player_->HandleGraphEvents();
  EXPECT_EQ(Viewer.MovieState, 0);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window_->SlideshowTimer().isActive());
}

// The panel's end button asks for the end of the movie: playing, stopped
// after the end or paused, the movie pauses on its last frame (the 40 ms
// frame that starts at 9960 ms, 1 ms into it), never runs and never
// rewinds; the button
// says it would start the movie again.
TEST_F(MoviePlayerTest, SeekingToTheEndPausesOnTheLastFrame) {
  Open();
  window_->Panel().Tick();
  const std::string pauseText = window_->Panel().findChild<QPushButton*>(
      QString::number(IDC_PANEL_PAUSE))->text().toStdString();
  for (int state : {2, 0, 1}) {
    SCOPED_TRACE(state);
    Viewer.MovieState = state;
    graph_->calls.clear();
    player_->SeekMovie(Viewer.MovieDurationMs - 1);
    EXPECT_EQ(Viewer.MovieState, 1);
    EXPECT_EQ(Count("Run"), 0);
    EXPECT_EQ(graph_->calls.back(), "Seek 9961");
    EXPECT_EQ(Count("Pause"), state == 2 ? 1 : 0);
  }
  player_->SeekMovie(5000);  // inside the movie: where it was asked
  EXPECT_EQ(graph_->calls.back(), "Seek 5000");
  Viewer.MovieState = 0;  // ended and rewound
  window_->Panel().Tick();
  auto* button = window_->Panel().findChild<QPushButton*>(
      QString::number(IDC_PANEL_PAUSE));
  ASSERT_NE(button, nullptr);
  EXPECT_NE(button->text().toStdString(), pauseText);
  Viewer.MovieState = 2;
  window_->Panel().Tick();
  EXPECT_EQ(button->text().toStdString(), pauseText);
}

// Also after a Dubois anaglyph at its own size, which mixes the YUY2 rows
// (or the 4:2:0 planes) without converting them into the frame.
TEST_F(MoviePlayerTest, ClosingLeavesTheLastFrameAsTheStillPair) {
  Open();
  graph_->Deliver();
  player_->CloseMovie();
  EXPECT_FALSE(Viewer.MovieOpen);
  ASSERT_TRUE(Viewer.CurrentLeft && Viewer.CurrentRight);
  const uint8_t* left = PicturePixels(Viewer.CurrentLeft.get());
  const uint8_t* right = PicturePixels(Viewer.CurrentRight.get());
  EXPECT_EQ(left[2], 255);  // red
  EXPECT_EQ(left[0], 0);
  EXPECT_EQ(right[0], 255);  // blue
  EXPECT_EQ(right[2], 0);

  Viewer.StereoType = DuboisAnaglyph;
  Viewer.FitToWindow = false;
  Viewer.ZoomPercent = 100;
  uint8_t red[3], blue[3];
  ConvertYuy2Row(FakeGraph::kYuy2Red, 0, 1, red);
  ConvertYuy2Row(FakeGraph::kYuy2Blue, 0, 1, blue);
  // Lent 4:2:0 planes are kept as a copy of their own, as lent rows are.
  for (bool planes : {false, true}) {
    Open();
    if (planes) graph_->DeliverNv12();
    else graph_->DeliverYuy2();
    player_->CloseMovie();
    ASSERT_TRUE(Viewer.CurrentLeft && Viewer.CurrentRight);
    left = PicturePixels(Viewer.CurrentLeft.get());
    right = PicturePixels(Viewer.CurrentRight.get());
    EXPECT_EQ(std::vector<uint8_t>(left, left + 3), std::vector<uint8_t>(red, red + 3))
        << planes;
    EXPECT_EQ(std::vector<uint8_t>(right, right + 3),
              std::vector<uint8_t>(blue, blue + 3))
        << planes;
  }
}

TEST_F(MoviePlayerTest, BuildFailuresAskOrWarnAndLeaveNoMovie) {
  failure_ = GraphFailure::MissingDecoder;
  EXPECT_NE(player_->OpenMovie("/movies/odd.mkv", ""), 0);
  EXPECT_FALSE(Viewer.MovieOpen);
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.questions[0].rfind("動画再生エラー: ", 0), 0u);
  // A Linux user is told what is missing and which packages bring it.
  failure_ = GraphFailure::MissingDecoder;
  missing_ = "H.265 (Main Profile) decoder";
  EXPECT_NE(player_->OpenMovie("/movies/odd.mkv", ""), 0);
  ASSERT_EQ(dialogs_.questions.size(), 2u);
  const std::string& question = dialogs_.questions[1];
  EXPECT_NE(question.find("（H.265 (Main Profile) decoder）"), std::string::npos)
      << question;
  EXPECT_NE(question.find("gstreamer1.0-libav"), std::string::npos);
  EXPECT_EQ(question.find("Directshow"), std::string::npos);
  EXPECT_NE(question.find("詳しい説明ページを表示しますか？"), std::string::npos);
  failure_ = GraphFailure::MismatchedInputs;
  EXPECT_NE(player_->OpenMovie("/movies/l.mp4", "/movies/r.mp4"), 0);
  EXPECT_EQ(dialogs_.messages,
            (std::vector<std::string>{"Cannot find an acceptable media type."}));
}

TEST_F(MoviePlayerTest, RatesAndMuteChangeOnlyWhenThePipelineAgrees) {
  Open();
  player_->ChangeRate(0.25);
  EXPECT_DOUBLE_EQ(player_->PlaybackRate(), 1.25);
  graph_->refuse = true;
  player_->SetRate(3);
  EXPECT_DOUBLE_EQ(player_->PlaybackRate(), 1.25);
  graph_->refuse = false;
  player_->ToggleMute();
  EXPECT_EQ(player_->Volume(), -10000);
  window_->Panel().HandleCommand(CMD_PANEL_MUTE);
  EXPECT_EQ(player_->Volume(), 0);
  EXPECT_EQ(graph_->calls.back(), "Unmute");
}

TEST_F(MoviePlayerTest, DoubleClickTogglesFullScreenAndThePauseOnce) {
  Open();
  QWidget* canvas = window_->centralWidget();
  QPoint at(10, 10);
  auto send = [&](QEvent::Type type) {
    QMouseEvent event(type, at, canvas->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton
                                                         : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(canvas, &event);
  };
  bool fullScreen = Viewer.FullScreen;
  for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                    QEvent::MouseButtonPress, QEvent::MouseButtonDblClick,
                    QEvent::MouseButtonRelease})
    send(type);
  EXPECT_EQ(Viewer.MovieState, 1);  // paused once
  EXPECT_NE(Viewer.FullScreen, fullScreen);
}

// The window resizes, goes full screen and back, paints, repaints a paused
// frame and copies it while the streaming thread presents frames: every one
// of them reads or remakes the framebuffer or the grabbed frame, and the
// view commands change what each frame's drawing reads, so under
// ThreadSanitizer (and AddressSanitizer) any of them done unguarded shows.
TEST_F(MoviePlayerTest, FramesKeepArrivingWhileTheWindowResizesAndGoesFullScreen) {
  streaming_ = true;
  Open();
  auto* graph = static_cast<StreamingGraph*>(graph_);
  QWidget* canvas = window_->centralWidget();
  auto waitForFrames = [&](int count) {
    int until = graph->delivered + count;
    while (graph->delivered < until) QTest::qWait(1);
  };
  waitForFrames(1);
  for (int i = 0; i < 24; ++i) {
    window_->resize(300 + 53 * (i % 7), 200 + 41 * (i % 5));
    QCoreApplication::processEvents();
    canvas->repaint();
    if (i % 6 == 2) Run(CMD_FULL_SCREEN_HERE);  // in, and out again three later
    if (i % 4 == 1) Key(Qt::Key_F2);            // pause: resizing repaints the frame
    if (i % 8 == 3) window_->Panel().HandleCommand(CMD_PANEL_FRAME_COPY);
    // The view commands change what every frame's presentation reads.
    if (i % 3 == 0) Run(CMD_FORMAT_FIRST + (i % 2 ? DuboisAnaglyph : SideBySide));
    if (i % 3 == 1) Run(CMD_SWAP);
    if (i % 5 == 2) Run(CMD_WIDTH_CYCLE);
    if (i % 5 == 4) Run(i % 2 ? CMD_ZOOM_IN : CMD_FIT);
    if (i % 7 == 5) Run(CMD_FLOAT_FORWARD);
    waitForFrames(2);
  }
  if (Viewer.FullScreen) Run(CMD_FULL_SCREEN_HERE);
  QCoreApplication::processEvents();
  canvas->repaint();
  // The framebuffer is the canvas's size, and the last frame survives
  // closing whole: red on the left, blue on the right.
  qreal ratio = canvas->devicePixelRatioF();
  EXPECT_EQ(ClientWidth(), static_cast<int>(canvas->width() * ratio));
  EXPECT_EQ(ClientHeight(), static_cast<int>(canvas->height() * ratio));
  player_->CloseMovie();
  ASSERT_TRUE(Viewer.CurrentLeft && Viewer.CurrentRight);
  auto centre = [](const Picture& p) {  // B, G, R of the middle pixel
    const uint8_t* at = PictureRow(p.get(), PictureHeight(p) / 2) +
                        3 * (PictureWidth(p) / 2);
    return std::vector<int>{at[0], at[1], at[2]};
  };
  EXPECT_EQ(centre(Viewer.CurrentLeft), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(centre(Viewer.CurrentRight), (std::vector<int>{255, 0, 0}));
}

}  // namespace

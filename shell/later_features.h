// The features the shell hands work to that are not part of it: movie
// playback, the 360-degree viewer, the 3D Vision and iZ3D outputs, the JPEG
// comment dialog and the slideshow list maker.  The window talks to each
// through its own small interface, so a feature can arrive (and tests can
// stand in for it) without the commands changing.
#pragma once

#include <functional>
#include <string>
#include <string_view>

class QWidget;

struct MoviePlayer {
  virtual ~MoviePlayer() = default;
  // Opens one movie (`right` empty) or a left/right movie pair.  0 on
  // success, after which MovieOpen, ShownKind 1 and the shown paths are set.
  virtual int OpenMovie(const std::string& left, const std::string& right) = 0;
  // Closes an open movie; its last frame stays as the current pair.
  virtual void CloseMovie() = 0;
  virtual void TogglePause() = 0;
  virtual void RestartToggle() = 0;
  // A frame step asked for and not yet shown.
  virtual bool StepPending() const = 0;
  virtual void StepForward() = 0;
  virtual void StepBackward() = 0;
  virtual void ChangeRate(double delta) = 0;
  virtual void SetRate(double rate) = 0;
  // The rate last set (1 after opening).
  virtual double PlaybackRate() const { return 1.0; }
  // Sound off when it is on, on when off; nothing for a silent movie.
  virtual void ToggleMute() {}
  // Seeks to the control panel's MovieSeekMs (a running movie pauses first).
  virtual void SeekMovie(int milliseconds) = 0;
  // Where playback is now, in seconds; the control panel polls it.
  virtual double PositionSeconds() const { return 0; }
  // Why the open movie is shown flat (one eye to both); empty when stereo.
  virtual std::string FlatReason() const { return {}; }
};

struct PanoramaViewer {
  virtual ~PanoramaViewer() = default;
  // Writes the viewer page for `path` (a 360-degree picture or movie) and
  // opens the hosted viewer on it; `swap` exchanges left and right.
  virtual void Show(const std::string& path, bool swap) = 0;
  // Show for an item opened on its own: the viewer may also take the
  // screen (full screen) for itself.
  virtual void ShowFullScreen(const std::string& path, bool swap) {
    Show(path, swap);
  }
  // The options added below the 360 open dialog; null for none.
  virtual QWidget* CreateOptionsPanel(QWidget* /*parent*/) { return nullptr; }
  // The close request the slideshow sends before it moves on.
  virtual void Close() = 0;
};

struct StereoOutput {
  virtual ~StereoOutput() = default;
  // Shows a still (`still` 1: one stereo file with `right` empty, or a pair)
  // or a movie (`still` 0) on the shutter-glasses output.
  virtual void RunStereoOutput(const std::string& left,
                               const std::string& right, int still) = 0;
  // Its window is open; full screen then closes it instead.
  virtual bool StereoWindowActive() const = 0;
  virtual void CloseStereoWindow() = 0;
};

struct CommentEditor {
  virtual ~CommentEditor() = default;
  // The JPEG comment dialog for `path`; non-zero when the file was changed.
  virtual int EditComment(QWidget* owner, const std::string& path) = 0;
};

struct ListMaker {
  virtual ~ListMaker() = default;
  // The list maker's file dialog; it writes the list itself.
  virtual void MakeList(QWidget* owner) = 0;
};

// Stand-ins for features still to come: each call says in the title, through
// `report`, that the feature is not built yet, and changes nothing else.
// A movie that cannot be opened returns non-zero, like any failed open.
class NotBuiltFeatures : public MoviePlayer,
                         public PanoramaViewer,
                         public StereoOutput,
                         public CommentEditor,
                         public ListMaker {
 public:
  explicit NotBuiltFeatures(std::function<void(std::string_view)> report)
      : report_(std::move(report)) {}

  int OpenMovie(const std::string& left, const std::string& right) override;
  void CloseMovie() override {}  // nothing can be open
  void TogglePause() override {}
  void RestartToggle() override {}
  bool StepPending() const override { return false; }
  void StepForward() override {}
  void StepBackward() override {}
  void ChangeRate(double) override {}
  void SetRate(double) override {}
  void SeekMovie(int) override {}

  void Show(const std::string& path, bool swap) override;
  void Close() override {}

  void RunStereoOutput(const std::string& left, const std::string& right,
                       int still) override;
  bool StereoWindowActive() const override { return false; }
  void CloseStereoWindow() override {}

  int EditComment(QWidget* owner, const std::string& path) override;
  void MakeList(QWidget* owner) override;

 private:
  std::function<void(std::string_view)> report_;
};

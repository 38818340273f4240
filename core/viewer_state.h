// The one process-wide record of settings and viewing state.  Plain data:
// the composition code reads it without any window being involved.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/picture.h"
#include "core/desktop_rect.h"

struct ViewerState {
  // Settings mirrored from the settings store.
  int StereoType = 0;
  int nInterval = 30;
  int nEFType = 1;
  int nRepeat = 0;
  int nRGB = 0;
  int WidthMode = 0;  // 0 normal, 5 double width, 6 half width
  int n360mode = 0;
  int n360swap = 0;
  int LaunchMode = 0;

  // Pictures on display and just read; whoever stores one here hands it over.
  Picture CurrentLeft;
  Picture CurrentRight;
  Picture LeftPicture;
  Picture RightPicture;

  // Mode flags.
  bool ListMode = false;
  bool SlideShowOn = false;
  bool EyeFiOn = false;
  bool MovieOpen = false;
  bool FullScreen = false;
  bool View360 = false;

  // Display flags.
  int ZoomPercent = 0;  // 0 = fit
  bool FitToWindow = true;
  int ActualSizeToggle = 0;  // 1 wrap-around panorama, 2+ back-and-forth
  bool SwapLR = false;
  bool HelpOverlayOn = false;
  bool CommentOn = true;
  bool SmoothingOn = false;
  // 1: pairs and stereo stills are lined up (rotation, height, size) as
  // they are read; stored as "AutoAlign".
  int AutoAlign = 0;
  // 1: an item without the camera's parallax is shifted sideways so that
  // its nearest content sits at the screen plane; stored as
  // "AutoConverge".
  int AutoConverge = 0;
  int FloatOffset = 0;
  int CommentSize = 5;  // comment band height, percent of the picture height
  // Set by every change of geometry: the next drawing blacks out the margins.
  bool BackgroundDirty = true;

  // Transition between two still items.  Running is set while one step is
  // built and shown (the renderers then skip smoothing); Pending from the
  // start until the new pair is installed (the slideshow holds meanwhile).
  // Variant (0..4, the random effect's pick, 100 before the first pick) and
  // the two random numbers are drawn once per transition, so every step of
  // it is reproducible from them.
  bool TransitionRunning = false;
  bool TransitionPending = false;
  int TransitionProgress = 0;  // 0..100
  int TransitionVariant = 100;
  int TransitionRandomA = 0;   // 0..32767
  int TransitionRandomB = 0;
  uint32_t TransitionStartTick = 0;  // milliseconds

  // Slideshow lists: what ReadListSettings sets besides the display flags.
  int ItemCount = 0;           // number of items of the list (or folder)
  bool ListRepeat = true;      // the show starts again after its last entry
  bool MovieBgmStop = false;   // the music pauses while a movie item plays
  std::string BgmPath;         // the list's background music; empty for none
  int nScreen = 0;             // carried values: nothing depends on them
  int nDispW = 0;
  int nDispH = 0;

  // Pair loading and folder browsing (stereo/pair_loader, image/file_names).
  // The left list's count and position are ItemCount and ItemIndex, shared
  // with list playing; names are kept whole, however long.
  std::vector<std::string> LeftFolderList;
  int ItemIndex = 0;
  std::vector<std::string> RightFolderList;
  int RightCount = 0;
  int RightIndex = 0;
  std::string LeftFolder;      // folders of the listed files, with separator
  std::string RightFolder;
  int SourceKind = 1;          // 1 one stereo file, 2 a left/right pair
  std::string ShownLeftPath;   // the file(s) now shown; right empty for one
  std::string ShownRightPath;
  int ShownKind = 0;           // 2 still pictures shown, 1 a movie

  std::string FontFace = "MS UI Gothic";

  // Start-up and the settings store (shell/startup, shell/settings_store).
  int nDispX = 0;              // carried values, like nScreen
  int nDispY = 0;
  std::string OpenFolder;      // initial folder of the open dialogs
  std::array<bool, 9> MonitorSelected{};  // monitors chosen for full screen
  std::string OpenPath;        // first argument, dialog or drop result
  std::string LeftPath;        // the pair to show next
  std::string RightPath;
  bool FromHistory = false;    // the next open came from the history menu
  int MovieState = 3;          // 3 no movie; 0 stopped, 1 paused, 2 running

  // Movie timing, set by playback and read by the control panel's slider.
  int FrameStepMs = 1;         // milliseconds per frame
  int MovieDurationMs = 0;
  int FrameDuration = 0;       // 100-nanosecond units per frame
  int MovieSeekMs = 0;         // seek target and last polled position

  // The control panel (shell/control_panel).  Its slider works in
  // milliseconds; the scroll bar shows them divided by FrameStepMs x
  // PanelMultiplier, since a long movie would not fit a 16-bit range.
  bool ControlPanelVisible = false;
  int PanelMinimum = 0;
  int PanelMaximum = 100;
  int PanelPosition = 0;
  int PanelMultiplier = 1;
  std::string FrameCopyMessage;  // the last frame copy, shown in the status

  // Full screen (shell/monitors, shell/full_screen).  The first MonitorCount
  // entries of MonitorTable are the known monitors, in the platform's order.
  std::array<DesktopRect, 9> MonitorTable{};
  int MonitorCount = 0;
  DesktopRect FullScreenRect;     // what the window covers in full screen
  DesktopRect WindowMonitorRect;  // the window's monitor when it began
  DesktopRect SavedWindowRect;    // the window's place before full screen

  // Item display and navigation (shell/navigation).
  int FilterIndex = 1;         // filter the open dialogs last left selected
  bool MpoSource = false;      // the file opened last was read as an MPO
  bool BgmPlaying = false;     // the list's music is open (maybe paused)
  std::string ItemPath;        // the one-file item on display
};

extern ViewerState Viewer;

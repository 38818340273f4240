// The control panel: a modeless window beside the main window with the movie
// position slider, transport buttons, shortcuts to the main commands, frame
// copy to the clipboard and a status line.  It lives as long as the main
// window and is hidden, never destroyed, when closed.
#pragma once

#include <QDialog>
#include <QTimer>
#include <string>
#include <string_view>

class MainWindow;
class QLabel;
class QPushButton;
class QScrollBar;

// Commands the panel takes besides its buttons.
constexpr int CMD_PANEL_SYNC = 3015;        // slider from MovieSeekMs
constexpr int CMD_PANEL_RANGE = 3016;       // range from the movie's length
constexpr int CMD_PANEL_FRAME_COPY = 3017;  // display frame to the clipboard
constexpr int CMD_PANEL_MUTE = 3010;        // sound off / on
// Command 4010 (CMD_FULL_SCREEN_CHOSEN) tells the panel a still is shown.

// Its controls, by id (also their object names).
constexpr int IDC_PANEL_FIRST = 3011;
constexpr int IDC_PANEL_LAST = 3012;
constexpr int IDC_PANEL_SLIDER = 3013;
constexpr int IDC_PANEL_PAUSE = 3014;
constexpr int IDC_PANEL_FULL_SCREEN = 1209;
constexpr int IDC_PANEL_NEXT = 1210;
constexpr int IDC_PANEL_PREVIOUS = 1211;
constexpr int IDC_PANEL_STATUS = 1212;
constexpr int IDC_PANEL_CLOSE = 1510;
constexpr int IDC_PANEL_SWAP = 1520;
constexpr int IDC_PANEL_WIDTH = 4061;
constexpr int IDC_PANEL_HELP = 1104;

// ---- Slider arithmetic over Viewer (no window needed) ----------------------

// The state a new panel starts from.
void ResetPanelState();
// After a movie opened: the range 0..MovieDurationMs - 1, the multiplier
// that keeps it within 16 bits, the position clamped into it.
void SetPanelRange();
// A position in milliseconds as a scroll-bar value.
int PanelSliderValue(int milliseconds);

enum PanelScrollCode {
  PanelLineLeft,
  PanelLineRight,
  PanelPageLeft,
  PanelPageRight,
  PanelLeftEnd,
  PanelRightEnd,
  PanelThumb,  // position and tracking: `thumb` is the scroll-bar value
};
// Moves PanelPosition as the scroll code says, within the range, and copies
// it to MovieSeekMs; returns it.
int PanelScroll(PanelScrollCode code, int thumb = 0);

// The 1-based frame at MovieSeekMs, and the last frame of the movie.
int CurrentFrameNumber();
int LastFrameNumber();
// "%d/%d - %dfps", the playback rate when it is not 1, and the last
// frame-copy message.
std::string PanelStatusText(double rate = 1.0);
// "再生速度 2倍" for a rate other than 1 (at most two decimals, no trailing
// zeros); empty for 1.
std::string RateText(double rate);
// The clipboard text of a copied frame: the file name without folder and
// extension, "_", the frame number, ".jpg".
std::string FrameCopyName(std::string_view moviePath, int frame);

class ControlPanel : public QDialog {
 public:
  explicit ControlPanel(MainWindow& owner);

  // The panel's commands: its buttons' ids, CMD_PANEL_SYNC, CMD_PANEL_RANGE,
  // CMD_PANEL_FRAME_COPY and 4010.
  void HandleCommand(int id);
  // The 100 ms timer's work; acts only while a movie is open.
  void Tick();
  QTimer& Timer() { return timer_; }
  // The close button, the window's close box and Esc: hide and say so.
  void CloseRequest();
  // Stops the timer for good; the main window is going away.
  void Shutdown();
  QString StatusText() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildControls();
  QPushButton* AddButton(int id, const char* text);
  void ApplyRange();
  void SyncSlider();
  void Scrolled(int action);
  void CopyFrame();
  void SetStatus(std::string_view text);
  void FocusMain();

  MainWindow& main_;
  QScrollBar* slider_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* pause_ = nullptr;
  QTimer timer_;
};

// The main window: the menu bar and accelerators built from the command
// table, the one dispatcher every numbered command goes through, the canvas
// that shows the presentation framebuffer 1:1, and drops, wheel and mouse.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "shell/file_history.h"
#include "shell/later_features.h"
#include "shell/startup.h"
#include "stereo/pair_loader.h"
#include "shell/item_prefetch.h"
#include "platform/background_music.h"
#include "stereo/present.h"

// UTF-8 text, as every text of the shell is kept, for Qt.
inline QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class ControlPanel;
class QAction;
class QDialog;
class QFileDialog;
class QMenu;
class MainWindow;

// What an open-file dialog may have besides the common ones.
struct OpenFileExtras {
  bool multipleSelection = false;
  // A panel of options added below the dialog's own controls.
  std::function<QWidget*(QWidget* parent)> panel;
};

// What the window asks of the user.  The default shows Qt dialogs; tests
// replace it with scripted answers so that nothing modal blocks them.
struct UserDialogs {
  virtual ~UserDialogs() = default;
  virtual void Message(QWidget* owner, std::string_view text,
                       std::string_view caption, bool warning);
  virtual bool AskYesNo(QWidget* owner, std::string_view text,
                        std::string_view caption, YesNoPrompt::Icon icon);
  // An open-file dialog.  `filters` are description/pattern pairs;
  // `filterIndex` is 1-based, in and out.  Empty when cancelled; the first
  // file chosen when several may be.
  virtual std::string OpenFile(QWidget* owner, std::string_view title,
                               std::span<const char* const> filters,
                               const std::string& preset,
                               const std::string& folder, int& filterIndex,
                               const OpenFileExtras& extras = {});
  // Runs a modal dialog built by the window and returns its result.
  virtual int RunModal(QDialog& dialog);
};

// A command handler; `id` is the command that chose it.
using CommandHandler = void (*)(MainWindow&, int id);
struct CommandHandlerRow {
  int first;  // ids first..last run the handler
  int last;
  CommandHandler handler;
};
// The handler tables of the view commands and the open commands.
std::span<const CommandHandlerRow> ViewCommandHandlers();
std::span<const CommandHandlerRow> OpenCommandHandlers();
std::span<const CommandHandlerRow> FullScreenCommandHandlers();
std::span<const CommandHandlerRow> DialogCommandHandlers();
std::span<const CommandHandlerRow> NavigationCommandHandlers();
std::span<const CommandHandlerRow> LaterFeatureCommandHandlers();


// Enter and Alt+Enter after digit keys: shows the item with the typed
// 1-based number (the first when it is out of range); false when no digit
// was typed, and the key then toggles full screen.
bool GoToTypedNumber(MainWindow& window);
// Full screen on the window's monitor (CMD_FULL_SCREEN_HERE) or on the
// chosen monitors (CMD_FULL_SCREEN_CHOSEN); the same command leaves it.
void ToggleFullScreen(MainWindow& window, int id);

// Ctrl with a keypad key: the movie rate commands (Ctrl+keypad 1..9 set
// the rate, + and - change it), with NumLock on or off; 0 for other keys.
// `key` is the Qt key the keypad key arrives as.
int CtrlKeypadCommand(int key);

// Where the control panel first opens, for a main window at `window` (its
// frame) on a screen whose free area is `screen`: below it, beside it, or
// in the corner, never over the middle of the picture.
QPoint ControlPanelPlace(const QRect& window, const QSize& panel,
                         const QRect& screen);

// Qt's file dialog with its detail columns as wide as their texts.
void FitFileDialogColumns(QFileDialog& dialog);

// Drop handling: the first file (and the second, for a pair) decides what
// is shown; later files are ignored.
void HandleDroppedFiles(MainWindow& window,
                        const std::vector<std::string>& paths);

class MainWindow : public QMainWindow,
                   public PresentationHost,
                   public TitleSink,
                   private YesNoPrompt {
 public:
  explicit MainWindow(UserDialogs* dialogs = nullptr);
  ~MainWindow() override;

  // "Send": runs command `id` now.  "Post": runs it once control returns to
  // the event loop, after whatever is being handled.
  void DispatchCommand(int id);
  void PostCommand(int id);

  // Redraws the item on display in the current format.
  void Repaint();
  // TitleText on the window (and, once it exists, the control panel).
  void ResetTitles();
  void SetTitleText(std::string_view text);
  const std::string& TitleText() const { return titleText_; }
  // TitleText with `note` after it for kTitleNoteMs, then TitleText alone
  // (unless something else has taken the title meanwhile).  The note is
  // written on the canvas for as long: in full screen the title is hidden.
  static constexpr int kTitleNoteMs = 4000;
  void ShowTitleNote(std::string_view note);
  bool TitleNoteShowing() const;
  QTimer& TitleNoteTimer() { return titleNoteTimer_; }
  // `note` on the canvas alone, for kTitleNoteMs.
  void ShowCanvasNote(std::string_view note);
  QTimer& CanvasNoteTimer() { return canvasNoteTimer_; }
  // Says plainly in the title that a command's feature does not exist yet.
  void ReportNotBuilt(int id);

  void StopSlideshow();
  void StartSlideshowTimer();
  QTimer& SlideshowTimer() { return slideshowTimer_; }
  QTimer& TransitionTimer() { return transitionTimer_; }
  QTimer& EyeFiTimer() { return eyeFiTimer_; }

  // The slideshow list's music; tests install a fake (null restores the
  // real one).
  BackgroundMusic& Music() { return *music_; }
  void SetMusic(BackgroundMusic* music) {
    music_ = music ? music : ownMusic_.get();
  }
  // The millisecond clock transitions run by; tests drive their own.
  void SetClock(std::function<uint32_t()> clock) { clock_ = std::move(clock); }

  // Check marks and history items as they are set when a menu opens.
  void UpdateCheckMarks();
  void RebuildHistoryItems();
  QAction* MenuAction(int id) const;
  QMenu* Menu(int index) const;

  UserDialogs& Dialogs() { return *dialogs_; }
  // The control panel, created hidden with the window.
  ControlPanel& Panel() { return *panel_; }
  void ShowControlPanel();

  // The features outside the shell; stand-ins until they exist.  Tests and
  // the features themselves install theirs with the setters.
  MoviePlayer& Movie() { return *movie_; }
  PanoramaViewer& Panorama() { return *panorama_; }
  StereoOutput& Output() { return *output_; }
  CommentEditor& Comments() { return *comments_; }
  ListMaker& Lists() { return *lists_; }
  void SetMovie(MoviePlayer* movie) { movie_ = movie ? movie : &notBuilt_; }
  void SetPanorama(PanoramaViewer* viewer) {
    panorama_ = viewer ? viewer : &notBuilt_;
  }
  void SetOutput(StereoOutput* output) {
    output_ = output ? output : &notBuilt_;
  }
  void SetComments(CommentEditor* editor) {
    comments_ = editor ? editor : &notBuilt_;
  }
  void SetLists(ListMaker* maker) { lists_ = maker ? maker : &notBuilt_; }
  YesNoPrompt& Prompt() { return *this; }
  // Reads the next item ahead; its thread ends with the window.
  ItemPrefetcher& Prefetch() { return prefetcher_; }
  ScreenSize Screen() const;
  std::string HelpFilePath;

  // Typed digits for going to an item by number; -1 when none.
  int DigitLast = -1;
  int DigitPrev = -1;
  // Something has been shown since start-up.
  bool ContentShown = false;
  // The next file or pair shown may be drawn from a first look while its
  // exact picture is read (the first item of a start-up: app_main sets it).
  // Taken by that show whether or not a first look could be had.
  bool FirstLookAllowed = false;
  // Runs `work` once the canvas has next been painted, or after `latestMs`
  // when no paint comes (a window that is not on screen).  A later call
  // replaces work not yet run.
  void AfterNextPaint(std::function<void()> work, int latestMs);
  // The canvas says it has painted a frame.
  void CanvasPainted();
  QTimer& FirstLookTimer() { return firstLookTimer_; }

  // PresentationHost and TitleSink.
  void NotifyStillShown() override;
  void Flush(const Framebuffer&) override;
  void SetTitle(std::string_view text) override;
  uint32_t NowMs() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool AskYesNo(std::string_view text, std::string_view caption,
                Icon icon) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void BuildMenus();
  void BuildAccelerators();

  UserDialogs defaultDialogs_;
  UserDialogs* dialogs_;
  NotBuiltFeatures notBuilt_{[this](std::string_view text) { SetTitle(text); }};
  MoviePlayer* movie_ = &notBuilt_;
  PanoramaViewer* panorama_ = &notBuilt_;
  StereoOutput* output_ = &notBuilt_;
  CommentEditor* comments_ = &notBuilt_;
  ListMaker* lists_ = &notBuilt_;
  QWidget* canvas_ = nullptr;
  ControlPanel* panel_ = nullptr;
  std::map<int, QAction*> menuActions_;
  std::vector<QMenu*> menus_;
  std::vector<QAction*> historyActions_;
  QTimer slideshowTimer_;
  QTimer transitionTimer_;
  QTimer eyeFiTimer_;
  QTimer titleNoteTimer_;
  QTimer canvasNoteTimer_;
  std::string noteTitle_;  // the title while the note shows
  QTimer firstLookTimer_;
  QTimer afterPaintTimer_;
  std::function<void()> afterPaint_;
  std::unique_ptr<BackgroundMusic> ownMusic_ = CreateStreamerMusic();
  BackgroundMusic* music_ = ownMusic_.get();
  std::function<uint32_t()> clock_;
  std::string titleText_;
  bool shutDown_ = false;
  bool panelPlaced_ = false;
  ItemPrefetcher prefetcher_;
};

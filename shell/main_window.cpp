#include "shell/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QImage>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cstdint>

#include "shell/command_table.h"
#include "shell/control_panel.h"
#include "shell/navigation.h"
#include "shell/navigation_steps.h"
#include "shell/output_slices.h"
#include "shell/settings_store.h"
#include "core/viewer_state.h"
#include "stereo/text_overlay.h"
#include "stereo/stereo_format.h"

namespace {

// The client area: shows the presentation framebuffer one framebuffer pixel
// to one device pixel, since interlaced and sub-pixel formats are only right
// that way; takes the wheel and the mouse buttons.
class Canvas : public QWidget {
 public:
  explicit Canvas(MainWindow& window) : QWidget(&window), window_(window) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setMinimumSize(1, 1);
    // Black behind the pictures; only here, since the menu bar takes its
    // colours from the window's palette and would draw black on black.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    // The image below borrows the framebuffer's pixels: a frame presented
    // or a resize on another thread waits until they are drawn.
    PresentationLock lock(Presentation.lock);
    const Framebuffer& fb = Presentation.frame;
    if (fb.width <= 0 || fb.height <= 0 || fb.pixels.empty()) {
      painter.fillRect(rect(), Qt::black);
      return;
    }
    QImage image(reinterpret_cast<const uchar*>(fb.pixels.data()), fb.width,
                 fb.height, fb.width * 4, QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatioF());
    // Spread over several outputs, this canvas shows its own output's part
    // and the other outputs' windows theirs, of the same frame.
    const CanvasSpan& span = CurrentCanvasSpan();
    QPoint origin = span.active ? span.origin : QPoint();
    if (span.active) painter.fillRect(rect(), Qt::black);
    painter.drawImage(QPointF(-origin.x(), -origin.y()), image);
    UpdateOutputSlices();
    window_.CanvasPainted();
  }

  void resizeEvent(QResizeEvent*) override {
    qreal ratio = devicePixelRatioF();
    const CanvasSpan& span = CurrentCanvasSpan();
    QSize client = span.active ? span.size : size();
    SetClientSize(static_cast<int>(client.width() * ratio),
                  static_cast<int>(client.height() * ratio));
    window_.Repaint();
  }

  void wheelEvent(QWheelEvent* event) override {
    // One step per message, whatever the amount turned.
    int delta = event->angleDelta().y();
    if (delta > 0) window_.DispatchCommand(CMD_ZOOM_IN);
    if (delta < 0) window_.DispatchCommand(CMD_ZOOM_OUT);
    event->accept();
  }

  void mousePressEvent(QMouseEvent* event) override {
    // Left and right clicks pause and restart a movie.  Qt delivers a
    // double click's second press as a press too; that one only toggles
    // full screen, or the pause would flip twice.
    // Told by the events' own times, as Qt tells double clicks.
    bool secondPress =
        event->button() == Qt::LeftButton && leftPressed_ &&
        event->timestamp() - lastLeftPress_ <
            static_cast<quint64>(QApplication::doubleClickInterval());
    if (event->button() == Qt::LeftButton) {
      leftPressed_ = !secondPress;
      lastLeftPress_ = event->timestamp();
    }
    if (secondPress) return;
    if (event->button() == Qt::LeftButton && Viewer.MovieOpen)
      window_.DispatchCommand(CMD_MOVIE_PAUSE);
    if (event->button() == Qt::RightButton && Viewer.MovieOpen)
      window_.DispatchCommand(CMD_MOVIE_RESTART);
  }

  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton)
      window_.DispatchCommand(CMD_FULL_SCREEN_CHOSEN);
  }

 private:
  MainWindow& window_;
  bool leftPressed_ = false;  // a left press that may begin a double click
  quint64 lastLeftPress_ = 0;
};

const CommandHandlerRow* FindHandler(int id) {
  for (auto table : {ViewCommandHandlers(), OpenCommandHandlers(),
                     FullScreenCommandHandlers(), DialogCommandHandlers(),
                     NavigationCommandHandlers(),
                     LaterFeatureCommandHandlers()})
    for (const CommandHandlerRow& row : table)
      if (id >= row.first && id <= row.last) return &row;
  return nullptr;
}

}  // namespace

int CtrlKeypadCommand(int key) {
  // With NumLock off the digit keys arrive as the navigation keys printed
  // under the digits.
  struct Row {
    int numLockOn;
    int numLockOff;
  };
  static constexpr Row kDigits[] = {
      {Qt::Key_1, Qt::Key_End},  {Qt::Key_2, Qt::Key_Down},
      {Qt::Key_3, Qt::Key_PageDown}, {Qt::Key_4, Qt::Key_Left},
      {Qt::Key_5, Qt::Key_Clear}, {Qt::Key_6, Qt::Key_Right},
      {Qt::Key_7, Qt::Key_Home}, {Qt::Key_8, Qt::Key_Up},
      {Qt::Key_9, Qt::Key_PageUp}};
  if (key == Qt::Key_Plus) return CMD_RATE_UP;
  if (key == Qt::Key_Minus) return CMD_RATE_DOWN;
  for (int digit = 1; digit <= 9; ++digit) {
    const Row& row = kDigits[digit - 1];
    if (key == row.numLockOn || key == row.numLockOff)
      return CMD_RATE_FIRST + digit - 1;
  }
  return 0;
}

void UserDialogs::Message(QWidget* owner, std::string_view text,
                          std::string_view caption, bool warning) {
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information,
                  ToQString(caption), ToQString(text), QMessageBox::Ok, owner);
  box.exec();
}

bool UserDialogs::AskYesNo(QWidget* owner, std::string_view text,
                           std::string_view caption, YesNoPrompt::Icon icon) {
  QMessageBox box(icon == YesNoPrompt::kWarning ? QMessageBox::Warning
                                                : QMessageBox::Question,
                  ToQString(caption), ToQString(text), QMessageBox::Yes | QMessageBox::No,
                  owner);
  return box.exec() == QMessageBox::Yes;
}

MainWindow::MainWindow(UserDialogs* dialogs)
    : dialogs_(dialogs ? dialogs : &defaultDialogs_) {
  setWindowTitle("DUORAMIC");
  setObjectName("DUORAMIC");
  // Letters must reach the accelerators, never an input method.
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setAcceptDrops(true);
  canvas_ = new Canvas(*this);
  setCentralWidget(canvas_);
  BuildMenus();
  BuildAccelerators();
  panel_ = new ControlPanel(*this);  // hidden until asked for
  connect(&slideshowTimer_, &QTimer::timeout, this,
          [this] { SlideshowTick(*this); });
  connect(&transitionTimer_, &QTimer::timeout, this,
          [this] { TransitionTick(*this); });
  connect(&eyeFiTimer_, &QTimer::timeout, this, [this] { EyeFiTick(*this); });
  titleNoteTimer_.setSingleShot(true);
  connect(&titleNoteTimer_, &QTimer::timeout, this, [this] {
    if (windowTitle() == ToQString(noteTitle_)) ResetTitles();
  });
  canvasNoteTimer_.setSingleShot(true);
  connect(&canvasNoteTimer_, &QTimer::timeout, this, [this] {
    SetCanvasNote({});
    // A running transition draws its next step without the note anyway.
    if (!Viewer.TransitionRunning) Repaint();
  });
  connect(&firstLookTimer_, &QTimer::timeout, this,
          [this] { FirstLookTick(*this); });
  afterPaintTimer_.setSingleShot(true);
  connect(&afterPaintTimer_, &QTimer::timeout, this, [this] {
    if (auto work = std::exchange(afterPaint_, nullptr)) work();
  });
  SetPresentationHost(this);
  SetTitleSink(this);
  // Ctrl with a keypad key is taken before Qt's shortcuts see it: on X11
  // and Wayland the shortcut map drops the keypad flag, so "Ctrl+Num+2"
  // never matched, and with NumLock off the key would be Ctrl+Down.  Key
  // events not taken by a child climb to its window, where these see them.
  installEventFilter(this);
  panel_->installEventFilter(this);
  resize(800, 600);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ShortcutOverride &&
      event->type() != QEvent::KeyPress)
    return false;
  if (watched != this && watched != panel_) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  auto mods = key->modifiers();
  if (!(mods & Qt::KeypadModifier) || !(mods & Qt::ControlModifier) ||
      (mods & (Qt::AltModifier | Qt::MetaModifier)))
    return false;
  int id = CtrlKeypadCommand(key->key());
  if (id == 0) return false;
  // Claiming the override keeps the shortcut map out; the key press that
  // follows runs the command, once (auto-repeat included, like any key).
  event->accept();
  if (event->type() == QEvent::KeyPress) DispatchCommand(id);
  return true;
}

MainWindow::~MainWindow() {
  panel_->removeEventFilter(this);
  slideshowTimer_.stop();
  transitionTimer_.stop();
  eyeFiTimer_.stop();
  titleNoteTimer_.stop();
  canvasNoteTimer_.stop();
  SetCanvasNote({});
  // A first look still waiting belongs to this window alone.
  ForgetFirstLook(*this);
  delete panel_;  // before the window it refers to goes
  panel_ = nullptr;
  if (&Host() == this) SetPresentationHost(nullptr);
  SetTitleSink(nullptr);
}

void MainWindow::BuildMenus() {
  for (const MenuRow& menuRow : MainMenus()) {
    QMenu* menu = menuBar()->addMenu(ToQString(menuRow.title));
    menus_.push_back(menu);
    for (const MenuItemRow& item : menuRow.items) {
      if (item.id == 0) {
        menu->addSeparator();
        continue;
      }
      // The hint after a tab is shown as the item's shortcut text; the keys
      // themselves live in the accelerator actions, so that one key never
      // belongs to two actions (Qt would then fire neither).
      QString text = ToQString(item.text);
      if (*item.hint) text += '\t' + ToQString(item.hint);
      QAction* action = menu->addAction(text);
      action->setObjectName(QString::number(item.id));
      action->setCheckable(IsCheckedItem(item.id));
      int id = item.id;
      connect(action, &QAction::triggered, this,
              [this, id] { DispatchCommand(id); });
      menuActions_[id] = action;
    }
    connect(menu, &QMenu::aboutToShow, this, [this] {
      UpdateCheckMarks();
      RebuildHistoryItems();
    });
  }
}

void MainWindow::BuildAccelerators() {
  // Added to the window itself: they keep working while full screen hides
  // the menu bar.
  for (const AcceleratorRow& row : Accelerators()) {
    auto* action = new QAction(this);
    action->setObjectName(QString("key:") + row.key);
    action->setShortcut(QKeySequence(QString::fromLatin1(row.key),
                                     QKeySequence::PortableText));
    action->setShortcutContext(Qt::WindowShortcut);
    int id = row.id;
    connect(action, &QAction::triggered, this,
            [this, id] { DispatchCommand(id); });
    addAction(action);
  }
}

void MainWindow::DispatchCommand(int id) {
  if (shutDown_) return;
  // Every command works on the exact picture, never on a first look.
  if (FirstLookOnDisplay()) FinishFirstLook(*this);
  if (const CommandHandlerRow* row = FindHandler(id))
    row->handler(*this, id);
  else
    ReportNotBuilt(id);
}

void MainWindow::AfterNextPaint(std::function<void()> work, int latestMs) {
  afterPaint_ = std::move(work);
  afterPaintTimer_.start(latestMs);
}

void MainWindow::CanvasPainted() {
  if (!afterPaint_) return;
  // Run once the paint has reached the screen, not inside it.
  afterPaintTimer_.start(0);
}

void MainWindow::PostCommand(int id) {
  QMetaObject::invokeMethod(
      this, [this, id] { DispatchCommand(id); }, Qt::QueuedConnection);
}

void MainWindow::Repaint() {
  if (Viewer.MovieOpen) {
    if (Viewer.MovieState == 0 || Viewer.MovieState == 1) PresentMovieFrame();
  } else {
    PresentStereoPair(Viewer.CurrentLeft, Viewer.CurrentRight);
  }
  canvas_->update();
}

void MainWindow::ResetTitles() {
  titleNoteTimer_.stop();
  // A note belongs to what was on display when it was made: it goes with
  // the title's, once back in the event loop (a note shown meanwhile
  // restarts the timer and stays).
  if (!CanvasNote().empty()) canvasNoteTimer_.start(0);
  SetTitle(titleText_);
}

void MainWindow::ShowTitleNote(std::string_view note) {
  // An item title ends in spaces when it has no suffix: one gap, not two.
  std::string_view title = titleText_;
  while (!title.empty() && title.back() == ' ') title.remove_suffix(1);
  noteTitle_ = std::string(title) + "  " + std::string(note);
  SetTitle(noteTitle_);
  titleNoteTimer_.start(kTitleNoteMs);
  ShowCanvasNote(note);
}

void MainWindow::ShowCanvasNote(std::string_view note) {
  SetCanvasNote(std::string(note));
  canvasNoteTimer_.start(kTitleNoteMs);
  if (!Viewer.TransitionRunning) Repaint();
}

bool MainWindow::TitleNoteShowing() const {
  return titleNoteTimer_.isActive() && windowTitle() == ToQString(noteTitle_);
}

void MainWindow::SetTitleText(std::string_view text) {
  titleText_ = std::string(text);
  ResetTitles();
}

void MainWindow::ReportNotBuilt(int id) {
  const char* text = MenuTextOf(id);
  std::string what = text ? std::string(text) + " (" + std::to_string(id) + ")"
                          : "command " + std::to_string(id);
  SetTitle(what + ": not built yet");
}

void MainWindow::SetTitle(std::string_view text) {
  setWindowTitle(ToQString(text));
  if (panel_) panel_->setWindowTitle(ToQString(text));
}

QPoint ControlPanelPlace(const QRect& window, const QSize& panel,
                         const QRect& screen) {
  // Below the window where the screen has room, else beside it on the
  // right, else on the left; failing all, along the screen's edge where it
  // covers least of the window, never over the picture's middle.
  int x = std::clamp(window.left(), screen.left(),
                     std::max(screen.left(), screen.right() + 1 - panel.width()));
  int y = std::clamp(window.top(), screen.top(),
                     std::max(screen.top(), screen.bottom() + 1 - panel.height()));
  if (window.bottom() + 1 + panel.height() <= screen.bottom() + 1)
    return {x, window.bottom() + 1};
  if (window.right() + 1 + panel.width() <= screen.right() + 1)
    return {window.right() + 1, y};
  if (window.left() - panel.width() >= screen.left())
    return {window.left() - panel.width(), y};
  // No room clear of the window: the screen's corner or edge where the
  // panel covers least of it.
  int right = std::max(screen.left(), screen.right() + 1 - panel.width());
  int bottom = std::max(screen.top(), screen.bottom() + 1 - panel.height());
  const QPoint candidates[] = {{right, bottom}, {screen.left(), bottom},
                               {x, bottom},     {right, screen.top()},
                               {screen.left(), screen.top()}, {x, screen.top()}};
  QPoint best = candidates[0];
  long long least = -1;
  for (const QPoint& at : candidates) {
    QRect covered = QRect(at, panel).intersected(window);
    long long area = covered.isEmpty()
                         ? 0
                         : (long long)covered.width() * covered.height();
    if (least < 0 || area < least) {
      least = area;
      best = at;
    }
  }
  return best;
}

void MainWindow::ShowControlPanel() {
  if (!panelPlaced_) {
    // The first time only: where the user moves it afterwards, it stays.
    QScreen* screen = this->screen() ? this->screen()
                                     : QGuiApplication::primaryScreen();
    if (screen) {
      panel_->adjustSize();
      QRect free = screen->availableGeometry();
      panel_->move(ControlPanelPlace(frameGeometry(), panel_->frameSize(), free));
      panelPlaced_ = true;
      panel_->show();
      // The window manager adds the panel's title bar only once it is
      // shown; placed again with it, the panel is not pushed off the screen.
      QPointer<ControlPanel> panel = panel_;
      QTimer::singleShot(300, this, [this, panel, free] {
        if (panel && panel->isVisible())
          panel->move(ControlPanelPlace(frameGeometry(),
                                        panel->frameGeometry().size(), free));
      });
    }
  }
  panel_->show();
  Viewer.ControlPanelVisible = true;
}

void MainWindow::NotifyStillShown() {
  if (panel_) panel_->HandleCommand(CMD_FULL_SCREEN_CHOSEN);
}

uint32_t MainWindow::NowMs() {
  return clock_ ? clock_() : PresentationHost::NowMs();
}

void MainWindow::Flush(const Framebuffer&) {
  // Presentation may run on another thread; update() only queues a paint.
  // Called by name, the queued call is made and run by Qt alone: a functor
  // of ours would cross threads with only Qt's own locking between them.
  QMetaObject::invokeMethod(canvas_, "update", Qt::QueuedConnection);
}

bool MainWindow::AskYesNo(std::string_view text, std::string_view caption,
                          Icon icon) {
  return dialogs_->AskYesNo(this, text, caption, icon);
}

ScreenSize MainWindow::Screen() const {
  QScreen* screen = this->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return {1920, 1080};
  QSize size = screen->size() * screen->devicePixelRatio();
  return {size.width(), size.height()};
}

void MainWindow::StopSlideshow() {
  bool wasOn = Viewer.SlideShowOn;
  Viewer.SlideShowOn = false;
  slideshowTimer_.stop();
  if (wasOn) RefreshSlideshowNote(*this);
}

void MainWindow::StartSlideshowTimer() {
  // An interval of 0 asks for the shortest period; a 0 ms QTimer would fire
  // on every pass of the event loop instead.
  int64_t period = int64_t{Viewer.nInterval} * 100;
  slideshowTimer_.start(static_cast<int>(std::clamp<int64_t>(period, 1, INT_MAX)));
}

QAction* MainWindow::MenuAction(int id) const {
  auto it = menuActions_.find(id);
  if (it != menuActions_.end()) return it->second;
  for (QAction* action : historyActions_)
    if (action->objectName().toInt() == id) return action;
  return nullptr;
}

QMenu* MainWindow::Menu(int index) const {
  return index >= 0 && index < static_cast<int>(menus_.size()) ? menus_[index]
                                                               : nullptr;
}

void MainWindow::UpdateCheckMarks() {
  for (auto& [id, action] : menuActions_)
    if (id >= CMD_FORMAT_FIRST && id <= CMD_FORMAT_LAST)
      action->setChecked(id == Viewer.StereoType + CMD_FORMAT_FIRST);
  auto mark = [this](int id, bool on) {
    if (QAction* action = MenuAction(id)) action->setChecked(on);
  };
  mark(CMD_SWAP, Viewer.SwapLR);
  mark(CMD_SLIDESHOW, Viewer.SlideShowOn);
  mark(CMD_COMMENT, Viewer.CommentOn);
  mark(CMD_FIT, Viewer.FitToWindow);
  mark(CMD_CONTROL_PANEL, Viewer.ControlPanelVisible);
  mark(CMD_DOUBLE_WIDTH, Viewer.WidthMode == 5);
  mark(CMD_HALF_WIDTH, Viewer.WidthMode == 6);
  mark(CMD_SMOOTHING, Viewer.SmoothingOn);
  mark(CMD_AUTO_ALIGN, Viewer.AutoAlign != 0);
  mark(CMD_AUTO_CONVERGE, Viewer.AutoConverge != 0);
}

void MainWindow::RebuildHistoryItems() {
  HistoryMenuModel model = RebuildHistoryMenu();
  QAction* clear = MenuAction(CMD_CLEAR_HISTORY);
  if (!clear) return;
  clear->setEnabled(model.clearEnabled);
  QMenu* file = Menu(0);
  for (QAction* action : historyActions_) {
    file->removeAction(action);
    action->deleteLater();
  }
  historyActions_.clear();
  for (const HistoryMenuItem& item : model.items) {
    auto* action = new QAction(ToQString(item.text), file);
    action->setObjectName(QString::number(item.id));
    int id = item.id;
    connect(action, &QAction::triggered, this,
            [this, id] { DispatchCommand(id); });
    file->insertAction(clear, action);
    historyActions_.push_back(action);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!shutDown_) {
    shutDown_ = true;
    StopNavigation(*this);
    panel_->Shutdown();
    SaveExitSettings();
    for (Picture* p : {&Viewer.CurrentLeft, &Viewer.CurrentRight,
                       &Viewer.LeftPicture, &Viewer.RightPicture})
      FreePicture(*p);
  }
  event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  event->acceptProposedAction();
  HandleDroppedFiles(*this, paths);
  activateWindow();
  raise();
}

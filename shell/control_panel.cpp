#include "shell/control_panel.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/file_names.h"
#include "shell/command_table.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "core/viewer_state.h"
#include "stereo/present.h"

namespace {

constexpr const char* kStillShown = "静止画表示中";
constexpr const char* kStillNotCopied = "静止画はキャプチャできません";
constexpr int kPauseText = 2792;   // "停止"
constexpr int kResumeText = 2793;  // "再開"
constexpr int kTimerMs = 100;
// The movie threads deliver frames meanwhile; a frame not ready by then is
// skipped without a word.
constexpr int kFrameWaitMs = 500;
// Beyond this many steps a scroll bar's 16-bit range would overflow.
constexpr int kSliderSteps = 64001;

// Buttons that send a command to the main window.
struct ForwardRow {
  int button;
  int command;
};
constexpr ForwardRow kForwards[] = {
    {IDC_PANEL_FULL_SCREEN, CMD_FULL_SCREEN_CHOSEN},
    {IDC_PANEL_NEXT, CMD_NEXT},
    {IDC_PANEL_PREVIOUS, CMD_PREVIOUS},
    {IDC_PANEL_SWAP, CMD_SWAP},
    {IDC_PANEL_WIDTH, CMD_WIDTH_CYCLE},
    {IDC_PANEL_HELP, CMD_HELP_OVERLAY},
};

int StepMs() { return std::max(Viewer.FrameStepMs, 1); }

int ClampToInt(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

int64_t FrameDuration100ns() {
  // Playback that could not tell the frame time leaves 0: the slider's frame
  // step stands in rather than dividing by it.
  return Viewer.FrameDuration > 0 ? Viewer.FrameDuration
                                  : int64_t{StepMs()} * 10000;
}

// A 24-bit picture (bottom-up B, G, R rows) as an image for the clipboard.
QImage ImageOf(const Picture& picture) {
  int width = PictureWidth(picture.get());
  int height = PictureHeight(picture.get());
  QImage image(width, height, QImage::Format_BGR888);
  if (image.isNull()) return image;
  const uint8_t* pixels = PicturePixels(picture.get());
  int stride = RowStride(width, 24);
  for (int y = 0; y < height; ++y)
    std::memcpy(image.scanLine(y),
                pixels + static_cast<size_t>(height - 1 - y) * stride,
                static_cast<size_t>(width) * 3);
  return image;
}

// The movie's file name without folder and extension.
std::string MovieName(std::string_view path) {
  std::string name = FileNameOf(path);
  return name.substr(0, name.find_last_of('.'));
}

}  // namespace

// ---- Slider arithmetic ----------------------------------------------------

void ResetPanelState() {
  Viewer.FrameCopyMessage.clear();
  Viewer.FrameStepMs = 1;
  Viewer.PanelMultiplier = 1;
  Viewer.PanelMinimum = 0;
  Viewer.PanelMaximum = 100;
  Viewer.PanelPosition = 0;
}

void SetPanelRange() {
  Viewer.PanelMaximum = std::max(Viewer.MovieDurationMs - 1, 0);
  Viewer.PanelMinimum = 0;
  Viewer.FrameCopyMessage.clear();
  Viewer.PanelMultiplier =
      Viewer.PanelMaximum / StepMs() >= kSliderSteps ? 10 : 1;
  Viewer.PanelPosition = std::clamp(Viewer.PanelPosition, Viewer.PanelMinimum,
                                    Viewer.PanelMaximum);
}

int PanelSliderValue(int milliseconds) {
  return milliseconds / (StepMs() * std::max(Viewer.PanelMultiplier, 1));
}

int PanelScroll(PanelScrollCode code, int thumb) {
  int64_t position = Viewer.PanelPosition;
  int64_t page = (int64_t{Viewer.PanelMaximum} - Viewer.PanelMinimum) / 10;
  switch (code) {
    case PanelLineLeft:
      position -= StepMs();
      break;
    case PanelLineRight:
      position += StepMs();
      break;
    case PanelPageLeft:
      position -= page;
      break;
    case PanelPageRight:
      position += page;
      break;
    case PanelLeftEnd:
      position = Viewer.PanelMinimum;
      break;
    case PanelRightEnd:
      position = Viewer.PanelMaximum;
      break;
    case PanelThumb:
      position =
          int64_t{thumb} * std::max(Viewer.PanelMultiplier, 1) * StepMs();
      break;
  }
  // Page steps are held to the range too: a seek before the start or past
  // the end of the movie has nothing to show.
  Viewer.PanelPosition = static_cast<int>(
      std::clamp<int64_t>(position, Viewer.PanelMinimum, Viewer.PanelMaximum));
  Viewer.MovieSeekMs = Viewer.PanelPosition;
  return Viewer.PanelPosition;
}

int CurrentFrameNumber() {
  return ClampToInt(int64_t{Viewer.MovieSeekMs} * 10000 / FrameDuration100ns() +
                    1);
}

int LastFrameNumber() {
  return ClampToInt(
      int64_t{Viewer.MovieDurationMs} * 10000 / FrameDuration100ns() + 1);
}

std::string RateText(double rate) {
  if (!(std::fabs(rate - 1.0) > 1e-9)) return {};
  char number[32];
  std::snprintf(number, sizeof number, "%.2f", rate);
  std::string text = number;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return "再生速度 " + text + "倍";
}

std::string PanelStatusText(double rate) {
  char text[64];
  std::snprintf(text, sizeof text, "%d/%d - %dfps ", CurrentFrameNumber(),
                LastFrameNumber(), 1000 / StepMs());
  std::string rateText = RateText(rate);
  if (!rateText.empty()) rateText += ' ';
  return text + rateText + Viewer.FrameCopyMessage;
}

std::string FrameCopyName(std::string_view moviePath, int frame) {
  return MovieName(moviePath) + "_" + std::to_string(frame) + ".jpg";
}

// ---- The panel window -----------------------------------------------------

ControlPanel::ControlPanel(MainWindow& owner) : QDialog(&owner), main_(owner) {
  setObjectName("CONTROL");
  setWindowTitle("コントロールパネル");
  setModal(false);
  setAcceptDrops(true);
  setFont(QFont("MS UI Gothic", 9));
  BuildControls();
  resize(DialogUnits(font(), 363, 115));
  // The main window's keys work here too, so C closes the panel again and
  // the transport keys need no trip back to the main window.
  addActions(owner.actions());

  ResetPanelState();
  ApplyRange();
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  timer_.start(kTimerMs);
}

QPushButton* ControlPanel::AddButton(int id, const char* text) {
  auto* button = new QPushButton(ToQString(text), this);
  button->setObjectName(QString::number(id));
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this,
          [this, id] { HandleCommand(id); });
  return button;
}

void ControlPanel::BuildControls() {
  auto* transport = new QHBoxLayout;
  transport->addWidget(AddButton(IDC_PANEL_FIRST, "先頭"));
  slider_ = new QScrollBar(Qt::Horizontal, this);
  slider_->setObjectName(QString::number(IDC_PANEL_SLIDER));
  slider_->installEventFilter(this);
  connect(slider_, &QAbstractSlider::actionTriggered, this,
          [this](int action) { Scrolled(action); });
  connect(slider_, &QAbstractSlider::sliderReleased, this,
          [this] { FocusMain(); });
  transport->addWidget(slider_, 1);
  transport->addWidget(AddButton(IDC_PANEL_LAST, "後端"));
  pause_ = AddButton(IDC_PANEL_PAUSE, LoadText(kPauseText));
  transport->addWidget(pause_);

  status_ = new QLabel(this);
  status_->setObjectName(QString::number(IDC_PANEL_STATUS));

  auto* commands = new QHBoxLayout;
  commands->addWidget(
      AddButton(IDC_PANEL_FULL_SCREEN, "全画面ON/OFF\n(改行キー）"));
  commands->addWidget(AddButton(IDC_PANEL_NEXT, "次の映像\n(スペースキー)"));
  commands->addWidget(AddButton(IDC_PANEL_PREVIOUS, "前の映像\n(BSキー)"));
  commands->addWidget(AddButton(IDC_PANEL_SWAP, "左右入替\n(Xキー)"));
  commands->addWidget(AddButton(IDC_PANEL_WIDTH, "画像幅変更\n(Mキー)"));
  commands->addWidget(AddButton(IDC_PANEL_HELP, "ヘルプON/OFF\n(F1キー)"));
  commands->addWidget(AddButton(IDC_PANEL_CLOSE, "閉じる\n(Cキー)"));

  auto* notes = new QHBoxLayout;
  auto* drop = new QLabel(
      "ここに映像ファイルをドラッグアンドドロップするとその映像を再生します。",
      this);
  drop->setWordWrap(true);
  notes->addWidget(drop, 1);
  notes->addWidget(new QLabel(
      "コントロールパネルを\n閉じても「C」キーを\n押せば再度開きます", this));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(transport);
  layout->addWidget(status_);
  layout->addLayout(commands);
  layout->addLayout(notes);
}

void ControlPanel::HandleCommand(int id) {
  for (const ForwardRow& row : kForwards) {
    if (row.button == id) {
      main_.DispatchCommand(row.command);
      return;
    }
  }
  switch (id) {
    case IDC_PANEL_FIRST:
    case IDC_PANEL_LAST:
      if (!Viewer.MovieOpen) return;
      Viewer.MovieSeekMs =
          id == IDC_PANEL_FIRST ? 0 : std::max(Viewer.MovieDurationMs - 1, 0);
      main_.Movie().SeekMovie(Viewer.MovieSeekMs);
      FocusMain();
      break;
    case IDC_PANEL_PAUSE:
      if (Viewer.MovieOpen) main_.Movie().TogglePause();
      break;
    case CMD_PANEL_MUTE:
      if (Viewer.MovieOpen) main_.Movie().ToggleMute();
      break;
    case IDC_PANEL_CLOSE:
      CloseRequest();
      break;
    case CMD_PANEL_SYNC:
      Viewer.PanelPosition = Viewer.MovieSeekMs;
      SyncSlider();
      break;
    case CMD_PANEL_RANGE:
      SetPanelRange();
      ApplyRange();
      update();
      break;
    case CMD_PANEL_FRAME_COPY:
      CopyFrame();
      break;
    case CMD_FULL_SCREEN_CHOSEN:
      SetStatus(kStillShown);
      break;
  }
}

void ControlPanel::ApplyRange() {
  int unit = StepMs() * std::max(Viewer.PanelMultiplier, 1);
  int minimum = Viewer.PanelMinimum / unit,
      maximum = Viewer.PanelMaximum / unit;
  slider_->setRange(minimum, maximum);
  slider_->setSingleStep(1);
  slider_->setPageStep(std::max((maximum - minimum) / 10, 1));
  SyncSlider();
}

void ControlPanel::SyncSlider() {
  slider_->setValue(PanelSliderValue(Viewer.PanelPosition));
}

void ControlPanel::Scrolled(int action) {
  PanelScrollCode code;
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      code = PanelLineLeft;
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      code = PanelLineRight;
      break;
    case QAbstractSlider::SliderPageStepSub:
      code = PanelPageLeft;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      code = PanelPageRight;
      break;
    case QAbstractSlider::SliderToMinimum:
      code = PanelLeftEnd;
      break;
    case QAbstractSlider::SliderToMaximum:
      code = PanelRightEnd;
      break;
    case QAbstractSlider::SliderMove:
      code = PanelThumb;
      break;
    default:
      return;
  }
  int position = PanelScroll(code, slider_->sliderPosition());
  // The scroll bar takes this value once the action is over.
  slider_->setSliderPosition(PanelSliderValue(position));
  if (Viewer.MovieOpen) main_.Movie().SeekMovie(Viewer.MovieSeekMs);
  // While the thumb is dragged the focus goes back on release.
  if (!slider_->isSliderDown()) FocusMain();
}

void ControlPanel::Tick() {
  if (!Viewer.MovieOpen) return;
  // Paused, or stopped at the start after the movie ended: the button
  // starts it again.
  pause_->setText(ToQString(LoadText(
      Viewer.MovieState == 2 ? kPauseText : kResumeText)));
  double ms = main_.Movie().PositionSeconds() * 1000;
  Viewer.MovieSeekMs =
      std::isfinite(ms) ? static_cast<int>(std::clamp(ms, 0.0, double{INT_MAX}))
                        : 0;
  HandleCommand(CMD_PANEL_SYNC);
  SetStatus(PanelStatusText(main_.Movie().PlaybackRate()));
}

void ControlPanel::CopyFrame() {
  if (!Viewer.MovieOpen) {
    SetStatus(kStillNotCopied);
    main_.SetTitle(kStillNotCopied);
    return;
  }
  QElapsedTimer waited;
  waited.start();
  Picture frame = CopyMovieDisplayFrame();
  while (!frame && waited.elapsed() < kFrameWaitMs) {
    QThread::msleep(5);
    frame = CopyMovieDisplayFrame();
  }
  if (!frame) return;
  QImage image = ImageOf(frame);
  if (image.isNull()) return;
  int number = CurrentFrameNumber();
  auto* data = new QMimeData;
  data->setImageData(image);
  data->setText(ToQString(FrameCopyName(Viewer.ShownLeftPath, number)));
  QGuiApplication::clipboard()->setMimeData(data);

  // Built whole: a fixed buffer could cut a long name inside a character.
  Viewer.FrameCopyMessage = "表示画像(" + MovieName(Viewer.ShownLeftPath) +
                            " - " + std::to_string(number) +
                            " フレーム目)をクリップボードに取り込みました";
  main_.SetTitle(Viewer.FrameCopyMessage);
}

void ControlPanel::SetStatus(std::string_view text) {
  status_->setText(ToQString(text));
}

QString ControlPanel::StatusText() const { return status_->text(); }

void ControlPanel::FocusMain() { main_.activateWindow(); }

void ControlPanel::CloseRequest() {
  hide();
  Viewer.ControlPanelVisible = false;
}

void ControlPanel::Shutdown() {
  timer_.stop();
  hide();
}

void ControlPanel::closeEvent(QCloseEvent* event) {
  CloseRequest();
  event->accept();
}

void ControlPanel::reject() { CloseRequest(); }

bool ControlPanel::eventFilter(QObject* watched, QEvent* event) {
  // The wheel zooms the picture, even over the slider.
  if (watched == slider_ && event->type() == QEvent::Wheel) {
    wheelEvent(static_cast<QWheelEvent*>(event));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void ControlPanel::wheelEvent(QWheelEvent* event) {
  if (QWidget* canvas = main_.centralWidget())
    QApplication::sendEvent(canvas, event);
  event->accept();
}

void ControlPanel::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void ControlPanel::dropEvent(QDropEvent* event) {
  // Qt hands a drop only to the widget the drag entered, so the panel reads
  // the files and runs the main window's drop handling itself.
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  event->acceptProposedAction();
  HandleDroppedFiles(main_, paths);
  main_.activateWindow();
  main_.raise();
}

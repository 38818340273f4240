#include "shell/output_slices.h"

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QWidget>
#include <memory>

#include "shell/command_table.h"
#include "shell/main_window.h"
#include "stereo/present.h"

namespace {

CanvasSpan canvasSpan;

// One further output's part of the composition.  It takes the main
// window's actions, so that the keys work while it has the focus.
class OutputSliceWindow : public QWidget {
 public:
  OutputSliceWindow(MainWindow& main, QPoint origin)
      : main_(main), origin_(origin) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setWindowTitle(main.windowTitle());
    setCursor(Qt::BlankCursor);
    addActions(main.actions());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    PresentationLock lock(Presentation.lock);
    const Framebuffer& fb = Presentation.frame;
    if (fb.width <= 0 || fb.height <= 0 || fb.pixels.empty()) return;
    QImage image(reinterpret_cast<const uchar*>(fb.pixels.data()), fb.width,
                 fb.height, fb.width * 4, QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatioF());
    painter.drawImage(QPointF(-origin_.x(), -origin_.y()), image);
  }

  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton)
      main_.DispatchCommand(CMD_FULL_SCREEN_CHOSEN);
  }

 private:
  MainWindow& main_;
  QPoint origin_;
};

std::vector<std::unique_ptr<OutputSliceWindow>> slices;

// The canvas works its client size out again (from the span or its own).
void RelayOutCanvas(MainWindow& window) {
  QWidget* canvas = window.centralWidget();
  if (!canvas) return;
  QResizeEvent event(canvas->size(), canvas->size());
  QCoreApplication::sendEvent(canvas, &event);
}

}  // namespace

const CanvasSpan& CurrentCanvasSpan() { return canvasSpan; }

void ShowOutputSlices(MainWindow& window, const QRect& span,
                      QPoint mainOrigin,
                      const std::vector<OutputSlice>& others) {
  slices.clear();
  canvasSpan = {true, span.size(), mainOrigin};
  for (const OutputSlice& other : others) {
    auto slice = std::make_unique<OutputSliceWindow>(window, other.origin);
    slice->setScreen(other.screen);
    slice->setGeometry(other.screen->geometry());
    slice->showFullScreen();
    slices.push_back(std::move(slice));
  }
  RelayOutCanvas(window);
}

void CloseOutputSlices(MainWindow& window) {
  bool wasActive = canvasSpan.active;
  slices.clear();
  canvasSpan = {};
  if (wasActive) RelayOutCanvas(window);
}

void UpdateOutputSlices() {
  for (auto& slice : slices) slice->update();
}

int OutputSliceCount() { return static_cast<int>(slices.size()); }

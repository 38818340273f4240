// Full screen over several outputs where one window cannot span them
// (Wayland places windows itself and gives them no positions): the main
// window is full screen on one output, its canvas composes the picture at
// the size of the whole span and shows its own output's part, and one
// slice window per further output shows that output's part of the same
// framebuffer, repainted with it.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <vector>

class MainWindow;
class QScreen;

// The main canvas's share of a span, in logical pixels: the size the
// composition is made at and where the canvas's output lies in it.
struct CanvasSpan {
  bool active = false;
  QSize size;
  QPoint origin;
};
const CanvasSpan& CurrentCanvasSpan();

struct OutputSlice {
  QScreen* screen = nullptr;
  QPoint origin;  // where the output lies in the span
};

// Makes the canvas compose at `span`'s size with its own output at
// `mainOrigin`, and shows a full-screen slice window on each of `others`.
void ShowOutputSlices(MainWindow& window, const QRect& span,
                      QPoint mainOrigin, const std::vector<OutputSlice>& others);
// Closes the slice windows; the canvas composes at its own size again.
void CloseOutputSlices(MainWindow& window);
// Asks every slice window to repaint (the canvas does after each paint).
void UpdateOutputSlices();
int OutputSliceCount();

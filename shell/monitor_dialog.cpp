#include "shell/monitor_dialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "shell/full_screen.h"
#include "shell/monitors.h"
#include "core/viewer_state.h"

namespace {

// Dialog units of the dialog's font, as the layout below is given in them.
struct DialogUnits {
  int baseX;
  int baseY;
  int X(int units) const { return units * baseX / 4; }
  int Y(int units) const { return units * baseY / 8; }
};

DialogUnits UnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  int letters = metrics.horizontalAdvance(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return {std::max((letters / 26 + 1) / 2, 1), std::max(metrics.height(), 1)};
}

// The drawing of the desktop: each monitor white, or cyan when chosen, with
// its number, origin and size; a red frame around what full screen would
// cover.  Clicks choose.
class MonitorArea : public QWidget {
 public:
  explicit MonitorArea(QWidget* parent) : QWidget(parent) {
    setObjectName("1315");
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    std::span<const DesktopRect> monitors = KnownMonitors();
    MonitorLayout layout = Layout();
    QFontMetrics metrics(font());
    for (size_t i = 0; i < monitors.size(); ++i) {
      const DesktopRect& m = monitors[i];
      QRect drawn = ToQRect(DrawnRect(layout, m));
      painter.fillRect(drawn, Viewer.MonitorSelected[i] ? QColor(0, 255, 255)
                                                        : QColor(Qt::white));
      painter.setPen(Qt::black);
      int x = drawn.left() + 10;
      int y = drawn.top() + metrics.ascent();
      painter.drawText(x, y + 10, QString("Monitor %1").arg(i));
      painter.drawText(x, y + 30,
                       QString("x0=%1,y0=%2").arg(m.left).arg(m.top));
      painter.drawText(x, y + 50,
                       QString("w=%1,h=%2").arg(m.Width()).arg(m.Height()));
    }
    // The dialog's own union: the choice takes effect at the next full
    // screen on the chosen monitors, not while the dialog is open.
    DesktopRect chosen = UnionOfSelected(monitors, Viewer.MonitorSelected);
    if (chosen.IsEmpty()) return;
    painter.setPen(QPen(Qt::red, 5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(ToQRect(DrawnRect(layout, chosen)));
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    QPoint at = event->position().toPoint();
    bool shift = event->modifiers() & Qt::ShiftModifier;
    if (ClickMonitors(Layout(), KnownMonitors(), Viewer.MonitorSelected,
                      at.x(), at.y(), shift))
      update();
  }

 private:
  MonitorLayout Layout() const {
    return LayOutMonitors(KnownMonitors(), width(), height());
  }
};

constexpr const char* kTexts =
    "全画面表示に使用するディスプレイを"
    "クリックして下さい。\n"
    "複数のディスプレイを選択する場合は、"
    "Shiftキーを押しながらクリックして下さい。\n"
    "赤枠で囲まれた領域が"
    "全画面表示領域になります。";

}  // namespace

MonitorDialog::MonitorDialog(QWidget* parent)
    : QDialog(parent), saved_(Viewer.MonitorSelected) {
  setObjectName("MULTIMONI");
  setWindowTitle("マルチモニタ設定");
  setFont(QFont("MS UI Gothic", 9));
  DialogUnits du = UnitsOf(font());
  setFixedSize(du.X(411), du.Y(254));

  auto* area = new MonitorArea(this);
  area->setGeometry(0, 0, du.X(411), du.Y(181));

  auto* text = new QLabel(QString::fromUtf8(kTexts), this);
  text->setGeometry(du.X(7), du.Y(186), du.X(397), du.Y(36));
  text->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("1");
  ok->setGeometry(du.X(297), du.Y(233), du.X(50), du.Y(14));
  auto* cancel = new QPushButton("キャンセル", this);
  cancel->setObjectName("2");
  cancel->setGeometry(du.X(354), du.Y(233), du.X(50), du.Y(14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  // Enter must not end the dialog, whichever control has the focus: the
  // filter sees every key before the controls do.
  qApp->installEventFilter(this);
}

MonitorDialog::~MonitorDialog() { qApp->removeEventFilter(this); }

void MonitorDialog::reject() {
  Viewer.MonitorSelected = saved_;
  QDialog::reject();
}

bool MonitorDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress &&
      event->type() != QEvent::KeyRelease &&
      event->type() != QEvent::ShortcutOverride)
    return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || (widget != this && !isAncestorOf(widget))) return false;
  int key = static_cast<QKeyEvent*>(event)->key();
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

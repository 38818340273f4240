// The settings dialog, the about box, and the commands that open them, the
// control panel and its frame copy.
#include "shell/dialogs.h"

#include "shell/app_icon.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QVBoxLayout>
#include <climits>
#include <string>

#include "shell/command_table.h"
#include "shell/control_panel.h"
#include "shell/main_window.h"
#include "shell/settings_store.h"
#include "core/viewer_state.h"

namespace {

constexpr int kFirstEffectName = 1;  // string-table ids 1..7, in nEFType order
constexpr int kEffectCount = 7;

QString Id(int id) { return QString::number(id); }

QPushButton* DialogButton(QDialog& dialog, int id, const char* text) {
  auto* button = new QPushButton(QString::fromUtf8(text), &dialog);
  button->setObjectName(Id(id));
  QObject::connect(button, &QPushButton::clicked, &dialog,
                   id == IDOK ? &QDialog::accept : &QDialog::reject);
  return button;
}

QLabel* Static(QDialog& dialog, const char* text) {
  return new QLabel(QString::fromUtf8(text), &dialog);
}

// The values the settings dialog stores besides its own, so that the store
// always holds the whole set together.
void WriteSettingsDialogValues() {
  const std::pair<const char*, int> values[] = {
      {"nRGB", Viewer.nRGB},           {"nRepeat", Viewer.nRepeat},
      {"nInterval", Viewer.nInterval}, {"nEFType", Viewer.nEFType},
      {"nScreen", Viewer.nScreen},     {"nDispW", Viewer.nDispW},
      {"nDispH", Viewer.nDispH},       {"nDispX", Viewer.nDispX},
      {"nDispY", Viewer.nDispY},
  };
  for (const auto& [name, value] : values)
    WriteSetting(name, std::to_string(value));
}

void ToggleControlPanel(MainWindow& w, int) {
  if (Viewer.ControlPanelVisible)
    w.Panel().CloseRequest();
  else
    w.ShowControlPanel();
}

void FrameCopy(MainWindow& w, int) {
  w.Panel().HandleCommand(CMD_PANEL_FRAME_COPY);
}

void Settings(MainWindow& w, int) { RunSettingsDialog(w); }

void About(MainWindow& w, int) { RunAboutBox(w); }

constexpr CommandHandlerRow kHandlers[] = {
    {CMD_FRAME_COPY_KEY, CMD_FRAME_COPY_KEY, FrameCopy},
    {CMD_ABOUT, CMD_ABOUT, About},
    {CMD_SETTINGS, CMD_SETTINGS, Settings},
    {CMD_CONTROL_PANEL, CMD_CONTROL_PANEL, ToggleControlPanel},
    {CMD_FRAME_COPY, CMD_FRAME_COPY, FrameCopy},
};

}  // namespace

std::span<const CommandHandlerRow> DialogCommandHandlers() { return kHandlers; }

int UserDialogs::RunModal(QDialog& dialog) { return dialog.exec(); }

QSize DialogUnits(const QFont& font, int width, int height) {
  QFontMetrics metrics(font);
  return {width * metrics.averageCharWidth() / 4,
          height * metrics.height() / 8};
}

int ParseIntervalField(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return 0;
  text.remove_prefix(first);
  text = text.substr(0, text.find_last_not_of(" \t") + 1);
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return 0;
  }
  return static_cast<int>(value);
}

void RunSettingsDialog(MainWindow& window) {
  QDialog dialog(&window);
  dialog.setObjectName("SET");
  dialog.setWindowTitle("設定");
  dialog.setFont(QFont("ＭＳ Ｐゴシック", 9));

  auto* interval = new QLineEdit(&dialog);
  interval->setObjectName(Id(IDC_SET_INTERVAL));
  // A number field: only digits can be typed.
  interval->setValidator(
      new QRegularExpressionValidator(QRegularExpression("[0-9]*"), interval));
  interval->setText(QString::number(std::max(Viewer.nInterval, 0)));
  auto* effect = new QComboBox(&dialog);
  effect->setObjectName(Id(IDC_SET_EFFECT));
  for (int i = 0; i < kEffectCount; ++i)
    effect->addItem(QString::fromUtf8(LoadText(kFirstEffectName + i)));
  effect->setCurrentIndex(Viewer.nEFType);  // none when out of range
  auto* repeat = new QCheckBox("動画リピート再生", &dialog);
  repeat->setObjectName(Id(IDC_SET_REPEAT));
  repeat->setChecked(Viewer.nRepeat != 0);
  auto* rgb = new QCheckBox("動画を強制RGBモードで読み込む", &dialog);
  rgb->setObjectName(Id(IDC_SET_RGB));
  rgb->setChecked(Viewer.nRGB != 0);
  QPushButton* ok = DialogButton(dialog, IDOK, "OK");
  ok->setDefault(true);

  auto* grid = new QGridLayout;
  grid->addWidget(Static(dialog, "スライドショーインターバル"), 0, 0);
  grid->addWidget(interval, 0, 1);
  grid->addWidget(Static(dialog, "X 0.1秒"), 0, 2);
  grid->addWidget(Static(dialog, "切替エフェクト"), 1, 0);
  grid->addWidget(effect, 1, 1, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(DialogButton(dialog, IDCANCEL, "ｷｬﾝｾﾙ"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(grid);
  layout->addWidget(repeat);
  layout->addWidget(rgb);
  layout->addLayout(buttons);
  dialog.resize(DialogUnits(dialog.font(), 179, 120));

  if (window.Dialogs().RunModal(dialog) != QDialog::Accepted) return;
  Viewer.nRepeat = repeat->isChecked() ? 1 : 0;
  Viewer.nRGB = rgb->isChecked() ? 1 : 0;
  // An unreadable interval is 0: the slideshow then runs as fast as its
  // timer allows.  A running slideshow keeps its period until restarted.
  Viewer.nInterval = ParseIntervalField(interval->text().toStdString());
  if (effect->currentIndex() >= 0) Viewer.nEFType = effect->currentIndex();
  WriteSettingsDialogValues();
}

void RunAboutBox(MainWindow& window) {
  QDialog dialog(&window);
  dialog.setObjectName("ABOUT");
  dialog.setWindowTitle("Duoramic の バージョン情報");
  dialog.setFont(QFont("MS UI Gothic", 9));

  auto* icon = new QLabel(&dialog);
  icon->setObjectName("DUORAMIC");
  icon->setPixmap(DuoramicIcon().pixmap(32, 32));
  auto* texts = new QVBoxLayout;
  texts->addWidget(Static(dialog, "Duoramic"));
  texts->addWidget(Static(dialog, "Version 1.10"));
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addLayout(texts, 1);
  QPushButton* ok = DialogButton(dialog, IDOK, "OK");
  ok->setDefault(true);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(top);
  layout->addWidget(ok, 0, Qt::AlignRight);
  dialog.resize(DialogUnits(dialog.font(), 210, 94));

  window.Dialogs().RunModal(dialog);
}

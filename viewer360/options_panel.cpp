#include "viewer360/options_panel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QRadioButton>
#include <QVBoxLayout>
#include <string>

#include "shell/settings_store.h"
#include "core/viewer_state.h"

namespace {

constexpr int kFirstMethodId = 1430;
constexpr int kSwapBoxId = 3141;
constexpr int kBrowserBoxId = 1209;

// In the order of n360mode.
constexpr const char* kMethodTexts[] = {
    "横並び",           "Duboisアナグリフ", "カラーアナグリフ",
    "モノクロアナグリフ", "横インターレース", "縦インターレース",
    "ハーフSBS",        "ハーフO/U",        "片側画像"};

QString Id(int id) { return QString::number(id); }

}  // namespace

QWidget* CreateOptionsPanel(QWidget* parent, bool& useBrowser) {
  auto* panel = new QWidget(parent);
  panel->setObjectName("OPENSS");
  auto* layout = new QVBoxLayout(panel);
  auto* methods = new QGridLayout;
  auto* group = new QButtonGroup(panel);
  int mode = Viewer.n360mode >= 0 && Viewer.n360mode <= 8 ? Viewer.n360mode : 0;
  for (int i = 0; i < 9; ++i) {
    auto* button = new QRadioButton(QString::fromUtf8(kMethodTexts[i]), panel);
    button->setObjectName(Id(kFirstMethodId + i));
    button->setChecked(i == mode);
    group->addButton(button, kFirstMethodId + i);
    methods->addWidget(button, i / 3, i % 3);
  }
  layout->addLayout(methods);
  QObject::connect(group, &QButtonGroup::idClicked, panel, [](int id) {
    Viewer.n360mode = id - kFirstMethodId;
    WriteSetting("n360mode", std::to_string(Viewer.n360mode));
  });

  auto* swap = new QCheckBox(QString::fromUtf8("左右画像交換"), panel);
  swap->setObjectName(Id(kSwapBoxId));
  swap->setChecked(Viewer.n360swap != 0);
  QObject::connect(swap, &QCheckBox::toggled, panel, [](bool on) {
    Viewer.n360swap = on ? 1 : 0;
    WriteSetting("n360swap", std::to_string(Viewer.n360swap));
  });
  layout->addWidget(swap);

  // Kept for this run only: the next start uses the hosted view again.
  auto* browser =
      new QCheckBox(QString::fromUtf8("外部ブラウザで表示する"), panel);
  browser->setObjectName(Id(kBrowserBoxId));
  browser->setChecked(useBrowser);
  QObject::connect(browser, &QCheckBox::toggled, panel,
                   [&useBrowser](bool on) { useBrowser = on; });
  layout->addWidget(browser);
  return panel;
}

#include "shell/settings_store.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <climits>

#include "core/viewer_state.h"

namespace {

// A value this long or longer is treated as absent.
constexpr size_t kSettingLimit = 100;

QString KeyOf(std::string_view name) {
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

struct IntSetting {
  const char* name;
  int ViewerState::*field;
  bool normalLaunchOnly;  // fixed by a launch mode otherwise
};

// In the order start-up reads them.
constexpr IntSetting kIntSettings[] = {
    {"n360mode", &ViewerState::n360mode, false},
    {"n360swap", &ViewerState::n360swap, false},
    {"nScreen", &ViewerState::nScreen, false},
    {"nRepeat", &ViewerState::nRepeat, false},
    {"nRGB", &ViewerState::nRGB, false},
    {"StereoType", &ViewerState::StereoType, false},
    {"nDispW", &ViewerState::nDispW, false},
    {"nDispH", &ViewerState::nDispH, false},
    {"nDispX", &ViewerState::nDispX, false},
    {"nDispY", &ViewerState::nDispY, false},
    {"nDisp", &ViewerState::WidthMode, true},
    {"nInterval", &ViewerState::nInterval, false},
    {"AutoAlign", &ViewerState::AutoAlign, false},
    {"AutoConverge", &ViewerState::AutoConverge, false},
    {"nEFType", &ViewerState::nEFType, false},
};

}  // namespace

std::string ReadPathSetting(std::string_view name) {
  QSettings store("Orlith", "duoramic");
  if (store.status() != QSettings::NoError) return {};
  QVariant value = store.value(KeyOf(name));
  if (!value.isValid()) return {};
  // A hand-edited INI line with commas reads back as a list; it was one text.
  QString text = value.typeId() == QMetaType::QStringList
                     ? value.toStringList().join(u',')
                     : value.toString();
  return text.toUtf8().toStdString();
}

std::string ReadSetting(std::string_view name) {
  std::string text = ReadPathSetting(name);
  if (text.size() >= kSettingLimit) return {};
  return text;
}

namespace {

// The store of this thread's outermost SettingsWriteBatch, if one lives.
thread_local QSettings* batchStore = nullptr;

}  // namespace

SettingsWriteBatch::SettingsWriteBatch() {
  if (batchStore) return;
  store_ = std::make_unique<QSettings>("Orlith", "duoramic");
  batchStore = store_.get();
}

SettingsWriteBatch::~SettingsWriteBatch() {
  if (!store_) return;
  batchStore = nullptr;
  store_.reset();  // writes the held values
}

void WriteSetting(std::string_view name, std::string_view text) {
  QString value =
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (batchStore) {
    batchStore->setValue(KeyOf(name), value);
    return;
  }
  QSettings store("Orlith", "duoramic");
  store.setValue(KeyOf(name), value);
}

int ParseDecimal(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  long long value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    value = value * 10 + (text[pos] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void LoadSettings() {
  for (const IntSetting& setting : kIntSettings) {
    if (setting.normalLaunchOnly && Viewer.LaunchMode != 0) continue;
    std::string text = ReadSetting(setting.name);
    if (!text.empty()) Viewer.*setting.field = ParseDecimal(text);
  }
  Viewer.OpenFolder = ReadPathSetting("OpenFolder");
}

int EncodeMonitorSelection(const std::array<bool, 9>& selected) {
  int stored = 0;
  for (int i = 0; i < 9; ++i) {
    if (selected[i]) stored |= 1 << (9 - i);
  }
  return stored;
}

std::array<bool, 9> DecodeMonitorSelection(int stored) {
  std::array<bool, 9> selected{};
  unsigned bits = static_cast<unsigned>(stored) >> 1;
  for (int i = 8; i >= 0; --i) {
    selected[i] = bits & 1;
    bits >>= 1;
  }
  return selected;
}

void LoadMonitorSelection() {
  Viewer.MonitorSelected = DecodeMonitorSelection(
      ParseDecimal(ReadSetting("multisel")));
}

void SaveExitSettings() {
  WriteSetting("OpenFolder", Viewer.OpenFolder);
  WriteSetting("multisel",
               std::to_string(EncodeMonitorSelection(Viewer.MonitorSelected)));
}

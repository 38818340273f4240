// "MULTIMONI": the user picks the monitors full screen is to cover from a
// drawing of the desktop.  Works on Viewer.MonitorSelected directly; Cancel
// (or Esc, or closing) puts back the choice it found.
#pragma once

#include <QDialog>
#include <array>

class MonitorDialog : public QDialog {
 public:
  explicit MonitorDialog(QWidget* parent = nullptr);
  ~MonitorDialog() override;

  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::array<bool, 9> saved_;
};

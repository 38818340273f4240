// The modal dialogs of the shell: the settings dialog "SET" and the about
// box "ABOUT".  The control panel is shell/control_panel.h.
#pragma once

#include <QSize>
#include <string_view>

class MainWindow;
class QFont;
class QWidget;

// The settings dialog's controls, by id (also their object names).
constexpr int IDC_SET_INTERVAL = 1204;
constexpr int IDC_SET_EFFECT = 1205;
constexpr int IDC_SET_REPEAT = 1207;
constexpr int IDC_SET_RGB = 1208;
// The buttons every dialog shares.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Command 4011: the settings dialog over the window; OK stores what it shows.
void RunSettingsDialog(MainWindow& window);
// Command 2040: the about box.
void RunAboutBox(MainWindow& window);

// The interval field as a number: unsigned decimal digits, blanks around
// them allowed; anything else (or a value beyond int) reads as 0.
int ParseIntervalField(std::string_view text);

// A dialog's size given in dialog units of `font`: a quarter of the average
// character width across, an eighth of the line height down.
QSize DialogUnits(const QFont& font, int width, int height);

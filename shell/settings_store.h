// The per-user settings store: text values under QSettings("Orlith",
// "duoramic") (an INI file under ~/.config/Orlith on Linux), read once at
// start-up and written back when a setting changes.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

class QSettings;

// The value `name` as text; empty when it is absent, unreadable or 100 bytes
// long or longer (older stores hold such values only by mistake, and a
// fixed 100-byte read buffer has always treated them as absent).
std::string ReadSetting(std::string_view name);

// A stored path ("OpenFolder", "FileHistory%d") as text, however long: the
// viewer writes these itself, and a folder with a few Japanese names is
// past 100 bytes in UTF-8.  Cutting them would forget the history.
std::string ReadPathSetting(std::string_view name);

// Stores `text` under `name`.  Failures are ignored: a setting that cannot be
// saved only costs the user the value next time.
void WriteSetting(std::string_view name, std::string_view text);

// While one of these lives, the writes of its thread are held and reach the
// store together when the outermost one ends: one rewrite of the file (each
// write alone rewrites and syncs it), and the other values of the file are
// kept as they were.  The history's several values are saved so.
class SettingsWriteBatch {
 public:
  SettingsWriteBatch();
  ~SettingsWriteBatch();
  SettingsWriteBatch(const SettingsWriteBatch&) = delete;
  SettingsWriteBatch& operator=(const SettingsWriteBatch&) = delete;

 private:
  std::unique_ptr<QSettings> store_;  // null in an inner batch
};

// Decimal text as the store holds it: optional blanks and sign, then the
// leading digits; 0 when there are none (clamped to the int range).
int ParseDecimal(std::string_view text);

// Loads every start-up value into Viewer.  A value replaces the default only
// when present and non-empty; "nDisp" is read only when LaunchMode is 0, so
// the launch modes keep their fixed width.  "OpenFolder" is read whole.
void LoadSettings();

// "multisel": monitor i (0..8) is bit 9 - i; bit 0 is always 0.
int EncodeMonitorSelection(const std::array<bool, 9>& selected);
std::array<bool, 9> DecodeMonitorSelection(int stored);

// Viewer.MonitorSelected from "multisel" (none chosen when absent).
void LoadMonitorSelection();

// What a normal close keeps: "OpenFolder" and "multisel".
void SaveExitSettings();

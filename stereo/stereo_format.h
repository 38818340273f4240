// The catalogue of stereo display formats: one table, looked up by code or
// by name.  A format's code is its menu command id minus 1000.
#pragma once

#include <span>
#include <string_view>

enum StereoFormat : int {
  SideBySide = 0,
  SideBySideMirrorLeft = 1,
  SideBySideMirrorRight = 2,
  SideBySideMirrorBoth = 3,
  OverUnder = 4,
  OverUnderMirrorTop = 5,
  OverUnderMirrorBottom = 6,
  OverUnderMirrorBoth = 7,
  AnaglyphRedCyan = 9,
  AnaglyphRedGreen = 10,
  AnaglyphRedBlue = 11,
  AnaglyphYellowBlue = 12,
  ColorAnaglyphRedCyan = 13,
  ColorAnaglyphRedCyanRedCorrected = 14,
  DuboisAnaglyph = 15,
  ColorAnaglyphYellowBlue = 16,
  ColorAnaglyphYellowBlueBlueCorrected = 17,
  RowInterlace = 18,
  ColumnInterlace = 19,
  Sharp3dLcd = 20,
  DlpCheckerboard = 21,
  NvidiaStereo = 22,
  Iz3d = 23,
  OneSide = 24,
  Source = 27,
};

enum class RendererFamily {
  SideBySide,
  OverUnder,
  Anaglyph,
  RowInterlace,
  ColumnInterlace,
  Sharp3dLcd,
  DlpCheckerboard,
  NvidiaStereo,
  Iz3d,
  OneSide,
  Source,
};

struct StereoFormatEntry {
  int code;
  const char* name;      // the format's name in code, settings tools and CLI
  const char* menuText;  // the menu item's text
  const char* key;       // accelerator, as the menu shows it
  RendererFamily family;
  // A second key for the formats whose own key a Linux desktop takes
  // (console switching, window moves); null for the others.
  const char* secondKey = nullptr;
};

// Every format, in menu order.
std::span<const StereoFormatEntry> StereoFormats();

// Null for codes outside the catalogue (8, 25, 26, negative, above 27).
const StereoFormatEntry* FindStereoFormat(int code);
// Case-insensitive; also accepts the decimal code.  Null when unknown.
const StereoFormatEntry* FindStereoFormatByName(std::string_view name);

inline int MenuIdOf(int code) { return 1000 + code; }

// The program's texts: one table of UTF-8 strings keyed by their numeric id.
// Message boxes, the help overlay and the dialogs all take their words from
// here, so a text is changed in one place.
#pragma once

#include <span>
#include <string_view>

struct StringTableEntry {
  int id;
  const char* text;
};

// Every entry, in ascending id order.
std::span<const StringTableEntry> StringTable();

// The text of `id`; null when the table has no such entry.
const char* FindString(int id);

// The text of `id`; empty when the table has no such entry (a missing
// string shows as an empty line, never as a failure).
std::string_view StringText(int id);

// Key help overlay lines.
constexpr int kHelpFirstString = 2540;
constexpr int kHelpLineCount = 20;

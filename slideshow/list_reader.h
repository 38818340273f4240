// Slideshow lists: a text file of settings lines ("Key;value;;\t//remark")
// and entry lines ("kind;interval;swap;[panorama;width;]left;[right;]comment")
// that the shell plays item by item.  Lists written on Windows load here:
// CP932 text is decoded, "\" and "/" both separate folders.
#pragma once

#include <string>
#include <string_view>

// One parsed entry.  The caller keeps one record for the whole show: a read
// that finds no name field, or no line at all, leaves the previous names in
// place, and stored lists rely on that.
struct ListEntry {
  int EntryKind = 0;      // normalised kind: 11 pair, 30..39 360-degree item,
                          // anything else one stereo file
  int EntryInterval = 0;  // tenths of a second; 0 or less keeps the interval
  int EntrySwap = 0;      // 1 = exchange the views (360-degree items only)
  int EntryPanorama = 0;  // 0 keep, 1 normal display, 2+ panorama scrolling
  int EntryWidth = 0;     // 0 keep, 1 normal width, 2 double width
  std::string EntryLeftName;   // as written in the list (UTF-8)
  std::string EntryRightName;  // a copy of the left name unless a pair
};

// Reads the whole list once: sets `ItemCount`, clears and maybe sets the
// background music, applies every settings line in file order.  Returns 1
// when a "SlideShowList" line was seen, else 0 (also when the file cannot
// be opened, which is reported to the list message sink).
int ReadListSettings(const std::string& listPath);

// Fills `entry` from the entry with the 0-based number `index`, writing its
// comment into `CurrentComment` (the caller empties that first) and applying
// its panorama and width fields to `Viewer` at once.  Returns true when a
// line was found for that number; otherwise `entry` keeps the previous read
// apart from `EntryPanorama` and `EntryWidth`, which are always reset.
bool ReadListEntry(const std::string& listPath, int index, ListEntry& entry);

// The same two reads over a list's bytes already in memory, as they would
// be in the file; `listPath` only places the background music.
int ReadListSettingsFromBytes(std::string_view bytes,
                              const std::string& listPath);
bool ReadListEntryFromBytes(std::string_view bytes, int index,
                            ListEntry& entry);

// A drive name ("C:\x", "C:/x") or a network name ("\\server\x") longer than
// three characters, or a name starting with "/".  Anything else is relative
// to the list's folder.
bool IsAbsolutePath(std::string_view name);

// The folder of `listPath` with its trailing "/"; empty for a bare name.
std::string ListFolderOf(std::string_view listPath);

// The path a list name stands for: the name itself when absolute, else the
// list folder followed by the name; every "\" becomes "/".
std::string ResolveListName(std::string_view listFolder, std::string_view name);

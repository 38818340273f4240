// The slideshow list reader on arbitrary bytes: the settings, then every
// entry the settings count (and one on each side of the range), as the
// viewer reads them while a list plays.  The list is read from memory, so
// the target runs at the speed of the parser rather than of the file
// system.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "core/viewer_state.h"
#include "slideshow/list_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Viewer = ViewerState();
  ReadListSettingsFromBytes(bytes, "/lists/fuzz.txt");
  // Entries are read by index; the count comes from the same bytes.
  int count = std::min(Viewer.ItemCount, 256);
  for (int index = -1; index <= count; ++index) {
    ListEntry entry;
    if (!ReadListEntryFromBytes(bytes, index, entry)) continue;
    fuzzSink = static_cast<uint8_t>(entry.EntryLeftName.size() +
                                    entry.EntryRightName.size());
    if (entry.EntryLeftName.find('\0') != std::string::npos) __builtin_trap();
  }
  return 0;
}

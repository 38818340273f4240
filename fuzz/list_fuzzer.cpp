// The slideshow list reader on arbitrary bytes: the settings, then every
// entry the settings count (and one on each side of the range), as the
// viewer reads them while a list plays.  The reader takes a path, so each
// input is written to one scratch file of this process first.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "shell/viewer_state.h"
#include "slideshow/list_reader.h"

namespace {

std::string scratch;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scratch = "/tmp/duoramic-list-fuzz-" + std::to_string(getpid()) + ".txt";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(scratch.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  Viewer = ViewerState();
  ReadListSettings(scratch);
  // Entries are read by index; the count comes from the same bytes.
  int count = std::min(Viewer.ItemCount, 256);
  for (int index = -1; index <= count; ++index) {
    ListEntry entry;
    if (!ReadListEntry(scratch, index, entry)) continue;
    fuzzSink = static_cast<uint8_t>(entry.EntryLeftName.size() +
                                    entry.EntryRightName.size());
    if (entry.EntryLeftName.find('\0') != std::string::npos) __builtin_trap();
  }
  return 0;
}

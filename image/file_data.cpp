#include "image/file_data.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

thread_local std::string lastFailure;
thread_local std::string lastWarning;

struct FileClose {
  void operator()(FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileClose>;

File OpenForReading(const std::string& path) {
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) NoteLoadFailure(std::string("cannot open: ") + std::strerror(errno));
  return f;
}

}  // namespace

void NoteLoadFailure(std::string_view reason) { lastFailure = reason; }
const std::string& LastLoadFailure() { return lastFailure; }
void ClearLoadFailure() { lastFailure.clear(); }
void NoteLoadWarning(std::string_view warning) { lastWarning = warning; }
const std::string& LastLoadWarning() { return lastWarning; }
void ClearLoadWarning() { lastWarning.clear(); }

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out,
                   size_t limit) {
  out.clear();
  File f = OpenForReading(path);
  if (!f) return false;
  // The size known up front is read in one go, into memory taken once: a
  // camera file grown chunk by chunk would be copied and faulted in twice.
  long known = -1;
  if (std::fseek(f.get(), 0, SEEK_END) == 0) known = std::ftell(f.get());
  std::rewind(f.get());
  if (known > 0 && static_cast<unsigned long>(known) <= limit) {
    out.resize(static_cast<size_t>(known));
    out.resize(std::fread(out.data(), 1, out.size(), f.get()));
  }
  uint8_t chunk[32768];
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, f.get());
    if (got == 0) break;
    if (out.size() + got > limit) {
      NoteLoadFailure("file too large");
      out.clear();
      return false;
    }
    out.insert(out.end(), chunk, chunk + got);
  }
  if (std::ferror(f.get())) {
    NoteLoadFailure("read error");
    out.clear();
    return false;
  }
  return true;
}

bool ReadFilePrefix(const std::string& path, size_t count,
                    std::vector<uint8_t>& out) {
  out.assign(count, 0);
  File f = OpenForReading(path);
  if (!f) {
    out.clear();
    return false;
  }
  size_t got = std::fread(out.data(), 1, count, f.get());
  out.resize(got);
  return !std::ferror(f.get());
}

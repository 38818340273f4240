#include "image/mpo_reader.h"

#include "image/file_data.h"

int LoadMpoFile(const std::string& path, Picture& left, Picture& right) {
  (void)path, (void)left, (void)right;
  NoteLoadFailure("MPO reader not built yet");
  return 0;
}

int LoadMpoData(const uint8_t* data, size_t size, Picture& left,
                Picture& right) {
  (void)data, (void)size, (void)left, (void)right;
  NoteLoadFailure("MPO reader not built yet");
  return 0;
}

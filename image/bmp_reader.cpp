#include "image/bmp_reader.h"

#include "image/file_data.h"

Picture DecodeBmp(const std::string& path) {
  (void)path;
  NoteLoadFailure("bmp reader not built yet");
  return nullptr;
}

Picture DecodeBmpData(const uint8_t* data, size_t size) {
  (void)data;
  (void)size;
  NoteLoadFailure("bmp reader not built yet");
  return nullptr;
}

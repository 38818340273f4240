#include "image/png_reader.h"

#include "image/file_data.h"

Picture DecodePng(const std::string& path) {
  (void)path;
  NoteLoadFailure("png reader not built yet");
  return nullptr;
}

Picture DecodePngData(const uint8_t* data, size_t size) {
  (void)data;
  (void)size;
  NoteLoadFailure("png reader not built yet");
  return nullptr;
}

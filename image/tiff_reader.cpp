#include "image/tiff_reader.h"

#include "image/file_data.h"

Picture DecodeTiff(const std::string& path) {
  (void)path;
  NoteLoadFailure("tiff reader not built yet");
  return nullptr;
}

Picture DecodeTiffData(const uint8_t* data, size_t size) {
  (void)data;
  (void)size;
  NoteLoadFailure("tiff reader not built yet");
  return nullptr;
}

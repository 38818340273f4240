#include "image/gif_reader.h"

#include "image/file_data.h"

Picture DecodeGif(const std::string& path) {
  (void)path;
  NoteLoadFailure("gif reader not built yet");
  return nullptr;
}

Picture DecodeGifData(const uint8_t* data, size_t size) {
  (void)data;
  (void)size;
  NoteLoadFailure("gif reader not built yet");
  return nullptr;
}

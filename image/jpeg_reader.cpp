#include "image/jpeg_reader.h"

#include "image/file_data.h"

Picture DecodeJpeg(const std::string& path) {
  (void)path;
  NoteLoadFailure("jpeg reader not built yet");
  return nullptr;
}

Picture DecodeJpegData(const uint8_t* data, size_t size) {
  (void)data;
  (void)size;
  NoteLoadFailure("jpeg reader not built yet");
  return nullptr;
}

void ReadJpegComment(const std::string& path) { (void)path; }
void ReadJpegCommentData(const uint8_t* data, size_t size) {
  (void)data, (void)size;
}

#include "image/still_reader.h"

#include <vector>

#include "image/bmp_reader.h"
#include "image/file_data.h"
#include "image/gif_reader.h"
#include "image/heif_reader.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"
#include "image/tiff_reader.h"

const char* StillFormatName(StillFormat format) {
  switch (format) {
    case StillFormat::Jpeg: return "JPEG";
    case StillFormat::Png: return "PNG";
    case StillFormat::Tiff: return "TIFF";
    case StillFormat::Gif: return "GIF";
    case StillFormat::Bmp: return "BMP";
    case StillFormat::Heif: return "HEIF";
    case StillFormat::None: break;
  }
  return "none";
}

StillDecode DecodeStillData(const uint8_t* data, size_t size) {
  using Reader = Picture (*)(const uint8_t*, size_t);
  static constexpr struct {
    StillFormat format;
    Reader read;
  } kReaders[] = {
      {StillFormat::Jpeg, DecodeJpegData}, {StillFormat::Png, DecodePngData},
      {StillFormat::Tiff, DecodeTiffData}, {StillFormat::Gif, DecodeGifData},
      {StillFormat::Bmp, DecodeBmpData}, {StillFormat::Heif, DecodeHeifData},
  };
  StillDecode result;
  ClearLoadWarning();
  for (const auto& reader : kReaders) {
    ClearLoadFailure();
    Picture picture = reader.read(data, size);
    if (!picture) {
      if (!result.failure.empty()) result.failure += "; ";
      result.failure += StillFormatName(reader.format);
      result.failure += ": ";
      result.failure += LastLoadFailure().empty() ? "refused" : LastLoadFailure();
      continue;
    }
    result.format = reader.format;
    if (reader.format == StillFormat::Jpeg)
      result.stereoLayout = ReadJpsLayout(data, size);
    result.sourceBits = PictureBits(picture);
    if (result.sourceBits != 24) {
      Picture converted = ConvertTo24(picture);
      if (!converted) {
        result.failure = "cannot convert to 24 bits";
        result.format = StillFormat::None;
        return result;
      }
      picture = std::move(converted);
    }
    result.picture = std::move(picture);
    result.failure.clear();
    result.warning = LastLoadWarning();
    return result;
  }
  return result;
}

StillDecode DecodeStill(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) {
    StillDecode result;
    result.failure = LastLoadFailure();
    return result;
  }
  return DecodeStillData(bytes.data(), bytes.size());
}

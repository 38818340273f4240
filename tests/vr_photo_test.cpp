// VR photos: the right view carried in (Extended) XMP.  exiftool writes the
// well-formed file; a writer here makes the damaged ones.  The oracle is
// the embedded JPEG's own bytes and its own decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "image/file_data.h"
#include "image/jpeg_reader.h"
#include "image/md5.h"
#include "image/panorama_canvas.h"
#include "image/mpo_reader.h"
#include "image/still_reader.h"
#include "image/stereo_still.h"
#include "image/vr_photo.h"
#include "reader_support.h"
#include "synthetic_jpeg.h"
#include "test_support.h"

using synthetic::Bytes;

namespace {

std::string Base64(const Bytes& bytes, size_t lineLength = 0) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = uint32_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= bytes[i + 2];
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[v >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
    if (lineLength && out.size() % (lineLength + 1) == lineLength) out += "\n ";
  }
  return out;
}

Bytes App1(const std::string& header, const std::string& body) {
  Bytes payload(header.begin(), header.end());
  payload.insert(payload.end(), body.begin(), body.end());
  return synthetic::Segment(0xE1, payload);
}

struct Chunk {
  uint32_t offset, length;
};

// A VR photo: `left` with a main packet naming the extended one (whose
// GUID is its MD5 unless `guid` is given) and the extended packet cut into
// `chunks` in the order given.
Bytes BuildVrPhoto(const Bytes& left, const std::string& extended,
                   const std::vector<Chunk>& chunks, std::string guid = {},
                   uint32_t total = 0) {
  if (guid.empty())
    guid = Md5Hex(reinterpret_cast<const uint8_t*>(extended.data()),
                  extended.size());
  if (!total) total = uint32_t(extended.size());
  std::string main =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF><rdf:Description "
      "xmlns:xmpNote='http://ns.adobe.com/xmp/note/' "
      "xmlns:GImage=\"http://ns.google.com/photos/1.0/image/\" "
      "GImage:Mime=\"image/jpeg\" xmpNote:HasExtendedXMP='" + guid +
      "'/></rdf:RDF></x:xmpmeta>";
  Bytes segments = App1(std::string("http://ns.adobe.com/xap/1.0/\0", 29), main);
  for (const Chunk& c : chunks) {
    std::string header("http://ns.adobe.com/xmp/extension/\0", 35);
    header += guid;
    for (uint32_t v : {total, c.offset})
      for (int s = 24; s >= 0; s -= 8) header += char(v >> s);
    Bytes segment = App1(header, extended.substr(c.offset, c.length));
    segments.insert(segments.end(), segment.begin(), segment.end());
  }
  return synthetic::InsertAfterStart(left, segments);
}

std::string ExtendedPacket(const std::string& data) {
  return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF><rdf:Description "
         "xmlns:GImage='http://ns.google.com/photos/1.0/image/'>"
         "<GImage:Data>" + data + "</GImage:Data></rdf:Description>"
         "</rdf:RDF></x:xmpmeta>";
}

std::vector<Chunk> Split(size_t total, size_t piece) {
  std::vector<Chunk> out;
  for (size_t at = 0; at < total; at += piece)
    out.push_back({uint32_t(at), uint32_t(std::min(piece, total - at))});
  return out;
}

Picture DecodeOf(const Bytes& jpeg) {
  return DecodeJpegData(jpeg.data(), jpeg.size());
}

}  // namespace

TEST(VrPhoto, ExiftoolsExtendedXmpGivesTheEmbeddedJpegAndThePanorama) {
  if (std::system("exiftool -ver >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "exiftool is not installed";
  Bytes left = synthetic::Compress(synthetic::TestCard(96, 64, 1));
  Bytes right = synthetic::Compress(synthetic::TestCard(96, 64, 2));
  std::string dir = ScratchDir();
  WriteTestFile(dir + "/vr_left.jpg", left);
  WriteTestFile(dir + "/vr_right.jpg", right);
  std::string out = dir + "/exiftool.vr.jpg";
  std::remove(out.c_str());
  std::string command =
      "exiftool -q -o '" + out + "' '-XMP-GImage:ImageData<=" + dir +
      "/vr_right.jpg' -XMP-GImage:ImageMimeType=image/jpeg "
      "-XMP-GPano:ProjectionType=equirectangular "
      "-XMP-GPano:FullPanoWidthPixels=384 -XMP-GPano:FullPanoHeightPixels=192 "
      "-XMP-GPano:CroppedAreaImageWidthPixels=96 "
      "-XMP-GPano:CroppedAreaImageHeightPixels=64 "
      "-XMP-GPano:CroppedAreaLeftPixels=144 -XMP-GPano:CroppedAreaTopPixels=64 '" +
      dir + "/vr_left.jpg'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  Bytes file = ReadTestFile(out);
  VrPhoto photo;
  ASSERT_TRUE(ReadVrPhoto(file.data(), file.size(), photo)) << LastLoadFailure();
  EXPECT_EQ(photo.rightJpeg, right);
  StereoStill still;
  ASSERT_TRUE(DecodeStereoStill(file.data(), file.size(), still))
      << LastLoadFailure();
  EXPECT_STREQ(still.info.format, "VR photo");
  EXPECT_TRUE(SamePixels(still.left, DecodeOf(left)));
  EXPECT_TRUE(SamePixels(still.right, DecodeOf(right)));
  ASSERT_TRUE(still.info.panorama);
  EXPECT_EQ(still.info.panorama->left, 144);
  EXPECT_EQ(still.info.panorama->top, 64);
  EXPECT_DOUBLE_EQ(*still.info.horizontalFovDeg, 90.0);
  EXPECT_DOUBLE_EQ(*still.info.verticalFovDeg, 60.0);
  // The MPO paths read it as two views, not as one side-by-side picture.
  Picture l, r;
  ASSERT_EQ(LoadMpoData(file.data(), file.size(), l, r), 1);
  EXPECT_EQ(PictureWidth(l), 96);
  EXPECT_TRUE(SamePixels(r, DecodeOf(right)));
  // Reduced, as libjpeg reduces each JPEG.
  MpoViews reduced;
  ASSERT_TRUE(DecodeMpoViewsReduced(file.data(), file.size(), 4, reduced));
  EXPECT_TRUE(SamePixels(reduced.right, DecodeJpegPixelsReduced(
                                            {right.data(), right.size(), false}, 4)));
  EXPECT_TRUE(SamePixels(reduced.left, DecodeJpegPixelsReduced(
                                           {left.data(), left.size(), false}, 4)));
}

TEST(VrPhoto, ChunksAreReassembledByOffsetWhateverTheirOrder) {
  Bytes left = synthetic::Compress(synthetic::TestCard(48, 32, 3));
  Bytes right = synthetic::Compress(synthetic::TestCard(48, 32, 4));
  // Base64 broken into lines, as some writers do.
  std::string extended = ExtendedPacket(Base64(right, 76));
  std::vector<Chunk> chunks = Split(extended.size(), 500);
  ASSERT_GE(chunks.size(), 3u);
  std::vector<Chunk> shuffled(chunks.rbegin(), chunks.rend());
  std::vector<Chunk> repeated = chunks;
  repeated.insert(repeated.begin() + 1, chunks[1]);
  for (const auto& order : {chunks, shuffled, repeated}) {
    Bytes file = BuildVrPhoto(left, extended, order);
    VrPhoto photo;
    ASSERT_TRUE(ReadVrPhoto(file.data(), file.size(), photo)) << LastLoadFailure();
    EXPECT_EQ(photo.rightJpeg, right);
  }
}

TEST(VrPhoto, DamagedExtendedXmpIsRefusedWithItsReasonAndTheLeftViewStays) {
  Bytes left = synthetic::Compress(synthetic::TestCard(48, 32, 5));
  Bytes right = synthetic::Compress(synthetic::TestCard(48, 32, 6));
  std::string extended = ExtendedPacket(Base64(right));
  std::vector<Chunk> chunks = Split(extended.size(), 400);
  std::vector<Chunk> missing = chunks;
  missing.erase(missing.begin() + 1);
  std::vector<Chunk> overlapping = chunks;
  overlapping[1].offset -= 10;
  std::vector<Chunk> lastMissing(chunks.begin(), chunks.end() - 1);
  std::string notJpeg = ExtendedPacket(Base64(Bytes{'G', 'I', 'F', '8', '9', 'a'}));
  std::string badBase64 = ExtendedPacket("AAAA*AAA");
  struct Case {
    const char* what;
    Bytes file;
    const char* reason;
  } cases[] = {
      {"a chunk missing", BuildVrPhoto(left, extended, missing), "missing"},
      {"the last chunk missing", BuildVrPhoto(left, extended, lastMissing),
       "ends early"},
      {"overlapping chunks", BuildVrPhoto(left, extended, overlapping), "overlap"},
      {"wrong GUID",
       BuildVrPhoto(left, extended, chunks, std::string(32, 'A')), "MD5"},
      {"wrong length",
       BuildVrPhoto(left, extended, chunks, {}, uint32_t(extended.size() + 9)),
       "ends early"},
      {"invalid base64", BuildVrPhoto(left, badBase64, Split(badBase64.size(), 400)),
       "base64"},
      {"not a JPEG", BuildVrPhoto(left, notJpeg, Split(notJpeg.size(), 400)),
       "not a JPEG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StereoStill still;
    ClearLoadFailure();
    EXPECT_FALSE(DecodeStereoStill(c.file.data(), c.file.size(), still));
    EXPECT_NE(LastLoadFailure().find(c.reason), std::string::npos)
        << LastLoadFailure();
    // What the viewer shows instead: the JPEG itself, in both eyes.
    StillDecode flat = DecodeStillData(c.file.data(), c.file.size());
    EXPECT_TRUE(SamePixels(flat.picture, DecodeOf(left)));
  }
}

TEST(VrPhoto, Base64AndMd5AgainstKnownValues) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(DecodeBase64("TWFu\n IGlz", out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "Man is");
  EXPECT_TRUE(DecodeBase64("TWE=", out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "Ma");
  EXPECT_FALSE(DecodeBase64("TWE=TWE=", out));
  EXPECT_FALSE(DecodeBase64("T", out));
  // RFC 1321's test suite.
  EXPECT_EQ(Md5Hex(nullptr, 0), "D41D8CD98F00B204E9800998ECF8427E");
  std::string digits =
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  EXPECT_EQ(Md5Hex(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()),
            "57EDF4A22BE3C955AC49DA2E2107B67A");
}

TEST(VrPhoto, PanoramaCanvasPutsEachViewWhereItsCropSaysAndBlackElsewhere) {
  // A 4 x 2 view of one colour per eye on a 16 x 8 sphere at (14, 3),
  // wrapping round the right edge by two columns.
  Picture left = CreatePicture(4, 2, 24), right = CreatePicture(4, 2, 24);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      std::memcpy(PictureRow(left.get(), y) + 3 * x, "\x10\x20\x30", 3);
      std::memcpy(PictureRow(right.get(), y) + 3 * x, "\x40\x50\x60", 3);
    }
  PanoramaCrop crop{16, 8, 14, 3, 4, 2};
  Picture canvas = PanoramaCanvas(left, right, crop);
  ASSERT_TRUE(canvas);
  EXPECT_EQ(PictureWidth(canvas), 32);
  EXPECT_EQ(PictureHeight(canvas), 8);
  ExpectPixels(canvas, {{14, 3, 0x302010}, {15, 4, 0x302010}, {0, 3, 0x302010},
                        {1, 4, 0x302010}, {2, 3, 0}, {13, 3, 0}, {14, 2, 0},
                        {14, 5, 0}, {16 + 14, 3, 0x605040}, {16 + 1, 4, 0x605040},
                        {16 + 2, 4, 0}});
  // A sphere wider than the limit is scaled down, the crop with it.
  Picture small = PanoramaCanvas(left, right, {32, 16, 8, 4, 8, 4}, 16);
  ASSERT_TRUE(small);
  EXPECT_EQ(PictureWidth(small), 32);
  ExpectPixels(small, {{4, 2, 0x302010}, {7, 3, 0x302010}, {8, 2, 0}, {3, 2, 0},
                       {16 + 4, 2, 0x605040}});
}

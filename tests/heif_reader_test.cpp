// Spatial HEIF photos: the stereo group picks the views, libheif decodes
// them; the oracle is libheif's own decode of each item by id.
#include <gtest/gtest.h>

#include "heif_files.h"
#include "image/file_data.h"
#include "image/file_names.h"
#include "image/heif_boxes.h"
#include "image/mpo_reader.h"
#include "image/still_reader.h"
#include "image/stereo_still.h"
#include "image/comment.h"
#include "reader_support.h"
#include "synthetic_jpeg.h"

using namespace heif_files;

namespace {

// Three pictures of different colours: items 1, 2, 3 of the file, the
// third the primary image unless told otherwise.
struct ThreeItems {
  Bytes file;
  std::vector<uint32_t> ids;
};

ThreeItems EncodeThree(size_t primary = 2) {
  Picture a = RampPicture(64, 48, 1), b = RampPicture(64, 48, 2),
          c = RampPicture(48, 32, 3);
  ThreeItems out;
  out.file = EncodeHeif({&a, &b, &c}, primary, out.ids);
  return out;
}

#define REQUIRE_HEVC_ENCODER(items)                                     \
  if ((items).ids.size() != 3)                                          \
  GTEST_SKIP() << "this libheif has no HEVC encoder to make test files"

bool Decode(const Bytes& file, StereoStill& still) {
  ClearLoadFailure();
  return DecodeStereoStill(file.data(), file.size(), still);
}

}  // namespace

TEST(HeifReader, StereoGroupDecidesWhichItemIsWhichEyeAgainstLibheif) {
  ThreeItems items = EncodeThree();
  REQUIRE_HEVC_ENCODER(items);
  uint32_t a = items.ids[0], b = items.ids[1], c = items.ids[2];
  for (auto order : {std::vector<uint32_t>{a, b}, std::vector<uint32_t>{b, a}}) {
    Bytes file = items.file;
    // An alternatives group ahead of the stereo one must not be taken.
    Bytes groups = MakeGroup("altr", 100, {c, a});
    Bytes ster = MakeGroup("ster", 101, order);
    groups.insert(groups.end(), ster.begin(), ster.end());
    ASSERT_TRUE(InsertIntoBox(file, {"meta"}, MakeBox("grpl", groups)));
    StereoStill still;
    ASSERT_TRUE(Decode(file, still)) << LastLoadFailure();
    EXPECT_TRUE(still.info.twoViews);
    EXPECT_STREQ(still.info.format, "HEIF");
    EXPECT_TRUE(SamePixels(still.left, LibheifDecode(file, order[0])));
    EXPECT_TRUE(SamePixels(still.right, LibheifDecode(file, order[1])));
    // The picture a 2-D reader takes from it is the left view.
    StillDecode whole = DecodeStillData(file.data(), file.size());
    EXPECT_EQ(whole.format, StillFormat::Heif);
    EXPECT_TRUE(SamePixels(whole.picture, LibheifDecode(file, order[0])));
  }
}

TEST(HeifReader, FileWithoutStereoGroupIsItsPrimaryPictureInBothEyes) {
  ThreeItems items = EncodeThree(1);
  REQUIRE_HEVC_ENCODER(items);
  StereoStill still;
  ASSERT_TRUE(Decode(items.file, still)) << LastLoadFailure();
  EXPECT_FALSE(still.info.twoViews);
  Picture primary = LibheifDecode(items.file, items.ids[1]);
  EXPECT_TRUE(SamePixels(still.left, primary));
  EXPECT_TRUE(SamePixels(still.right, primary));
}

TEST(HeifReader, MpoPathsReadSpatialPhotosAndHeifNamesAreOfTheMpoKind) {
  ThreeItems items = EncodeThree();
  REQUIRE_HEVC_ENCODER(items);
  Bytes file = items.file;
  InsertIntoBox(file, {"meta"},
                MakeBox("grpl", MakeGroup("ster", 1, {items.ids[0],
                                                       items.ids[1]})));
  Picture left, right;
  ASSERT_TRUE(LoadMpoData(file.data(), file.size(), left, right));
  EXPECT_TRUE(SamePixels(left, LibheifDecode(file, items.ids[0])));
  EXPECT_TRUE(SamePixels(right, LibheifDecode(file, items.ids[1])));
  MpoViews reduced;
  ASSERT_TRUE(DecodeMpoViewsReduced(file.data(), file.size(), 4, reduced));
  EXPECT_EQ(PictureWidth(reduced.left), 16);
  EXPECT_EQ(PictureHeight(reduced.right), 12);
  for (const char* name : {"IMG_1.HEIC", "a.heif", "b.avif", "c.vr.jpg"})
    EXPECT_TRUE(FileKindMatches(name, MpoKind)) << name;
  EXPECT_FALSE(FileKindMatches("c.vr.jpg", StillKind));
  EXPECT_TRUE(FileKindMatches("c.jpg", StillKind));
}

TEST(HeifReader, DamagedGroupsAndItemsGiveReasonsNotCrashes) {
  ThreeItems items = EncodeThree();
  REQUIRE_HEVC_ENCODER(items);
  uint32_t a = items.ids[0];
  {  // a group naming an item that is not there
    Bytes file = items.file;
    InsertIntoBox(file, {"meta"}, MakeBox("grpl", MakeGroup("ster", 1, {a, 99})));
    StereoStill still;
    EXPECT_FALSE(Decode(file, still));
    EXPECT_NE(LastLoadFailure().find("item id 99"), std::string::npos)
        << LastLoadFailure();
    // The left view is still there for a 2-D showing.
    StillDecode whole = DecodeStillData(file.data(), file.size());
    EXPECT_TRUE(SamePixels(whole.picture, LibheifDecode(file, a)));
  }
  {  // a group claiming more entities than its box holds: no stereo pair
    Bytes group = MakeGroup("ster", 1, {a, items.ids[1]});
    SetBe32(group, 16, 1000000);
    Bytes file = items.file;
    InsertIntoBox(file, {"meta"}, MakeBox("grpl", group));
    HeifBoxes boxes;
    ASSERT_TRUE(ReadHeifBoxes(file.data(), file.size(), boxes));
    EXPECT_FALSE(boxes.leftId);
    EXPECT_NE(boxes.problem.find("more views"), std::string::npos);
  }
  {  // item data pointing past the end of the file
    Bytes file = items.file;
    InsertIntoBox(file, {"meta"},
                  MakeBox("grpl", MakeGroup("ster", 1, {a, items.ids[1]})));
    ShiftItemOffsets(file, 0, 0x10000000);
    StereoStill still;
    EXPECT_FALSE(Decode(file, still));
    EXPECT_FALSE(LastLoadFailure().empty());
  }
  // Every cut of a stereo file is refused or read, never read past.
  Bytes file = items.file;
  InsertIntoBox(file, {"meta"},
                MakeBox("grpl", MakeGroup("ster", 1, {a, items.ids[1]})));
  ForEachPrefix(file, [](size_t n) { return n < 600 ? n + 7 : n * 3 / 2; },
                [](const Bytes& cut) {
                  StereoStill still;
                  DecodeStereoStill(cut.data(), cut.size(), still);
                  HeifBoxes boxes;
                  ReadHeifBoxes(cut.data(), cut.size(), boxes);
                });
}

TEST(HeifReader, PictureLimitRefusesLargeItemsBeforeDecoding) {
  ThreeItems items = EncodeThree(0);
  REQUIRE_HEVC_ENCODER(items);
  uint64_t saved = PixelLimit();
  SetPixelLimit(64 * 47);
  StereoStill still;
  bool decoded = Decode(items.file, still);
  SetPixelLimit(saved);
  EXPECT_FALSE(decoded);
  // Refused by our check or by libheif's bound on a side (the square root
  // of the limit, which a 64-pixel side exceeds here), saying so.
  const std::string& why = LastLoadFailure();
  EXPECT_TRUE(why.find("larger than the picture limit") != std::string::npos ||
              why.find("exceeds the maximum image size") != std::string::npos)
      << why;
}

namespace {

constexpr uint8_t kIntrinsicsUuid[16] = {0x22, 0xcc, 0x04, 0xc7, 0xd6, 0xd9,
                                         0x4e, 0x07, 0x9d, 0x90, 0x4e, 0xb6,
                                         0xec, 0xba, 0xf3, 0xa3};
constexpr uint8_t kExtrinsicsUuid[16] = {0x43, 0x63, 0xe9, 0x14, 0x5b, 0x7d,
                                         0x4a, 0xab, 0x97, 0xae, 0xbe, 0xa6,
                                         0x98, 0x03, 0xb4, 0x34};
constexpr uint8_t kDisparityUuid[16] = {0xde, 0x22, 0x50, 0x85, 0x36, 0xcb,
                                        0x43, 0x65, 0x87, 0x43, 0x2f, 0x87,
                                        0x05, 0xe7, 0xc7, 0x8a};

// Intrinsics with a 2^16 fixed-point focal length (fraction of the width).
Bytes Intrinsics(double focal) {
  Bytes body;
  PutBe32(body, int32_t(focal * 65536));
  PutBe32(body, 32768);  // principal point x, y: the centre
  PutBe32(body, 32768);
  Bytes full;
  PutBe32(full, 16 << 8);
  full.insert(full.end(), body.begin(), body.end());
  return full;
}

// Extrinsics with x and z present (flags 1 | 4), micrometres.
Bytes Extrinsics(int32_t x, int32_t z) {
  Bytes full;
  PutBe32(full, 1 | 4);
  PutBe32(full, uint32_t(x));
  PutBe32(full, uint32_t(z));
  return full;
}

[[maybe_unused]] Bytes Payload(const Bytes& box) { return Bytes(box.begin() + 8, box.end()); }

// Adds the properties to `ipco` and ties property k of `perItem[i]` to
// item ids[i] by a second association list (32-bit ids, 15-bit indexes).
void AddProperties(Bytes& file, const std::vector<uint32_t>& ids,
                   const std::vector<std::vector<Bytes>>& perItem) {
  size_t ipco, header;
  ASSERT_TRUE(FindBox(file, {"meta", "iprp", "ipco"}, ipco, header));
  uint32_t existing = 0;
  for (size_t at = ipco + 8; at < ipco + GetBe32(file, ipco);
       at += GetBe32(file, at))
    ++existing;
  Bytes properties, entries;
  uint32_t next = existing + 1;
  for (size_t i = 0; i < perItem.size(); ++i) {
    PutBe32(entries, ids[i]);
    entries.push_back(uint8_t(perItem[i].size()));
    for (const Bytes& property : perItem[i]) {
      properties.insert(properties.end(), property.begin(), property.end());
      entries.push_back(uint8_t(next >> 8));
      entries.push_back(uint8_t(next));
      ++next;
    }
  }
  ASSERT_TRUE(InsertIntoBox(file, {"meta", "iprp", "ipco"}, properties));
  Bytes ipma;
  PutBe32(ipma, uint32_t(perItem.size()));
  ipma.insert(ipma.end(), entries.begin(), entries.end());
  ASSERT_TRUE(InsertIntoBox(file, {"meta", "iprp"},
                            MakeFullBox("ipma", 0x01000001, ipma)));
}

Bytes StereoFile(const ThreeItems& items) {
  Bytes file = items.file;
  InsertIntoBox(file, {"meta"},
                MakeBox("grpl", MakeGroup("ster", 1, {items.ids[0],
                                                       items.ids[1]})));
  return file;
}

}  // namespace

TEST(HeifReader, CameraPropertiesGiveBaselineFieldOfViewAndDisparity) {
  ThreeItems items = EncodeThree();
  REQUIRE_HEVC_ENCODER(items);
  // Today's boxes: a focal length of half the width is 90 degrees across;
  // cameras 64 mm apart along x (and 48 mm in z: 80 mm in all).
  for (bool older : {false, true}) {
    SCOPED_TRACE(older ? "uuid properties" : "cmin and cmex");
    Bytes file = StereoFile(items);
    auto intrinsics = [&](double f) {
      return older ? MakeUuidBox(kIntrinsicsUuid, Intrinsics(f))
                   : MakeBox("cmin", Intrinsics(f));
    };
    auto extrinsics = [&](int32_t x, int32_t z) {
      return older ? MakeUuidBox(kExtrinsicsUuid, Extrinsics(x, z))
                   : MakeBox("cmex", Extrinsics(x, z));
    };
    Bytes disparity;
    PutBe32(disparity, uint32_t(-250));
    AddProperties(file, {items.ids[0], items.ids[1]},
                  {{intrinsics(0.5), extrinsics(-32000, 0),
                    MakeUuidBox(kDisparityUuid, disparity)},
                   {intrinsics(0.5), extrinsics(32000, 48000)}});
    StereoStill still;
    ASSERT_TRUE(Decode(file, still)) << LastLoadFailure();
    ASSERT_TRUE(still.info.baselineMm);
    EXPECT_NEAR(*still.info.baselineMm, 80.0, 1e-9);
    ASSERT_TRUE(still.info.horizontalFovDeg);
    EXPECT_NEAR(*still.info.horizontalFovDeg, 90.0, 1e-6);
    EXPECT_EQ(still.info.disparity, -250);
    // libheif still decodes the views it was given.
    EXPECT_TRUE(SamePixels(still.left, LibheifDecode(file, items.ids[0])));
  }
  // The recorded field of a real file: 0x0010624e with a shift of 30 is a
  // focal length of 1/1000 of the width.
  Bytes file = StereoFile(items);
  Bytes recorded = {0x00, 0x00, 0x1e, 0x00, 0x00, 0x10, 0x62, 0x4e,
                    0, 0, 0, 0, 0, 0, 0, 0};
  AddProperties(file, {items.ids[0]}, {{MakeUuidBox(kIntrinsicsUuid, recorded)}});
  HeifBoxes boxes;
  ASSERT_TRUE(ReadHeifBoxes(file.data(), file.size(), boxes));
  ASSERT_TRUE(boxes.CameraOf(items.ids[0]));
  EXPECT_NEAR(*boxes.CameraOf(items.ids[0])->focalX, 0.001, 1e-7);
}

TEST(HeifReader, DisparityAdjustmentShiftsTheViewsAsAnMposCameraParallax) {
  ThreeItems items = EncodeThree();
  REQUIRE_HEVC_ENCODER(items);
  // -1000/10,000 of the width is the -10 % an MPO's maker note would give:
  // 64 x -10 x -0.01 = 6.4, so both are cut by 6 columns, the left view at
  // its right edge and the right view at its left edge (the views come
  // closer together).
  Bytes file = StereoFile(items);
  Bytes disparity;
  PutBe32(disparity, uint32_t(-1000));
  AddProperties(file, {items.ids[0]}, {{MakeUuidBox(kDisparityUuid, disparity)}});
  Picture left, right;
  ParallaxShiftX = 0;
  ASSERT_EQ(LoadMpoData(file.data(), file.size(), left, right), 1)
      << LastLoadFailure();
  int heifShift = ParallaxShiftX;

  synthetic::MpoOptions options;
  options.parallax.present = true;
  options.parallax.horizontalNumerator = -10;
  options.parallax.horizontalDenominator = 1;
  synthetic::Bytes card = synthetic::Compress(synthetic::TestCard(64, 48));
  synthetic::Bytes mpo = synthetic::BuildMpo({card, card}, options);
  Picture mpoLeft, mpoRight;
  ASSERT_EQ(LoadMpoData(mpo.data(), mpo.size(), mpoLeft, mpoRight), 1);
  EXPECT_EQ(heifShift, ParallaxShiftX);
  EXPECT_EQ(heifShift, 6);
  EXPECT_TRUE(SamePixels(left, CropPicture(LibheifDecode(file, items.ids[0]), 6, 0)));
  EXPECT_TRUE(SamePixels(right, CropPicture(LibheifDecode(file, items.ids[1]), -6, 0)));
  ParallaxShiftX = 0;
}

TEST(HeifReader, GridViewsAreAssembledByLibheif) {
  // A size the HEVC coder cannot take whole is stored as a grid around a
  // larger coded tile (libheif's writer does so), so the views are grids.
  Picture a = RampPicture(60, 44, 4), b = RampPicture(60, 44, 5);
  std::vector<uint32_t> ids;
  Bytes file = EncodeHeif({&a, &b}, 0, ids);
  if (ids.size() != 2) GTEST_SKIP() << "no HEVC encoder to make test files";
  ASSERT_NE(std::string(file.begin(), file.end()).find("grid"),
            std::string::npos);
  InsertIntoBox(file, {"meta"}, MakeBox("grpl", MakeGroup("ster", 7, {ids[1], ids[0]})));
  StereoStill still;
  ASSERT_TRUE(Decode(file, still)) << LastLoadFailure();
  EXPECT_EQ(PictureWidth(still.left), 60);
  EXPECT_EQ(PictureHeight(still.left), 44);
  EXPECT_TRUE(SamePixels(still.left, LibheifDecode(file, ids[1])));
  EXPECT_TRUE(SamePixels(still.right, LibheifDecode(file, ids[0])));
  // Reduced by 8 (44 rows leave 4 over): pixel (x, y) is the mean of the
  // block from (8x, 8y) counted from the top left, as libjpeg reduces.
  MpoViews reduced;
  ASSERT_TRUE(DecodeMpoViewsReduced(file.data(), file.size(), 8, reduced));
  EXPECT_EQ(PictureWidth(reduced.left), 7);
  EXPECT_EQ(PictureHeight(reduced.left), 5);
  for (auto [x, y] : {std::pair{0, 0}, {3, 2}, {6, 4}}) {
    int sum = 0;
    for (int dy = 0; dy < 8; ++dy)
      for (int dx = 0; dx < 8; ++dx)
        sum += BgrAt(still.left, 8 * x + dx, 8 * y + dy)[2];
    EXPECT_EQ(BgrAt(reduced.left, x, y)[2], sum / 64) << x << "," << y;
  }

  // A grid record claiming 30000 x 30000 behind the small size the item
  // announces is refused before libheif allocates it.
  std::string text(file.begin(), file.end());
  const std::string record("\0\0\0\0\0\x3c\0\x2c", 8);  // 60 x 44
  size_t at = text.find(record);
  ASSERT_NE(at, std::string::npos);
  for (; at != std::string::npos; at = text.find(record, at + 1)) {
    file[at + 4] = file[at + 6] = 0x75;
    file[at + 5] = file[at + 7] = 0x30;
  }
  ASSERT_TRUE(Decode(file, still) == false) << "a 30000 x 30000 grid was read";
  EXPECT_NE(LastLoadFailure().find("30000x30000 exceeds"), std::string::npos)
      << LastLoadFailure();
}

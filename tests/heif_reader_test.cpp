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
#include "reader_support.h"

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
  EXPECT_NE(LastLoadFailure().find("larger than the picture limit"),
            std::string::npos)
      << LastLoadFailure();
}

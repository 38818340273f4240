// The viewer's automatic alignment as the read-ahead prepares an item: a
// real photograph and a copy of it moved down by whole rows, stored as a
// pair and as a side-by-side still, come out of the read-ahead lined up
// only when alignment is on.  The rows the copy was moved by are the
// oracle, found again by a block search of the test's own.  Convergence is
// checked the same way on a scene of two depths built from two photographs
// with known column offsets.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/still_reader.h"
#include "image/stereo_writer.h"
#include "shell/auto_align.h"
#include "shell/item_prefetch.h"
#include "tests/test_support.h"

namespace {

constexpr int kMovedRows = 12;

// The picture moved down by `rows` (top-down), the top rows repeated.
Picture MovedDown(const Picture& p, int rows) {
  int w = PictureWidth(p), h = PictureHeight(p);
  Picture out = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y) {
    int from = std::max(0, y - rows);  // top-down source row
    std::memcpy(PictureRow(out.get(), h - 1 - y), PictureRow(p.get(), h - 1 - from),
                3 * static_cast<size_t>(w));
  }
  return out;
}

void WriteJpeg(const Picture& p, const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(EncodeJpeg(p, 95, true, bytes, error)) << error;
  WriteTestFile(path, bytes);
}

// The pair as two files, l.jpg and r.jpg, and as one side-by-side
// pair.jps, in a scratch folder named `name`; returns the folder.
std::string WritePairFiles(const std::string& name, const Picture& left,
                           const Picture& right) {
  const std::string folder = ScratchDir() + "/" + name;
  std::filesystem::create_directories(folder);
  WriteJpeg(left, folder + "/l.jpg");
  WriteJpeg(right, folder + "/r.jpg");
  WriteJpeg(JoinSideBySide(left, right), folder + "/pair.jps");
  return folder;
}

// The whole-row shift of the right view against the left one that matches
// best over the middle of the pictures (sum of absolute differences).
int BestRowShift(const Picture& left, const Picture& right) {
  int w = std::min(PictureWidth(left), PictureWidth(right));
  int h = std::min(PictureHeight(left), PictureHeight(right));
  int best = 0;
  long long bestSum = LLONG_MAX;
  for (int shift = -10; shift <= 10; ++shift) {
    long long sum = 0;
    for (int y = h / 4; y < 3 * h / 4; y += 2) {
      const uint8_t* l = PictureRow(left.get(), y);
      const uint8_t* r = PictureRow(right.get(), y - shift);
      for (int x = 3 * (w / 4); x < 3 * (3 * w / 4); ++x)
        sum += std::abs(l[x] - r[x]);
    }
    if (sum < bestSum) bestSum = sum, best = shift;
  }
  return best;
}

// Columns [x, x + w) of a picture, all rows.
Picture Columns(const Picture& p, int x, int w) {
  Picture out = CreatePicture(w, PictureHeight(p), 24);
  for (int y = 0; y < PictureHeight(p); ++y)
    std::memcpy(PictureRow(out.get(), y), PictureRow(p.get(), y) + 3 * x,
                3 * static_cast<size_t>(w));
  return out;
}

// `patch` copied into `p` with its top-left corner at (x, y), top-down.
void Paste(Picture& p, const Picture& patch, int x, int y) {
  int h = PictureHeight(p), ph = PictureHeight(patch);
  for (int row = 0; row < ph; ++row)
    std::memcpy(PictureRow(p.get(), h - 1 - (y + row)) + 3 * x,
                PictureRow(patch.get(), ph - 1 - row),
                3 * static_cast<size_t>(PictureWidth(patch)));
}

struct Box {
  int x0, y0, x1, y1;  // top-down, [x0, x1) x [y0, y1)
};

// The disparity (x_right - x_left) that best matches the left view's box in
// the right view, in whole columns, searched over -40..40.
int BestColumnShift(const Picture& left, const Picture& right, Box box) {
  int h = PictureHeight(left);
  int best = 0;
  long long bestSum = LLONG_MAX;
  for (int t = -40; t <= 40; ++t) {
    if (box.x0 + t < 0 || box.x1 + t > PictureWidth(right)) continue;
    long long sum = 0;
    for (int y = box.y0; y < box.y1; ++y) {
      const uint8_t* l = PictureRow(left.get(), h - 1 - y);
      const uint8_t* r = PictureRow(right.get(), h - 1 - y);
      for (int x = 3 * box.x0; x < 3 * box.x1; ++x)
        sum += std::abs(l[x] - r[x + 3 * t]);
    }
    if (sum < bestSum) bestSum = sum, best = t;
  }
  return best;
}

}  // namespace

TEST(AutoAlign, ReadAheadLinesUpPairsAndSideBySideStillsOnlyWhenOn) {
  const char* photo = "jpeg/ci_oregon_DSC_0307_camera_com_trailing.jpg";
  REQUIRE_TEST_FILES(photo);
  Picture left = DecodeStill(TestDataPath(photo)).picture;
  ASSERT_TRUE(left);
  Picture right = MovedDown(left, kMovedRows);
  const std::string folder = WritePairFiles("auto-align", left, right);

  FitSettings fit;
  fit.screen = {800, 600};  // the views are fitted at half their size
  fit.commentOn = false;
  for (bool on : {false, true}) {
    fit.autoAlign = on;
    SCOPED_TRACE(on ? "alignment on" : "alignment off");
    PreparedItem pair;
    ASSERT_TRUE(PrepareItem(MakeItemRequest(ItemShape::Pair, folder + "/l.jpg",
                                            folder + "/r.jpg", fit, ""),
                            pair));
    // Stored rows count from the bottom: the moved copy's content sits
    // lower, at smaller stored rows.
    EXPECT_EQ(BestRowShift(pair.left, pair.right), on ? 0 : kMovedRows / 2);
    EXPECT_EQ(pair.alignNote.rfind("aligned", 0) == 0, on) << pair.alignNote;

    PreparedItem still;
    ASSERT_TRUE(PrepareItem(MakeItemRequest(ItemShape::SideBySide,
                                            folder + "/pair.jps", {}, fit, ""),
                            still));
    int half = PictureWidth(still.left) / 2;
    Picture a = CropPicture(still.left, PictureWidth(still.left) - half, 0);
    Picture b = CropPicture(still.left, -(PictureWidth(still.left) - half), 0);
    // Fitted to twice the screen width: the halves keep their full height
    // scale of 800 / 1600.
    EXPECT_EQ(BestRowShift(a, b), on ? 0 : kMovedRows / 2);
    EXPECT_EQ(still.alignNote.empty(), !on);
  }
}

// A scene of two depths: a photograph as the background with disparity
// -20 px and a second photograph pasted in front of it with disparity
// -60 px, the nearest content.  Convergence must bring the pasted one to
// zero disparity and push the background behind the screen (+40 px), for a
// pair of files and for the same pair as a side-by-side still, with and
// without the alignment correction.  Views are fitted at half size.
TEST(AutoAlign, ConvergencePutsTheNearestContentAtTheScreenPlane) {
  const char* photo = "jpeg/ci_oregon_DSC_0307_camera_com_trailing.jpg";
  const char* front = "jpeg/pillow_flower.jpg";
  REQUIRE_TEST_FILES(photo, front);
  Picture scene = DecodeStill(TestDataPath(photo)).picture;
  Picture patch = DecodeStill(TestDataPath(front)).picture;
  ASSERT_TRUE(scene && patch);
  ASSERT_EQ(PictureWidth(scene), 1600);
  ASSERT_EQ(PictureHeight(scene), 1200);
  constexpr int kBack = 20, kNear = 60, kPatchX = 600, kPatchY = 400;
  Picture left = Columns(scene, 0, 1560);
  Picture right = Columns(scene, kBack, 1560);
  Paste(left, patch, kPatchX, kPatchY);
  Paste(right, patch, kPatchX - kNear, kPatchY);
  const std::string folder = WritePairFiles("auto-converge", left, right);

  FitSettings fit;
  fit.screen = {800, 600};
  fit.commentOn = false;
  struct Case {
    bool converge, align;
  };
  for (Case c : {Case{false, false}, Case{true, false}, Case{true, true}}) {
    fit.autoConverge = c.converge;
    fit.autoAlign = c.align;
    SCOPED_TRACE(std::string(c.converge ? "converge" : "as shot") +
                 (c.align ? " + align" : ""));
    PreparedItem pair, still;
    ASSERT_TRUE(PrepareItem(MakeItemRequest(ItemShape::Pair, folder + "/l.jpg",
                                            folder + "/r.jpg", fit, ""),
                            pair));
    ASSERT_TRUE(PrepareItem(MakeItemRequest(ItemShape::SideBySide,
                                            folder + "/pair.jps", {}, fit, ""),
                            still));
    int sw = PictureWidth(still.left), half = sw / 2;
    Picture views[2][2] = {
        {std::move(pair.left), std::move(pair.right)},
        {CropPicture(still.left, sw - half, 0),
         CropPicture(still.left, -(sw - half), 0)}};
    for (auto& v : views) {
      ASSERT_EQ(PictureHeight(v[0]), 600);
      // Where the pasted photograph sits in the shown left view (its
      // middle, clear of the edges), and a band of background above it.
      int cut = c.converge ? kNear : 0;  // columns the left view lost
      Box near{(kPatchX - cut + 60) / 2, (kPatchY + 60) / 2,
               (kPatchX - cut + 420) / 2, (kPatchY + 300) / 2};
      Box back{near.x0, 40, near.x1, kPatchY / 2 - 20};
      EXPECT_NEAR(BestColumnShift(v[0], v[1], near),
                  c.converge ? 0 : -kNear / 2, 1);
      EXPECT_NEAR(BestColumnShift(v[0], v[1], back),
                  c.converge ? (kNear - kBack) / 2 : -kBack / 2, 1);
    }
    if (!c.converge) {
      EXPECT_TRUE(pair.alignTitle.empty());
    } else {
      EXPECT_NE(pair.alignTitle.find("視差調整 奥へ"), std::string::npos)
          << pair.alignTitle;
      EXPECT_EQ(pair.alignTitle.rfind("補正: 回転", 0) == 0, c.align)
          << pair.alignTitle;
      EXPECT_EQ(still.alignTitle, pair.alignTitle);
    }
  }
}

// What the title is told when nothing could be done: a flat pair cannot
// be measured, and an MPO's camera parallax has set its depth already.
TEST(AutoAlign, ConvergenceSaysWhyItLeftThePairAlone) {
  Picture flatLeft = CreatePicture(640, 480, 24);
  Picture flatRight = CreatePicture(640, 480, 24);
  const uint8_t* before = flatLeft.get();
  AlignOutcome flat =
      AlignPairForDisplay(flatLeft, flatRight, {false, true}, false);
  EXPECT_EQ(flat.title,
            "自動視差調整: 測定できません（左右で一致する部分が少なすぎます）");
  EXPECT_FALSE(flat.changed);
  EXPECT_EQ(flatLeft.get(), before);

  AlignOutcome camera =
      AlignPairForDisplay(flatLeft, flatRight, {false, true}, true);
  EXPECT_EQ(camera.title, "視差調整なし（カメラの視差情報で表示）");
  EXPECT_FALSE(camera.changed);
  EXPECT_EQ(flatLeft.get(), before);
}

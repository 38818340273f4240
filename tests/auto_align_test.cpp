// The viewer's automatic alignment as the read-ahead prepares an item: a
// real photograph and a copy of it moved down by whole rows, stored as a
// pair and as a side-by-side still, come out of the read-ahead lined up
// only when alignment is on.  The rows the copy was moved by are the
// oracle, found again by a block search of the test's own.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/still_reader.h"
#include "image/stereo_writer.h"
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

}  // namespace

TEST(AutoAlign, ReadAheadLinesUpPairsAndSideBySideStillsOnlyWhenOn) {
  const char* photo = "jpeg/ci_oregon_DSC_0307_camera_com_trailing.jpg";
  REQUIRE_TEST_FILES(photo);
  Picture left = DecodeStill(TestDataPath(photo)).picture;
  ASSERT_TRUE(left);
  Picture right = MovedDown(left, kMovedRows);
  const std::string folder = ScratchDir() + "/auto-align";
  std::filesystem::create_directories(folder);
  WriteJpeg(left, folder + "/l.jpg");
  WriteJpeg(right, folder + "/r.jpg");
  WriteJpeg(JoinSideBySide(left, right), folder + "/pair.jps");

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

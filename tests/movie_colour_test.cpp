// Movie frames in the colours their streams declare: values worked by hand
// from each matrix's equations (full range keeps 0..255), the wide and the
// table conversion giving the same bytes for every colour set (so no result
// depends on the processor), and interlaced 4:2:0 frames taking each row's
// chroma from its own field.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <utility>
#include <vector>

#include "core/viewer_state.h"
#include "image/comment.h"
#include "stereo/anaglyph.h"
#include "stereo/framebuffer.h"
#include "stereo/movie_frame.h"
#include "stereo/stereo_format.h"

namespace {

using Bgr = std::array<uint8_t, 3>;

const YuvColour kColours[] = {
    {YuvMatrix::Bt601, false}, {YuvMatrix::Bt601, true},
    {YuvMatrix::Bt709, false}, {YuvMatrix::Bt709, true},
    {YuvMatrix::Bt2020, false}, {YuvMatrix::Bt2020, true}};

// Declares `colour` as the grabbed frame's for the scope.
class DeclaredColour {
 public:
  explicit DeclaredColour(YuvColour colour) {
    GrabbedFrame frame;
    frame.colour = colour;
    SetGrabbedFrame(frame);
  }
  ~DeclaredColour() { SetGrabbedFrame({}); }
};

Bgr Convert(uint8_t y, uint8_t u, uint8_t v) {
  const uint8_t pair[4] = {y, u, y, v};
  Bgr out;
  ConvertYuy2Row(pair, 0, 1, out.data());
  return out;
}

class MovieColourTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    Viewer.CommentOn = false;
    ClearCurrentComment();
    ResetMovieFrameState();
  }
  void TearDown() override {
    SetGrabbedFrame({});
    ResetMovieFrameState();
  }
};

}  // namespace

// R = Y' + 2(1 - kr) Cr, B = Y' + 2(1 - kb) Cb, G from both, each term
// rounded: (kr, kb) = (0.299, 0.114), (0.2126, 0.0722), (0.2627, 0.0593);
// studio range scales Y - 16 by 255/219 and UV - 128 by 255/224.
TEST_F(MovieColourTest, EachMatrixAndRangeGivesItsOwnColours) {
  struct Case {
    YuvColour colour;
    std::array<uint8_t, 3> yuv;
    Bgr bgr;
  } cases[] = {
      // Full range: black, white and a dark grey stay where they are
      // (studio range would make Y 16 black).
      {{YuvMatrix::Bt601, true}, {0, 128, 128}, {0, 0, 0}},
      {{YuvMatrix::Bt601, true}, {255, 128, 128}, {255, 255, 255}},
      {{YuvMatrix::Bt601, true}, {16, 128, 128}, {16, 16, 16}},
      {{YuvMatrix::Bt601, false}, {16, 128, 128}, {0, 0, 0}},
      {{YuvMatrix::Bt601, true}, {128, 128, 200}, {128, 77, 229}},
      // One YUV value under each matrix.
      {{YuvMatrix::Bt601, false}, {126, 100, 170}, {72, 105, 195}},
      {{YuvMatrix::Bt709, false}, {126, 100, 170}, {69, 112, 203}},
      {{YuvMatrix::Bt2020, false}, {126, 100, 170}, {68, 106, 199}},
      {{YuvMatrix::Bt709, true}, {126, 100, 170}, {74, 111, 192}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "matrix " << int(c.colour.matrix) << " full "
                 << c.colour.fullRange << " yuv " << int(c.yuv[0]) << ","
                 << int(c.yuv[1]) << "," << int(c.yuv[2]));
    DeclaredColour declared(c.colour);
    EXPECT_EQ(Convert(c.yuv[0], c.yuv[1], c.yuv[2]), c.bgr);
  }
}

// Single pixels take the table loop, longer runs the wide one where the
// processor has it: for every colour set they must agree byte for byte,
// and so must Dubois mixed straight from the rows.
TEST_F(MovieColourTest, WideAndTableConversionsAgreeForEveryColourSet) {
  std::vector<uint8_t> row(4 * 256 + 64), other(4 * 256 + 64);
  std::mt19937 random(11);
  for (int i = 0; i < 256; ++i) {
    row[4 * i] = uint8_t(i);
    row[4 * i + 1] = uint8_t(i * 97 + 13);
    row[4 * i + 2] = uint8_t(255 - i);
    row[4 * i + 3] = uint8_t(i * 61 + 200);
  }
  for (auto& b : other) b = uint8_t(random());
  Yuy2WordCombiner mix = Yuy2WordCombinerOf(DuboisAnaglyph);
  for (const YuvColour& colour : kColours) {
    SCOPED_TRACE(testing::Message() << "matrix " << int(colour.matrix)
                                    << " full " << colour.fullRange);
    DeclaredColour declared(colour);
    std::vector<uint8_t> whole(3 * 512), alone(3);
    for (auto [first, count] : {std::pair{0, 512}, {1, 511}, {3, 37}}) {
      ConvertYuy2Row(row.data(), first, count, whole.data());
      for (int x = 0; x < count; ++x) {
        ConvertYuy2Row(row.data(), first + x, 1, alone.data());
        ASSERT_TRUE(std::equal(alone.begin(), alone.end(), &whole[3 * x]))
            << "first " << first << " pixel " << x;
      }
    }
    if (!mix) continue;  // no wide mix on this processor: nothing to compare
    constexpr int n = 130;
    std::vector<uint32_t> words(n);
    mix(words.data(), row.data(), 1, other.data(), 0, n);
    std::vector<uint8_t> f(3 * n), s(3 * n);
    ConvertYuy2Row(row.data(), 1, n, f.data());
    ConvertYuy2Row(other.data(), 0, n, s.data());
    for (int i = 0; i < n; ++i) {
      uint8_t one[3];
      RowCombinerOf(DuboisAnaglyph)(one, &f[3 * i], &s[3 * i], 1);
      ASSERT_EQ(words[i], Rgb(one[2], one[1], one[0])) << "pixel " << i;
    }
  }
}

// An interlaced 4:2:0 frame holds chroma row k for field k % 2: rows 4j and
// 4j + 2 share chroma row 2j, rows 4j + 1 and 4j + 3 chroma row 2j + 1.
// A progressive frame gives row r chroma row r / 2.
TEST_F(MovieColourTest, InterlacedFramesTakeTheirFieldsChroma) {
  constexpr int kWidth = 4, kHeight = 8;
  std::vector<uint8_t> luma(kWidth * kHeight, 128), u(2 * 4, 128), v(2 * 4);
  for (int k = 0; k < 4; ++k) v[2 * k] = v[2 * k + 1] = uint8_t(60 + 40 * k);
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced ? "interlaced" : "progressive");
    GrabbedFrame frame{kWidth, kHeight, FrameYuv420, luma.data(), kWidth, {}};
    frame.u = u.data();
    frame.v = v.data();
    frame.chromaStride = 2;
    frame.interlaced = interlaced;
    SetGrabbedFrame(frame);
    ResetMovieFrameState();
    ASSERT_TRUE(BuildFramePicture());
    for (int r = 0; r < kHeight; ++r) {
      int chroma = interlaced ? (r / 4) * 2 + r % 2 : r / 2;
      Bgr want = Convert(128, 128, v[2 * chroma]);
      const uint8_t* px =
          PictureRow(FramePicture().get(), kHeight - 1 - r) + 3 * 1;
      EXPECT_EQ((Bgr{px[0], px[1], px[2]}), want) << "row " << r;
    }
    // The rows a renderer mixes straight from the frame pair the same way.
    ResetMovieFrameState();
    ASSERT_TRUE(BuildFramePicture(/*deferRows=*/true));
    YuvRows rows = FrameYuvRows();
    ASSERT_TRUE(rows);
    for (int r = 0; r < kHeight; ++r) {
      int chroma = interlaced ? (r / 4) * 2 + r % 2 : r / 2;
      EXPECT_EQ(rows.StoredRow(kHeight - 1 - r).v, v.data() + 2 * chroma)
          << "row " << r;
    }
    CompleteFramePicture();
  }
}

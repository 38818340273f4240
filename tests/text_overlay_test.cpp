#include "stereo/text_overlay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "image/comment.h"
#include "platform/qt_text_painter.h"
#include "resources/string_table.h"
#include "core/viewer_state.h"
#include "stereo/present.h"

namespace {

void SetComment(const std::string& text) {
  SetCurrentComment(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool Lit(uint32_t c) { return (c & 0xFFFFFF) != 0; }
bool NearWhite(uint32_t c) {
  return RedOf(c) >= 250 && GreenOf(c) >= 250 && BlueOf(c) >= 250;
}
bool NearBlack(uint32_t c) {
  return RedOf(c) <= 5 && GreenOf(c) <= 5 && BlueOf(c) <= 5;
}

// The bounding box of the pixels satisfying `pred` inside `area`; width 0
// when there are none.
template <typename Pred>
Rect Extent(const Framebuffer& fb, const Rect& area, Pred pred) {
  int x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  for (int y = std::max(area.y, 0); y < std::min(area.y + area.height, fb.height); ++y)
    for (int x = std::max(area.x, 0); x < std::min(area.x + area.width, fb.width); ++x)
      if (pred(fb.At(x, y))) {
        x0 = std::min(x0, x), x1 = std::max(x1, x);
        y0 = std::min(y0, y), y1 = std::max(y1, y);
      }
  if (x1 < 0) return {};
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

Framebuffer Filled(int w, int h, uint32_t colour) {
  Framebuffer fb;
  fb.Resize(w, h);
  std::fill(fb.pixels.begin(), fb.pixels.end(), colour);
  return fb;
}

// A band's pixels read back top-down from a bottom-up picture.
Framebuffer FromPicture(const Picture& p) {
  Framebuffer fb;
  fb.Resize(PictureWidth(p), PictureHeight(p));
  for (int y = 0; y < fb.height; ++y) {
    const uint8_t* row = PictureRow(p.get(), fb.height - 1 - y);
    for (int x = 0; x < fb.width; ++x)
      fb.Row(y)[x] = Rgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
  }
  return fb;
}

class TextOverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Viewer = ViewerState();
    ClearCurrentComment();
  }
  void TearDown() override { ClearCurrentComment(); }
};

TEST(StringTableTest, IdsAscendUniquelyAndEveryHelpLineHasText) {
  auto table = StringTable();
  for (size_t i = 1; i < table.size(); ++i)
    EXPECT_LT(table[i - 1].id, table[i].id) << table[i].id;
  for (int k = 0; k < kHelpLineCount; ++k) {
    EXPECT_NE(FindString(kHelpFirstString + k), nullptr) << k;
    EXPECT_TRUE(IsValidUtf8(StringText(kHelpFirstString + k))) << k;
  }
  EXPECT_EQ(FindString(kHelpFirstString + kHelpLineCount), nullptr);
  EXPECT_TRUE(StringText(-1).empty());
  // Every key of the alignment options is in the key help.
  for (const char* key : {"[L]", "[V]"}) {
    int found = 0;
    for (int k = 0; k < kHelpLineCount; ++k)
      found += StringText(kHelpFirstString + k).rfind(key, 0) == 0;
    EXPECT_EQ(found, 1) << key;
  }
}

TEST_F(TextOverlayTest, JapaneseTextComesOutAsGlyphsNotBoxes) {
  TextStyle style;
  style.face = Viewer.FontFace;  // a Windows face name; fontconfig stands in
  style.height = 32;
  style.weight = 600;
  EXPECT_TRUE(HasGlyphsFor("日本語のコメント：立体写真", style));
  EXPECT_FALSE(HasGlyphsFor("\uFFFF", style));  // the check can fail
  // Missing-glyph boxes all look alike; real glyphs differ.
  Framebuffer a = Filled(200, 40, kBlack), b = Filled(200, 40, kBlack);
  SetComment("日本語");
  DrawCommentText(a, {0, 0, 200, 40});
  SetComment("写真集");
  DrawCommentText(b, {0, 0, 200, 40});
  EXPECT_GT(Extent(a, {0, 0, 200, 40}, Lit).width, 0);
  EXPECT_NE(a.pixels, b.pixels);
}

TEST_F(TextOverlayTest, FortyPixelBandUsesAThirtyTwoPixelFontFourPixelsDown) {
  Framebuffer fb = Filled(300, 200, kWhite);
  SetComment("日本語");
  Rect band{20, 100, 260, 40};
  DrawCommentText(fb, band);
  Rect ink = Extent(fb, band, Lit);
  ASSERT_GT(ink.width, 0);
  // Ideographs fill most of their em box: a 32-pixel font inks about 28-31
  // rows starting at the text's top, 4 rows into the band.
  EXPECT_GE(ink.y, 104);
  EXPECT_LE(ink.y, 107);
  EXPECT_GE(ink.height, 26);
  EXPECT_LE(ink.y + ink.height, 104 + 32 + 1);
  // Centred on the band's middle column.
  EXPECT_NEAR(ink.x + ink.width / 2.0, 20 + 130, 3);
  // The band is black around the text; nothing outside it changes.
  EXPECT_EQ(fb.At(21, 101), kBlack);
  EXPECT_EQ(fb.At(278, 138), kBlack);
  EXPECT_EQ(Extent(fb, {0, 0, 300, 100}, [](uint32_t c) { return c != kWhite; }).width, 0);
  EXPECT_EQ(fb.At(19, 120), kWhite);
  EXPECT_EQ(fb.At(280, 120), kWhite);
  EXPECT_EQ(fb.At(150, 140), kWhite);
}

TEST_F(TextOverlayTest, CommentTextIsLightGreyAndScalesWithTheBand) {
  SetComment("日本語");
  Framebuffer small = Filled(400, 20, kBlack), large = Filled(400, 100, kBlack);
  DrawCommentText(small, {0, 0, 400, 20});
  DrawCommentText(large, {0, 0, 400, 100});
  Rect s = Extent(small, {0, 0, 400, 20}, Lit);
  Rect l = Extent(large, {0, 0, 400, 100}, Lit);
  ASSERT_GT(s.width, 0);
  ASSERT_GT(l.width, 0);
  EXPECT_NEAR(double(l.height) / s.height, 80.0 / 16.0, 0.8);
  EXPECT_GE(l.y, 10);  // top at a tenth of the band
  int brightest = 0;
  for (uint32_t c : large.pixels) {
    EXPECT_TRUE(RedOf(c) == GreenOf(c) && GreenOf(c) == BlueOf(c));
    brightest = std::max(brightest, RedOf(c));
  }
  EXPECT_EQ(brightest, 192);
}

TEST_F(TextOverlayTest, CommentIsClippedToItsBandAndToTheFramebuffer) {
  SetComment(std::string(40, 'W') + "日本語");
  Framebuffer fb = Filled(200, 100, kWhite);
  DrawCommentText(fb, {50, 60, 60, 30});  // the text is far wider than 60
  EXPECT_EQ(Extent(fb, {0, 0, 200, 100}, [](uint32_t c) { return c != kWhite; }).width, 60);
  // Partly outside the framebuffer: only the part inside changes.
  Framebuffer before = fb;
  DrawCommentText(fb, {-30, 80, 300, 40});
  EXPECT_TRUE(std::equal(fb.pixels.begin(), fb.pixels.begin() + 80 * 200,
                         before.pixels.begin()));
  EXPECT_EQ(Extent(fb, {0, 80, 200, 20}, [](uint32_t c) { return c == kWhite; }).width, 0);
}

TEST_F(TextOverlayTest, EmptyCommentDrawsNothingButBlack) {
  Framebuffer fb = Filled(100, 50, kWhite);
  DrawCommentText(fb, {10, 10, 80, 30});
  EXPECT_EQ(Extent(fb, {10, 10, 80, 30}, Lit).width, 0);
  EXPECT_EQ(fb.At(9, 10), kWhite);
  Picture band = RenderCommentBand(120, 40);
  ASSERT_TRUE(band);
  EXPECT_EQ(PictureWidth(band), 120);
  EXPECT_EQ(PictureHeight(band), 40);
  Framebuffer read = FromPicture(band);
  EXPECT_EQ(Extent(read, {0, 0, 120, 40}, Lit).width, 0);
}

TEST_F(TextOverlayTest, BandCarriesTheCommentOnceUnderEachView) {
  SetComment("日本語");
  Picture band = RenderCommentBand(400, 40);
  ASSERT_TRUE(band);
  Framebuffer read = FromPicture(band);
  Rect left = Extent(read, {0, 0, 200, 40}, Lit);
  Rect right = Extent(read, {200, 0, 200, 40}, Lit);
  ASSERT_GT(left.width, 0);
  EXPECT_NEAR(left.x + left.width / 2.0, 100, 3);
  EXPECT_GE(left.y, 4);  // the text's top at a tenth of the band, not below-up
  // The two copies are the same pixels half a band apart.
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x)
      ASSERT_EQ(read.At(x, y), read.At(x + 200, y)) << x << "," << y;
  EXPECT_EQ(right.y, left.y);
}

TEST_F(TextOverlayTest, PictureBandMatchesTheScreenDrawing) {
  SetComment("コメント");
  Picture picture = CreatePicture(160, 90, 24);
  std::memset(PicturePixels(picture), 0x80, size_t(RowStride(160, 24)) * 90);
  DrawCommentText(picture, {20, 60, 120, 30});
  Framebuffer read = FromPicture(picture);
  Framebuffer screen = Filled(120, 30, kBlack);
  DrawCommentText(screen, {0, 0, 120, 30});
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 120; ++x)
      ASSERT_EQ(read.At(20 + x, 60 + y), screen.At(x, y)) << x << "," << y;
  EXPECT_EQ(read.At(19, 70), Rgb(0x80, 0x80, 0x80));
  EXPECT_EQ(read.At(80, 59), Rgb(0x80, 0x80, 0x80));
}

class HelpOverlayTest : public TextOverlayTest {
 protected:
  void SetUp() override {
    TextOverlayTest::SetUp();
    SetClientSize(480, 400);
    left = Grey(240, 120);
    right = Grey(240, 120);
  }
  static Picture Grey(int w, int h) {
    Picture p = CreatePicture(w, h, 24);
    std::memset(PicturePixels(p), 128, size_t(RowStride(w, 24)) * h);
    return p;
  }
  // Near-white pixels in the rows of help line k.
  static bool LineHasWhite(int k) {
    return Extent(Presentation.frame, {0, 23 + 20 * k - 3, 480, 20}, NearWhite)
               .width > 0;
  }
  Picture left, right;
};

TEST_F(HelpOverlayTest, OffDrawsNothing) {
  Viewer.StereoType = SideBySide;
  PresentStereoPair(left, right);
  for (int k = 0; k < kHelpLineCount; ++k) EXPECT_FALSE(LineHasWhite(k)) << k;
}

TEST_F(HelpOverlayTest, DrawnLastOverPictureAndMarginsInEveryFormat) {
  SetClientSize(480, 440);  // room for every line
  Viewer.HelpOverlayOn = true;
  for (const StereoFormatEntry& format : StereoFormats()) {
    Viewer.StereoType = format.code;
    Viewer.BackgroundDirty = true;
    ASSERT_EQ(PresentStereoPair(left, right), 0) << format.name;
    for (int k = 0; k < kHelpLineCount; ++k)
      EXPECT_TRUE(LineHasWhite(k)) << format.name << " line " << k;
    // White starts at the second pass's row, not above it.
    Rect first = Extent(Presentation.frame, {0, 0, 480, 40}, NearWhite);
    EXPECT_GE(first.y, 21) << format.name;
    EXPECT_GE(first.x, 3) << format.name;
  }
}

TEST_F(HelpOverlayTest, FourSecondKeyLinesFollowTheHelpText) {
  SetClientSize(480, 520);
  Viewer.HelpOverlayOn = true;
  Viewer.StereoType = AnaglyphRedCyan;  // grey views: no white of their own
  PresentStereoPair(left, right);
  for (int k = kHelpLineCount; k < kHelpLineCount + 4; ++k)
    EXPECT_TRUE(LineHasWhite(k)) << k;
  EXPECT_FALSE(LineHasWhite(kHelpLineCount + 4));
}

// Over a light picture the lines sit on a dark panel: white text with a
// black shadow, on what is behind it at 80/256 of its brightness.
TEST_F(HelpOverlayTest, WhiteTextHasABlackShadowOnADarkPanelOverThePicture) {
  Viewer.HelpOverlayOn = true;
  Viewer.StereoType = SideBySide;  // views fill rows 140-259 from column 0
  PresentStereoPair(left, right);
  Rect line{0, 23 + 20 * 7 - 3, 480, 20};  // a line over the picture
  EXPECT_GT(Extent(Presentation.frame, line, NearWhite).width, 0);
  EXPECT_GT(Extent(Presentation.frame, line, NearBlack).width, 0);
  EXPECT_EQ(Presentation.frame.At(0, 23 + 20 * 7), Rgb(40, 40, 40));
  EXPECT_EQ(Presentation.frame.At(479, 23 + 20 * 7), Rgb(128, 128, 128));
}

}  // namespace

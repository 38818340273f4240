// JPS descriptors: every arrangement and eye order cut against a
// hand-placed frame, damaged descriptors falling back to the old rule, and
// our own JPS read back (and thumbnailed) as it was written.  The Exif size
// tags set in place in both byte orders, and no parallax carried along.
// exiftool and Pillow judge the files themselves in
// tests/conformance/test_stereo_files.py.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/exif_copy.h"
#include "image/jps_layout.h"
#include "image/mpo_reader.h"
#include "image/still_reader.h"
#include "image/stereo_writer.h"
#include "stereo/thumbnail.h"
#include "tests/synthetic_jpeg.h"

namespace {

// Pixel (x, y) from the top of `p` as blue, green, red.
const uint8_t* At(const Picture& p, int x, int y) {
  return PictureRow(p.get(), PictureHeight(p) - 1 - y) + 3 * x;
}
uint8_t* At(Picture& p, int x, int y) {
  return PictureRow(p.get(), PictureHeight(p) - 1 - y) + 3 * x;
}

// A frame whose every pixel names the view it belongs to (blue 1 for the
// first view, 2 for the second) and its place in that view (green x, red
// y), placed as the layout's own description says.
Picture LabelledFrame(JpsArrangement arrangement, int viewW, int viewH) {
  bool sideBySide = arrangement == JpsArrangement::SideBySide;
  int w = sideBySide ? 2 * viewW : viewW;
  int h = sideBySide ? viewH : 2 * viewH;
  Picture frame = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int view = 1, vx = x, vy = y;
      if (sideBySide && x >= viewW) view = 2, vx = x - viewW;
      if (arrangement == JpsArrangement::OverUnder && y >= viewH)
        view = 2, vy = y - viewH;
      if (arrangement == JpsArrangement::Interleaved) view = 1 + y % 2, vy = y / 2;
      uint8_t* p = At(frame, x, y);
      p[0] = uint8_t(view);
      p[1] = uint8_t(vx);
      p[2] = uint8_t(vy);
    }
  return frame;
}

// Every pixel of `view` came from view `label` at its own place.
void ExpectView(const Picture& view, int label, int w, int h) {
  ASSERT_TRUE(view);
  ASSERT_EQ(PictureWidth(view), w);
  ASSERT_EQ(PictureHeight(view), h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = At(view, x, y);
      ASSERT_EQ(p[0], label) << x << "," << y;
      ASSERT_EQ(p[1], x) << x << "," << y;
      ASSERT_EQ(p[2], y) << x << "," << y;
    }
}

// A JPEG start with one APP3 segment holding `body`.
std::vector<uint8_t> WithApp3(const std::vector<uint8_t>& body) {
  size_t length = body.size() + 2;
  std::vector<uint8_t> out = {0xFF, 0xD8, 0xFF, 0xE3, uint8_t(length >> 8),
                              uint8_t(length & 0xFF)};
  out.insert(out.end(), body.begin(), body.end());
  out.insert(out.end(), {0xFF, 0xDA, 0, 2, 0xFF, 0xD9});
  return out;
}

std::vector<uint8_t> Descriptor(uint8_t flags, uint8_t layout, uint8_t type) {
  std::vector<uint8_t> body = {'_', 'J', 'P', 'S', 'J', 'P', 'S', '_', 0, 4,
                               0, flags, layout, type};
  return body;
}

double MeanDifference(const Picture& a, const Picture& b) {
  double sum = 0;
  int w = PictureWidth(a), h = PictureHeight(a);
  for (int y = 0; y < h; ++y)
    for (int k = 0; k < 3 * w; ++k)
      sum += std::abs(PictureRow(a.get(), y)[k] - PictureRow(b.get(), y)[k]);
  return sum / (3.0 * w * h);
}

Picture Pattern(int w, int h, int seed) {
  Picture p = CreatePicture(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = At(p, x, y);
      // Smooth ramps, which JPEG keeps to a level or two.
      px[0] = uint8_t(seed * 90);
      px[1] = uint8_t(40 + y * 150 / h);
      px[2] = uint8_t(40 + x * 150 / w);
    }
  return p;
}

}  // namespace

TEST(JpsLayout, EachArrangementAndEyeOrderGivesTheDeclaredViews) {
  struct Case {
    uint8_t layoutByte;
    JpsArrangement arrangement;
  } cases[] = {{1, JpsArrangement::Interleaved},
               {2, JpsArrangement::SideBySide},
               {3, JpsArrangement::OverUnder}};
  for (const Case& c : cases)
    for (uint8_t flags : {0, 4, 1 | 2 | 4}) {
      SCOPED_TRACE(testing::Message() << "layout " << int(c.layoutByte)
                                      << " flags " << int(flags));
      std::vector<uint8_t> bytes = WithApp3(Descriptor(flags, c.layoutByte, 1));
      JpsLayout layout = ReadJpsLayout(bytes.data(), bytes.size());
      ASSERT_TRUE(layout.declared);
      EXPECT_EQ(layout.arrangement, c.arrangement);
      Picture frame = LabelledFrame(c.arrangement, 5, 3);
      Picture left, right;
      ASSERT_TRUE(SplitJpsViews(frame, layout, left, right));
      bool leftFirst = flags & 4;
      ExpectView(left, leftFirst ? 1 : 2, 5, 3);
      ExpectView(right, leftFirst ? 2 : 1, 5, 3);
      // The segment we write says the same.
      std::vector<uint8_t> ours = JpsDescriptorSegment(layout);
      ours.insert(ours.begin(), {0xFF, 0xD8});
      JpsLayout again = ReadJpsLayout(ours.data(), ours.size());
      EXPECT_TRUE(again.declared);
      EXPECT_EQ(again.arrangement, layout.arrangement);
      EXPECT_EQ(again.leftFirst, layout.leftFirst);
      EXPECT_EQ(again.halfWidth, layout.halfWidth);
    }
}

// Mono, anaglyph, short or overrunning descriptors are no layout to follow:
// the left half stays the left view.
TEST(JpsLayout, DescriptorsThatCannotBeFollowedKeepTheLeftHalfRule) {
  std::vector<std::vector<uint8_t>> files = {
      WithApp3(Descriptor(4, 3, 0)),   // mono
      WithApp3(Descriptor(4, 4, 1)),   // anaglyph
      WithApp3(Descriptor(4, 9, 1)),   // unknown layout
      WithApp3({'_', 'J', 'P', 'S', 'J', 'P', 'S', '_', 0, 4, 0, 4}),
      WithApp3({'_', 'J', 'P', 'S', 'J', 'P', 'S', '_', 0, 2, 0, 0, 3, 1}),
      WithApp3({'_', 'J', 'P', 'S', 'X', 'P', 'S', '_', 0, 4, 0, 0, 3, 1}),
  };
  // A segment whose length runs past the end.
  std::vector<uint8_t> overrun = WithApp3(Descriptor(0, 3, 1));
  overrun.resize(12);
  overrun[5] = 0xFF;
  files.push_back(overrun);
  for (const auto& file : files) {
    JpsLayout layout = ReadJpsLayout(file.data(), file.size());
    EXPECT_FALSE(layout.declared);
    Picture frame = LabelledFrame(JpsArrangement::SideBySide, 4, 2);
    Picture left, right;
    ASSERT_TRUE(SplitJpsViews(frame, layout, left, right));
    ExpectView(left, 1, 4, 2);
    ExpectView(right, 2, 4, 2);
  }
  // After the scan begins, nothing is a descriptor any more.
  std::vector<uint8_t> late = {0xFF, 0xD8, 0xFF, 0xDA, 0, 2};
  std::vector<uint8_t> segment = WithApp3(Descriptor(0, 3, 1));
  late.insert(late.end(), segment.begin() + 2, segment.end());
  EXPECT_FALSE(ReadJpsLayout(late.data(), late.size()).declared);
}

// Our JPS puts the right view in the left half, as JPS readers expect, and
// says so; our reader gives back the views it was written from, and so does
// the thumbnailer's left view.
TEST(JpsLayout, OurJpsIsReadBackWithTheViewsItWasWrittenFrom) {
  Picture left = Pattern(64, 48, 1), right = Pattern(64, 48, 2);
  std::vector<uint8_t> jps;
  std::string error;
  ASSERT_TRUE(EncodeJps(left, right, 95, jps, error)) << error;
  JpsLayout layout = ReadJpsLayout(jps.data(), jps.size());
  EXPECT_TRUE(layout.declared);
  EXPECT_EQ(layout.arrangement, JpsArrangement::SideBySide);
  EXPECT_FALSE(layout.leftFirst);
  StillDecode decoded = DecodeStillData(jps.data(), jps.size());
  ASSERT_TRUE(decoded.picture);
  Picture readLeft, readRight;
  ASSERT_TRUE(SplitJpsViews(decoded.picture, decoded.stereoLayout, readLeft,
                            readRight));
  EXPECT_LT(MeanDifference(readLeft, left), 3.0);
  EXPECT_LT(MeanDifference(readRight, right), 3.0);
  EXPECT_GT(MeanDifference(readLeft, right), 20.0);
  std::string reason;
  Picture thumb = MakeThumbnailData(jps.data(), jps.size(), false, 64, reason);
  ASSERT_TRUE(thumb) << reason;
  EXPECT_LT(MeanDifference(thumb, left), 3.0);
}

namespace {

// A TIFF with IFD0 holding ImageWidth (SHORT), ImageLength (LONG), Make and
// the Exif pointer, and an Exif directory holding PixelX/YDimension.
std::vector<uint8_t> SmallTiff(bool big) {
  std::vector<uint8_t> t;
  auto u16 = [&](unsigned v) {
    if (big) t.insert(t.end(), {uint8_t(v >> 8), uint8_t(v)});
    else t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8)});
  };
  auto u32 = [&](uint32_t v) {
    if (big) u16(v >> 16), u16(v & 0xFFFF);
    else u16(v & 0xFFFF), u16(v >> 16);
  };
  t = {uint8_t(big ? 'M' : 'I'), uint8_t(big ? 'M' : 'I')};
  u16(42);
  u32(8);
  u16(4);
  u16(0x0100), u16(3), u32(1), u16(640), u16(0);
  u16(0x0101), u16(4), u32(1), u32(480);
  u16(0x010F), u16(2), u32(4), t.insert(t.end(), {'A', 'B', 'C', 0});
  u16(0x8769), u16(4), u32(1), u32(8 + 2 + 4 * 12 + 4);
  u32(0);
  u16(2);
  u16(0xA002), u16(4), u32(1), u32(640);
  u16(0xA003), u16(3), u32(1), u16(480), u16(0);
  u32(0);
  return t;
}

}  // namespace

TEST(ExifCopy, SizeTagsChangeInPlaceInBothByteOrders) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    std::vector<uint8_t> tiff = SmallTiff(big), before = tiff;
    ASSERT_TRUE(SetExifPictureSize(tiff, 1280, 70000));
    ASSERT_EQ(tiff.size(), before.size());
    std::vector<size_t> changed;
    for (size_t i = 0; i < tiff.size(); ++i)
      if (tiff[i] != before[i]) changed.push_back(i);
    // ImageWidth (SHORT 1280), ImageLength (LONG 70000), PixelX (LONG
    // 1280), PixelY (SHORT, held at 65535): only value bytes move.
    auto value = [&](size_t at, int bytes) {
      uint32_t v = 0;
      for (int k = 0; k < bytes; ++k)
        v |= uint32_t(tiff[at + (big ? bytes - 1 - k : k)]) << (8 * k);
      return v;
    };
    size_t ifd0 = 8 + 2, exif = 8 + 2 + 4 * 12 + 4 + 2;
    EXPECT_EQ(value(ifd0 + 8, 2), 1280u);
    EXPECT_EQ(value(ifd0 + 12 + 8, 4), 70000u);
    EXPECT_EQ(value(exif + 8, 4), 1280u);
    EXPECT_EQ(value(exif + 12 + 8, 2), 65535u);
    for (size_t i : changed)
      EXPECT_TRUE((i >= ifd0 + 8 && i < ifd0 + 12) ||
                  (i >= ifd0 + 20 && i < ifd0 + 24) ||
                  (i >= exif + 8 && i < exif + 12) ||
                  (i >= exif + 20 && i < exif + 24))
          << "byte " << i;
  }
  // Directories pointing outside the bytes: refused, nothing read outside.
  std::vector<uint8_t> broken = SmallTiff(false);
  broken[4] = 0xF0;
  EXPECT_FALSE(SetExifPictureSize(broken, 10, 10));
  broken = SmallTiff(false);
  broken.resize(8 + 2 + 4 * 12 + 4 + 3);
  EXPECT_FALSE(SetExifPictureSize(broken, 10, 10));
  std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'T', 'I', 'F', 'F'};
  EXPECT_FALSE(SetExifPictureSize(text, 10, 10));
}

// A camera MPO's views come cropped by its parallax; written out with the
// camera's Exif they must not be cropped again when read back.
TEST(ExifCopy, CopiedExifCarriesNoParallaxToCropTheWrittenViewsAgain) {
  synthetic::MpoOptions options;
  options.parallax.present = true;
  options.parallax.horizontalNumerator = -5;  // percent of the width
  options.parallax.verticalNumerator = 3;
  synthetic::Bytes camera = synthetic::BuildMpo(
      {synthetic::Compress(synthetic::TestCard(200, 100, 1)),
       synthetic::Compress(synthetic::TestCard(200, 100, 2))},
      options);
  MpoViews views;
  ASSERT_TRUE(DecodeMpoViews(camera.data(), camera.size(), views));
  ASSERT_NE(views.shiftX, 0);
  // The second picture's Exif holds the parallax the views were cut by.
  size_t second = 2;
  while (second + 4 < camera.size() &&
         std::memcmp(&camera[second], "\xFF\xD8\xFF\xE1", 4) != 0)
    ++second;
  std::vector<uint8_t> exif =
      FindExif(camera.data() + second, camera.size() - second);
  ASSERT_FALSE(exif.empty());
  std::vector<uint8_t> written;
  std::string error;
  ASSERT_TRUE(EncodeMpo(views.left, views.right, 95, written, error, exif))
      << error;
  MpoViews again;
  ASSERT_TRUE(DecodeMpoViews(written.data(), written.size(), again));
  EXPECT_EQ(again.shiftX, 0);
  EXPECT_EQ(again.shiftY, 0);
  EXPECT_EQ(PictureWidth(again.left), PictureWidth(views.left));
  EXPECT_EQ(PictureHeight(again.right), PictureHeight(views.right));
}

// Comments of every length, in CP932 and UTF-8, read on each thread that
// reads pictures: the pair loader's helper, the read-ahead thread and the
// list read-ahead's capture.  What each one delivers is compared with the
// expected text built from the characters' own UTF-8 forms, not with the
// converter the readers use.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "image/comment.h"
#include "stereo/pair_loader.h"
#include "shell/item_prefetch.h"
#include "slideshow/list_reader.h"
#include "tests/synthetic_jpeg.h"
#include "tests/test_support.h"

namespace {

// One character repeated: its stored bytes and its UTF-8 form.
struct Repeated {
  const char* what;
  std::string stored;
  std::string utf8;
};

const Repeated kCharacters[] = {
    // Half-width katakana: one stored byte becomes three.
    {"CP932 half-width kana", "\xB1", "\xEF\xBD\xB1"},
    {"CP932 kanji", "\x8A\xBF", "\xE6\xBC\xA2"},  // 漢
    {"UTF-8 hiragana", "\xE3\x81\x82", "\xE3\x81\x82"},  // あ
};

// Stored lengths around each cut and past the 255-byte limit.
const int kCounts[] = {0, 1, 42, 84, 85, 86, 127, 128, 200, 255, 256, 300};

std::string Repeat(const std::string& s, int count) {
  std::string out;
  for (int k = 0; k < count; ++k) out += s;
  return out;
}

// What a comment of `count` characters reads as: the whole characters of
// the first 255 stored bytes.
std::string Expected(const Repeated& c, int count) {
  int kept = std::min<int>(count, kCommentStoredBytes / c.stored.size());
  return Repeat(c.utf8, kept);
}

std::string JpegWithComment(const std::string& name, const std::string& text) {
  synthetic::CompressOptions options;
  if (!text.empty()) options.comments = {text};
  std::string path = ScratchDir() + "/" + name;
  WriteTestFile(path, synthetic::Compress(synthetic::TestCard(16, 8), options));
  return path;
}

class CommentCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearCurrentComment(); }
  void TearDown() override { ClearCurrentComment(); }
};

TEST_F(CommentCaptureTest, TheRightFilesCommentComesWholeFromThePairHelperThread) {
  std::string left = JpegWithComment("capture-left.jpg", "");
  for (const Repeated& c : kCharacters)
    for (int count : kCounts) {
      SCOPED_TRACE(std::string(c.what) + " x " + std::to_string(count));
      std::string right =
          JpegWithComment("capture-right.jpg", Repeat(c.stored, count));
      ClearCurrentComment();
      Picture l, r;
      ASSERT_TRUE(ReadPictureFiles(left, right, l, r));
      EXPECT_EQ(std::string(CurrentComment), Expected(c, count));
    }
}

TEST_F(CommentCaptureTest, ReadAheadHandsOverTheWholeCommentAndLeavesTheShownOne) {
  // The comment of the item on display is as long as a comment gets.
  std::string shown = Repeat("\xEF\xBD\xB1", 255);
  StoreCurrentComment(shown);
  ItemPrefetcher prefetcher;
  FitSettings fit{{320, 240}, false, true, 5};
  std::string left = JpegWithComment("ahead-left.jpg", "");
  for (const Repeated& c : kCharacters)
    for (int count : kCounts) {
      SCOPED_TRACE(std::string(c.what) + " x " + std::to_string(count));
      std::string text = Repeat(c.stored, count);
      std::string still = JpegWithComment("ahead-still.jpg", text);
      std::string right = JpegWithComment("ahead-right.jpg", text);
      for (ItemRequest request :
           {MakeItemRequest(ItemShape::SideBySide, still, {}, fit, {}),
            MakeItemRequest(ItemShape::Pair, left, right, fit, {})}) {
        int before = prefetcher.ItemsRead();
        prefetcher.Request(request);
        // Taken before its thread began, a request is given up.
        for (int wait = 0; wait < 5000 && prefetcher.ItemsRead() == before; ++wait)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        PreparedItem item;
        ASSERT_TRUE(prefetcher.Take(request, item));
        EXPECT_EQ(item.comment, Expected(c, count));
      }
    }
  EXPECT_EQ(std::string(CurrentComment), shown);
}

TEST_F(CommentCaptureTest, AListEntrysCommentIsCapturedWhole) {
  // The list read-ahead reads entries inside a capture; the list's own
  // encoding decides (no UTF-8 mark: CP932 unless the file is valid UTF-8).
  for (const Repeated& c : kCharacters)
    for (int count : kCounts) {
      SCOPED_TRACE(std::string(c.what) + " x " + std::to_string(count));
      std::string list = ScratchDir() + "/capture-list.txt";
      std::string line = "11;0;0;0;0;a.jpg;" + Repeat(c.stored, count) + ";;\n";
      WriteTestFile(list, std::vector<uint8_t>(line.begin(), line.end()));
      ListEntry entry;
      std::string captured;
      {
        CommentCapture capture;
        ASSERT_TRUE(ReadListEntry(list, 0, entry));
        captured = capture.Text();
      }
      EXPECT_EQ(captured, Expected(c, count));
      EXPECT_EQ(CurrentComment[0], 0);
    }
}

TEST_F(CommentCaptureTest, ACaptureInsideAnotherHandsBackToIt) {
  // Without a helper thread both views are read on one thread, the inner
  // capture inside the outer one.
  CommentCapture outer;
  {
    CommentCapture inner;
    StoreCurrentComment("inner");
    EXPECT_STREQ(inner.Text(), "inner");
  }
  StoreCurrentComment("outer");
  EXPECT_STREQ(outer.Text(), "outer");
  EXPECT_EQ(CurrentComment[0], 0);
}

}  // namespace

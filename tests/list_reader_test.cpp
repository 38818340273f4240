#include "slideshow/list_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "image/comment.h"
#include "core/viewer_state.h"
#include "slideshow/list_messages.h"
#include "tests/test_support.h"

namespace {

// Lists are written as raw bytes: line ends, encodings and the missing
// final line feed are part of what is tested.
std::string WriteList(const std::string& name, const std::string& bytes) {
  std::string path = ScratchDir() + "/" + name;
  WriteTestFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  return path;
}

// An entry as "kind interval swap panorama width [left] [right] [comment]",
// with "none " in front when no line was found for the number.
std::string Describe(bool found, const ListEntry& e) {
  return (found ? "" : "none ") + std::to_string(e.EntryKind) + " " +
         std::to_string(e.EntryInterval) + " " + std::to_string(e.EntrySwap) +
         " " + std::to_string(e.EntryPanorama) + " " +
         std::to_string(e.EntryWidth) + " [" + e.EntryLeftName + "] [" +
         e.EntryRightName + "] [" + CurrentComment + "]";
}

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override { Viewer = ViewerState(); }
  void TearDown() override { Viewer = ViewerState(); }

  // Reads entry `index` into the one record the test keeps, emptying the
  // comment first as the shell does, and describes it.
  std::string Read(const std::string& path, int index) {
    ClearCurrentComment();
    bool found = ReadListEntry(path, index, entry);
    return Describe(found, entry);
  }

  ListEntry entry;
};

using ListSettings = ListTest;
using ListEntries = ListTest;

TEST_F(ListSettings, TheMakersHeaderSetsTheShowAndItsDisabledLinesDoNothing) {
  Viewer.MovieBgmStop = true;
  Viewer.nDispW = 7;
  std::string path = WriteList(
      "header.txt",
      "SlideShowList;;\t//Stereo SlideShow File List\n"
      "//BGMusic;sample.mid;;\n//MovieBGMStop;0;;\n"
      "Repeat;0;;\t//Repeat:ON\nSlideShow;1;;\t//SlideShow:ON\n"
      "StereoEffect;4;;\t//StereoEffect:Random\n"
      "StereoType;13;;\t//StereoType:Side-by-side\n"
      "ScreenSize;2;;\t//CanvasSize:Screen size\n//DispWidth;1024;;\n"
      "Font;MS Gothic;;\t//Font:MS UI Gothic\nComment;0;;\t//Comment:ON\n"
      "CommentSize;7;;\t//CommentSize:Canvas height x 5%\n"
      "Floatingwindow;3;;\t//Floatingwindow:Canvas Width x 0%\n");
  EXPECT_EQ(ReadListSettings(path), 1);
  EXPECT_EQ(Viewer.ItemCount, 0);
  EXPECT_FALSE(Viewer.ListRepeat);
  EXPECT_TRUE(Viewer.SlideShowOn);
  EXPECT_EQ(Viewer.nEFType, 4);
  EXPECT_EQ(Viewer.StereoType, 13);
  EXPECT_EQ(Viewer.nScreen, 2);
  EXPECT_EQ(Viewer.FontFace, "MS Gothic");
  EXPECT_FALSE(Viewer.CommentOn);
  EXPECT_EQ(Viewer.CommentSize, 7);
  EXPECT_EQ(Viewer.FloatOffset, 3);
  EXPECT_TRUE(Viewer.BgmPath.empty());
  EXPECT_TRUE(Viewer.MovieBgmStop);
  EXPECT_EQ(Viewer.nDispW, 7);
}

TEST_F(ListSettings, KeysMatchWithoutRegardToCaseButOnlyAsTheWholeFirstField) {
  std::string path =
      WriteList("keys.txt",
                "slideshowlist\n"  // no ";": the line feed is part of the field
                "SLIDESHOW;1;;\n"
                "Repeat ;0;;\n"     // a space after the key
                "moviebgmstop;1\n"  // the value may end the line
                "Comment\n");
  EXPECT_EQ(ReadListSettings(path), 0);
  EXPECT_TRUE(Viewer.SlideShowOn);
  EXPECT_TRUE(Viewer.ListRepeat);
  EXPECT_TRUE(Viewer.MovieBgmStop);
  EXPECT_TRUE(Viewer.CommentOn);
}

TEST_F(ListSettings, ValuesOutOfRangeFallBackWhereCheckedAndTheLaterLineWins) {
  std::string path = WriteList(
      "ranges.txt",
      "CommentSize;80;;\nFloatingwindow;-1;;\nComment;7;;\nSlideShow;2;;\n"
      "StereoEffect;99;;\nDispWidth;512;;\nDispHeight;384;;\n"
      "Font;;\n");  // an empty value keeps the face
  ReadListSettings(path);
  EXPECT_EQ(Viewer.CommentSize, 5);
  EXPECT_EQ(Viewer.FloatOffset, 5);
  EXPECT_TRUE(Viewer.CommentOn);
  EXPECT_FALSE(Viewer.SlideShowOn);
  EXPECT_EQ(Viewer.nEFType, 99);
  EXPECT_EQ(Viewer.nDispW, 1024);
  EXPECT_EQ(Viewer.nDispH, 384);
  EXPECT_EQ(Viewer.FontFace, "MS UI Gothic");

  WriteList("ranges.txt",
            "CommentSize;0;;\nCommentSize;50;;\n"
            "Floatingwindow;21;;\nFloatingwindow;20;;\nComment;x;;");
  ReadListSettings(path);
  EXPECT_EQ(Viewer.CommentSize, 50);
  EXPECT_EQ(Viewer.FloatOffset, 20);
  EXPECT_FALSE(Viewer.CommentOn);  // not a number: 0
}

TEST_F(ListSettings,
       BackgroundMusicIsAlwaysInTheListFolderAndClearedByEachRead) {
  // An empty value names no music (not the list's folder).
  std::pair<const char*, std::string> cases[] = {
      {"BGMusic;sound\\loop.mid\n", ScratchDir() + "/sound/loop.mid"},
      {"BGMusic;/abs/a.mp3 ;;\n", ScratchDir() + "//abs/a.mp3"},
      {"//BGMusic;a.mp3;;\n", ""},
      {"BGMusic;\n", ""}};
  for (const auto& [list, music] : cases) {
    ReadListSettings(WriteList("music.txt", list));
    EXPECT_EQ(Viewer.BgmPath, music) << list;
  }
}

TEST_F(ListSettings, ItemCountUsesTheNumberAloneAndAMissingFileIsReported) {
  std::string path = WriteList(
      "count.txt",
      "11;0;0;0;0;a.jpg;;\n3D photo;0;0;0;0;b.jpg;;\n2;short\n"
      "0;0;0;0;0;c.jpg;;\n40;0;0;0;0;d.jpg;;\n// 5;0;0;0;0;e.jpg;;\n 39;\n");
  EXPECT_EQ(ReadListSettings(path), 0);
  EXPECT_EQ(Viewer.ItemCount, 4);

  struct Recorder : ListMessageSink {
    void ListWarning(std::string_view caption, std::string_view text,
                     std::string_view listPath) override {
      seen += std::string(caption) + "|" + std::string(text) + "|" +
              std::string(listPath) + "\n";
    }
    std::string seen;
  } recorder;
  SetListMessageSink(&recorder);
  std::string missing = ScratchDir() + "/missing.txt";
  EXPECT_EQ(ReadListSettings(missing), 0);
  EXPECT_EQ(Viewer.ItemCount, 0);
  entry.EntryLeftName = "kept.jpg";
  entry.EntryWidth = 2;
  EXPECT_EQ(Read(missing, 0), "none 0 0 0 0 0 [kept.jpg] [] []");
  SetListMessageSink(nullptr);
  std::string message =
      "実行エラー|スライドショーリストを開けません|" + missing + "\n";
  EXPECT_EQ(recorder.seen, message + message);
}

TEST_F(ListEntries, BothLayoutsAndTheKindTable) {
  std::string path = WriteList(
      "layouts.txt",
      "11;30;0;0;0;a.jpg;Hello;;\n"
      "21;0;1;0;0;L.jpg;R.jpg;;;\n"
      "5;0;0;L5.jpg;R5.jpg;x;\n"
      "33;0;1;0;0;pano.jpg;;;\n"
      "3;12;1;s.jpg;short layout;\n"
      "10;0;0;0;0;k10.jpg;;\n29;0;0;0;0;k29.jpg;;\n39;0;0;0;0;k39.jpg;;\n");
  const char* expected[] = {
      "1 30 0 0 0 [a.jpg] [a.jpg] [Hello]",
      "11 0 1 0 0 [L.jpg] [R.jpg] []",
      "11 0 0 0 0 [L5.jpg] [R5.jpg] [x]",
      "33 0 1 0 0 [pano.jpg] [pano.jpg] []",
      "3 12 1 0 0 [s.jpg] [s.jpg] [short layout]",
      "0 0 0 0 0 [k10.jpg] [k10.jpg] []",
      "19 0 0 0 0 [k29.jpg] [k29.jpg] []",
      "39 0 0 0 0 [k39.jpg] [k39.jpg] []",
  };
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Read(path, i), expected[i]);
}

TEST_F(ListEntries,
       EmptyFieldsAreSkippedAndOnlyTrailingSemicolonsLeaveTheComment) {
  std::string path =
      WriteList("fields.txt",
                "11;;5;0;1;a.jpg;;;\n"  // the width field reads the name, as 0
                "11;0;0;0;0;b.jpg;;one;two;;;\n"
                "11;0;0;0;0;c.jpg\n");
  EXPECT_EQ(Read(path, 0), "1 5 0 1 0 [] [] []");
  EXPECT_EQ(Read(path, 1), "1 0 0 0 0 [b.jpg] [b.jpg] [;one;two]");
  EXPECT_EQ(Read(path, 2), "1 0 0 0 0 [c.jpg] [c.jpg] []");
}

TEST_F(ListEntries, NumbersCountShortLinesSoLaterEntriesKeepTheirNumbers) {
  std::string path =
      WriteList("numbers.txt",
                "11;0;0;0;0;a.jpg;A;;\n"
                "11;0;0;b.jpg;B\n"              // four ";": uses up number 2
                "3D photo;0;0;0;0;x.jpg;X;;\n"  // counted as 3, never read
                "// 4;0;0;0;0;y.jpg;Y;;\n"
                "11;0;0;0;0;d.jpg;D;;\n");
  ReadListSettings(path);
  EXPECT_EQ(Viewer.ItemCount, 4);
  EXPECT_EQ(Read(path, 0), "1 0 0 0 0 [a.jpg] [a.jpg] [A]");
  EXPECT_EQ(Read(path, 1), "none 1 0 0 0 0 [a.jpg] [a.jpg] []");
  EXPECT_EQ(Read(path, 2), "1 0 0 0 0 [d.jpg] [d.jpg] [D]");
  EXPECT_EQ(Read(path, 3), "none 1 0 0 0 0 [d.jpg] [d.jpg] []");

  // A digits-only line outside 1..39 right after a short line stands in
  // for the short line's number.
  path =
      WriteList("stand_in.txt",
                "11;0;0;b.jpg;B\n40;0;0;0;0;z.jpg;Z;;\n11;0;0;0;0;c.jpg;;\n");
  EXPECT_EQ(Read(path, 0), "40 0 0 0 0 [z.jpg] [z.jpg] [Z]");
  EXPECT_EQ(Read(path, 1), "1 0 0 0 0 [c.jpg] [c.jpg] []");
}

TEST_F(ListEntries, MissingFieldsReadZeroAndMissingNamesKeepThePreviousOnes) {
  // Neither last line ends with a line feed: nothing follows their last ";".
  std::string path =
      WriteList("kept.txt", "21;0;0;0;0;L.jpg;R.jpg;;\n21;0;0;0;0;L2.jpg;");
  Read(path, 0);
  EXPECT_EQ(Read(path, 1), "11 0 0 0 0 [L2.jpg] [R.jpg] []");
  path = WriteList("kept2.txt", "11;7;;;;;");
  EXPECT_EQ(Read(path, 0), "1 7 0 0 0 [L2.jpg] [L2.jpg] []");
}

TEST_F(ListEntries, PanoramaAndWidthApplyAtOnceAndResetInTheRecord) {
  std::string path =
      WriteList("panorama.txt",
                "12;0;0;3;2;p.jpg;;\n12;0;0;1;1;q.jpg;;\n12;0;0;-1;7;r.jpg;;\n"
                "2;0;0;s.jpg;;\n");
  Viewer.ZoomPercent = 100;
  Viewer.FitToWindow = false;
  EXPECT_EQ(Read(path, 0), "2 0 0 3 2 [p.jpg] [p.jpg] []");
  EXPECT_EQ(Viewer.ActualSizeToggle, 2);
  EXPECT_EQ(Viewer.WidthMode, 5);
  EXPECT_FALSE(Viewer.FitToWindow);

  Read(path, 1);
  EXPECT_EQ(Viewer.ActualSizeToggle, 0);
  EXPECT_EQ(Viewer.ZoomPercent, 0);
  EXPECT_TRUE(Viewer.FitToWindow);
  EXPECT_EQ(Viewer.WidthMode, 0);

  Viewer.ActualSizeToggle = 1;
  Viewer.WidthMode = 6;
  Read(path, 2);
  EXPECT_EQ(Viewer.ActualSizeToggle, 1);
  EXPECT_EQ(Viewer.WidthMode, 6);
  EXPECT_EQ(Read(path, 3), "2 0 0 0 0 [s.jpg] [s.jpg] []");
}

TEST_F(ListEntries, WindowsListsDecodeAsCp932WithTheirLineEnds) {
  // 表 is 0x95 0x5C in CP932: its second byte is a backslash.  ﾃｨ (0xC3
  // 0xA8) would pass as UTF-8 on its own; the file as a whole decides.
  std::string path = WriteList(
      "cp932.txt",
      "Font;\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E;;\r\n"
      "11;0;0;0;0;\x95\x5C\\\xC3\xA8.jpg;\x95\x78\x8E\x6D\x8E\x52;;\r\n"
      "21;0;0;0;0;L.jpg;R.jpg\r\n"
      "11;0;0;0;0;\xC3\xA8.jpg;;\r\n");
  ReadListSettings(path);
  EXPECT_EQ(Viewer.FontFace, "ＭＳ ゴシック");
  EXPECT_EQ(Read(path, 0), "1 0 0 0 0 [表\\ﾃｨ.jpg] [表\\ﾃｨ.jpg] [富士山]");
  EXPECT_EQ(ResolveListName("/lists/", entry.EntryLeftName),
            "/lists/表/ﾃｨ.jpg");
  EXPECT_EQ(Read(path, 1), "11 0 0 0 0 [L.jpg] [R.jpg] []");
  EXPECT_EQ(Read(path, 2), "1 0 0 0 0 [ﾃｨ.jpg] [ﾃｨ.jpg] []");

  // A comment keeps 255 bytes as the list stores them: all of 120 kanji.
  std::string kanji, fuji;
  for (int i = 0; i < 120; ++i) kanji += "\x95\x78", fuji += "富";
  path = WriteList("cp932_long.txt", "11;0;0;0;0;a.jpg;" + kanji + ";;\r\n");
  Read(path, 0);
  EXPECT_EQ(std::string(CurrentComment), fuji);
}

TEST_F(ListEntries, LinesLongerThan511BytesAreReadInPieces) {
  std::string path = WriteList(
      "long.txt", "// " + std::string(508, 'x') + "3;0;0;tail.jpg;T;\n" +
                      "11;0;0;0;0;a.jpg;" + std::string(600, 'c') + ";;\n");
  ReadListSettings(path);
  EXPECT_EQ(Viewer.ItemCount, 2);
  EXPECT_EQ(Read(path, 0), "3 0 0 0 0 [tail.jpg] [tail.jpg] [T]");
  Read(path, 1);
  EXPECT_EQ(std::string(CurrentComment), std::string(255, 'c'));

  // A piece never ends inside a character.
  std::string wide;
  for (int i = 0; i < 200; ++i) wide += "\xE3\x81\x82";  // あ
  path = WriteList("long_utf8.txt", "11;0;0;0;0;" + wide + ";;\n");
  Read(path, 0);
  EXPECT_EQ(entry.EntryLeftName, wide.substr(0, 3 * 166));
}

// A list in memory reads as the same bytes in a file would (the fuzz target
// reads lists that way).
TEST_F(ListEntries, ListsInMemoryReadLikeTheirFiles) {
  std::string bytes =
      "\xEF\xBB\xBFSlideShowList;;\r\nBGMusic;m.mp3;;\r\nRepeat;0;;\r\n"
      "11;30;0;0;2;\x95\x5C.jpg;\x95\x78;;\r\n5;0;0;L.jpg;R.jpg;x;\n";
  std::string path = WriteList("memory.txt", bytes);
  ASSERT_EQ(ReadListSettings(path), 1);
  std::string music = Viewer.BgmPath;
  std::vector<std::string> fromFile = {Read(path, 0), Read(path, 1)};

  Viewer = ViewerState();
  EXPECT_EQ(ReadListSettingsFromBytes(bytes, path), 1);
  EXPECT_EQ(Viewer.BgmPath, music);
  EXPECT_EQ(Viewer.ItemCount, 2);
  EXPECT_FALSE(Viewer.ListRepeat);
  for (int index : {0, 1}) {
    ClearCurrentComment();
    ListEntry e;
    ASSERT_TRUE(ReadListEntryFromBytes(bytes, index, e));
    EXPECT_EQ(Describe(true, e), fromFile[index]);
  }
  EXPECT_EQ(Viewer.WidthMode, 5);
  EXPECT_FALSE(ReadListEntryFromBytes(bytes, 2, entry));
}

TEST(ListPaths, DriveNetworkAndRootNamesAreAbsolute) {
  for (const char* name : {"C:\\x.jpg", "C:/x.jpg", "\\\\server\\x.jpg", "/x"})
    EXPECT_TRUE(IsAbsolutePath(name)) << name;
  for (const char* name : {"C:\\", "\\\\a", "d:x.jpg", "\\x.jpg", "a.jpg"})
    EXPECT_FALSE(IsAbsolutePath(name)) << name;

  EXPECT_EQ(ListFolderOf("/a/b/list.txt"), "/a/b/");
  EXPECT_EQ(ListFolderOf("list.txt"), "");
  EXPECT_EQ(ResolveListName("/a/", "sub\\x.jpg"), "/a/sub/x.jpg");
  EXPECT_EQ(ResolveListName("/a/", "C:\\"), "/a/C:/");
  EXPECT_EQ(ResolveListName("/a/", "C:\\p\\x.jpg"), "C:/p/x.jpg");
  EXPECT_EQ(ResolveListName("/a/", "\\\\srv\\x.jpg"), "//srv/x.jpg");
  EXPECT_EQ(ResolveListName("/a/", "/b/x.jpg"), "/b/x.jpg");
}

}  // namespace

#include "shell/startup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/viewer_state.h"
#include "test_support.h"

namespace {

TEST(CommandLine, QuotesKeepBlanksAndTheSecondArgumentIsTheLastWord) {
  struct Case {
    const char* tail;
    const char* first;
    const char* second;
  };
  const Case cases[] = {
      {"\"/my photos/a b.jpg\" c.jpg", "/my photos/a b.jpg", "c.jpg"},
      {"a b c", "a", "c"},
      {"a  b", "a", "b"},
      {"a \"b c\"", "a", "b c"},
      {"a \"b c\" d", "a", "d"},
      {"\"x y\" \"p q\"", "x y", "p q"},
      {"list.txt", "list.txt", ""},
      {"  a b  ", "a", "b"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    CommandLineArgs args = SplitCommandLine(c.tail);
    EXPECT_EQ(args.first, c.first) << c.tail;
    EXPECT_EQ(args.second, c.second) << c.tail;
  }
  const char* argv[] = {"duoramic", "a", "b", "c"};
  CommandLineArgs args = ArgumentsFromArgv(4, argv);
  EXPECT_EQ(args.first, "a");
  EXPECT_EQ(args.second, "c");
}

TEST(LaunchMode, ComesFromTheEndOfTheExecutablesName) {
  EXPECT_EQ(LaunchModeFromName("/usr/bin/viewer_h"), 1);
  EXPECT_EQ(LaunchModeFromName("viewer_n"), 2);
  EXPECT_EQ(LaunchModeFromName("C:/bin/viewer_w.exe"), 3);
  EXPECT_EQ(LaunchModeFromName("viewer_W.EXE"), 3);
  EXPECT_EQ(LaunchModeFromName("/opt/viewer"), 0);
  EXPECT_EQ(LaunchModeFromName("/opt/a_h/viewer"), 0);
  EXPECT_EQ(LaunchModeFromName("viewer_x.exe"), 0);

  const int savedWidth = Viewer.WidthMode, savedMode = Viewer.LaunchMode;
  for (auto [mode, width] : {std::pair{1, 6}, {2, 0}, {3, 5}}) {
    Viewer.WidthMode = 99;
    ApplyLaunchMode(mode);
    EXPECT_EQ(Viewer.LaunchMode, mode);
    EXPECT_EQ(Viewer.WidthMode, width);
  }
  Viewer.WidthMode = savedWidth;
  Viewer.LaunchMode = savedMode;
}

TEST(FirstShow, ArgumentsChooseListFileOrOrderedPair) {
  FirstShow list = DecideFirstShow({"/shows/Trip.TXT", ""}, "/nowhere");
  EXPECT_EQ(list.commands, (std::vector<int>{4010, 4013}));
  EXPECT_EQ(list.openPath, "/shows/Trip.TXT");

  FirstShow single = DecideFirstShow({"/p/a.mpo", ""}, "/nowhere");
  EXPECT_EQ(single.commands, (std::vector<int>{4010, 4003}));

  FirstShow pair = DecideFirstShow({"/p/R.jpg", "/p/l.jpg"}, "/nowhere");
  EXPECT_EQ(pair.commands, (std::vector<int>{4010, 4005}));
  EXPECT_EQ(pair.leftPath, "/p/l.jpg");
  EXPECT_EQ(pair.rightPath, "/p/R.jpg");
  FirstShow tie = DecideFirstShow({"/p/A.jpg", "/p/a.jpg"}, "/nowhere");
  EXPECT_EQ(tie.leftPath, "/p/A.jpg");
}

TEST(FirstShow, WithoutArgumentsTheListBesideTheProgramPlays) {
  std::string folder = ScratchDir() + "/startup_autostart";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder + "/duoramic.txt");
  EXPECT_TRUE(DecideFirstShow({}, folder).commands.empty());  // a folder

  std::filesystem::remove(folder + "/duoramic.txt");
  std::ofstream(folder + "/duoramic.txt") << "\n";
  FirstShow show = DecideFirstShow({"\x01", ""}, folder);
  EXPECT_EQ(show.commands, (std::vector<int>{4010, 4013}));
  EXPECT_EQ(show.openPath, folder + "/duoramic.txt");
}

TEST(LoadText, TwoBuffersAlternate) {
  const char* message = LoadText(2510);
  const char* caption = LoadText(2506);
  EXPECT_STREQ(caption, "確認");
  EXPECT_STREQ(message, "最近使ったファイルリストを削除してもいいですか？");
  const char* third = LoadText(2505);
  EXPECT_EQ(third, message);  // the third call reuses the first buffer
  EXPECT_STREQ(message, "実行エラー");
  EXPECT_STREQ(caption, "確認");
  EXPECT_STREQ(LoadText(-1), "");
}

struct RecordingTitle : TitleSink {
  void SetTitle(std::string_view text) override { title = text; }
  std::string title;
};

TEST(ReportTitle, FormatsIntoTheTitleAndCutsOnACharacter) {
  RecordingTitle sink;
  SetTitleSink(&sink);
  ReportTitle("FAILED(hr=0x%x) in %s", 0x80004005u, "Render");
  EXPECT_EQ(sink.title, "FAILED(hr=0x80004005) in Render");
  std::string kana;
  for (int i = 0; i < 200; ++i) kana += "あ";  // 600 bytes
  ReportTitle("%s", kana.c_str());
  EXPECT_EQ(sink.title, kana.substr(0, 510));  // 170 whole characters
  SetTitleSink(nullptr);
}

TEST(FreeMemory, ReadsTheKernelsAvailableMemory) {
  EXPECT_EQ(FreeMemoryFromMeminfo("MemTotal: 16384000 kB\n"
                                  "MemFree: 1000 kB\n"
                                  "MemAvailable: 2097152 kB\n"),
            2048);
  EXPECT_EQ(FreeMemoryFromMeminfo("MemAvailable: 99999999 kB\n"), 10000);
  EXPECT_EQ(FreeMemoryFromMeminfo("MemFree: 1000 kB\n"), 0);
  int measured = MeasureFreeMemory();
  EXPECT_GT(measured, 0);
  EXPECT_LE(measured, 10000);
  EXPECT_EQ(MemoryReportText(10000), "over 10000 MByte");
  EXPECT_EQ(MemoryReportText(512), "512 MByte");
}

}  // namespace

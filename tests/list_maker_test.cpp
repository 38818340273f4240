#include "slideshow/list_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/comment.h"
#include "core/viewer_state.h"
#include "slideshow/list_reader.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct RecordedMessages : ListMakerMessages {
  Strings warnings, notices;  // "caption: text"
  void Warning(std::string_view text, std::string_view caption) override {
    warnings.push_back(std::string(caption) + ": " + std::string(text));
  }
  void Notice(std::string_view text, std::string_view caption) override {
    notices.push_back(std::string(caption) + ": " + std::string(text));
  }
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

Strings Lines(const std::string& text) {
  Strings lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void Touch(const std::string& path, const std::string& content = "x") {
  std::ofstream(path, std::ios::binary) << content;
}

class ListMakerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchDir() + "/maker-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() +
              "/";
    fs::create_directories(folder_);
    settings_.listPath = folder_ + "show.txt";
  }
  void TearDown() override { fs::remove_all(folder_); }

  int Add(const Strings& names) {
    return AddListEntries(settings_, folder_, names, messages_);
  }
  // The list's lines after the header block.
  Strings Entries() {
    Strings lines = Lines(ReadText(settings_.listPath));
    return Strings(lines.begin() + std::min<size_t>(lines.size(), 14),
                   lines.end());
  }

  std::string folder_;
  ListMakerSettings settings_;
  RecordedMessages messages_;
};

TEST(SplitQuotedNames, QuotedNamesKeepTheirSpaces) {
  EXPECT_EQ(SplitQuotedNames("\"a b.jpg\" \"c.jpg\""),
            (Strings{"a b.jpg", "c.jpg"}));
  EXPECT_EQ(SplitQuotedNames("\"a.jpg\" \"b.jpg\" "), (Strings{"a.jpg", "b.jpg"}));
  EXPECT_EQ(SplitQuotedNames("\"only.jpg\""), Strings{"only.jpg"});
  EXPECT_EQ(SplitQuotedNames("\"\" "), Strings{});
}

TEST_F(ListMakerTest, HeaderIsWrittenForANewOrOneLineListOnly) {
  ASSERT_EQ(Add({"b.jpg", "A.jpg"}), 2);
  Strings lines = Lines(ReadText(settings_.listPath));
  ASSERT_EQ(lines.size(), 16u);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(lines[i], kListHeaderLines[i]);
  // Sorted without regard to case.
  EXPECT_EQ(lines[14], "11;0;0;0;0;A.jpg;;;");
  EXPECT_EQ(lines[15], "11;0;0;0;0;b.jpg;;;");
  EXPECT_EQ(messages_.notices,
            Strings{"追加処理終了: 2個のファイルをスライドショーリストに追加しました"});

  // Two or more lines: entries only.
  ASSERT_EQ(Add({"c.jpg"}), 1);
  EXPECT_EQ(Lines(ReadText(settings_.listPath)).size(), 17u);

  // One line without its line end: the header goes on a line of its own.
  Touch(settings_.listPath, "SlideShowList;;");
  ASSERT_EQ(Add({"d.jpg"}), 1);
  Strings again = Lines(ReadText(settings_.listPath));
  ASSERT_EQ(again.size(), 16u);
  EXPECT_EQ(again[0], "SlideShowList;;");
  EXPECT_EQ(again[1], kListHeaderLines[0]);
  EXPECT_EQ(again[15], "11;0;0;0;0;d.jpg;;;");
}

TEST_F(ListMakerTest, LowerCaseAndFullPathNames) {
  settings_.fullPath = true;
  settings_.lowerCase = true;
  settings_.interval = 30;
  settings_.swap = true;
  settings_.comment = "Hello; world";
  std::string photos = folder_ + "Photos/";
  ASSERT_EQ(AddListEntries(settings_, photos, {"img_0002.JPG", "IMG_0001.jpg"},
                           messages_),
            2);
  std::string lowered = photos;
  for (char& c : lowered) c = static_cast<char>(std::tolower(c));
  EXPECT_EQ(Entries(), (Strings{"11;30;1;0;0;" + lowered + "img_0001.jpg;Hello; world;;",
                                "11;30;1;0;0;" + lowered + "img_0002.jpg;Hello; world;;"}));
}

TEST_F(ListMakerTest, PairsInOneFolderComeInSortedTwos) {
  settings_.inputForm = kPairFilesForm;
  ASSERT_EQ(Add({"B_R.jpg", "A_L.jpg", "B_L.jpg", "A_R.jpg"}), 4);
  EXPECT_EQ(Entries(), (Strings{"21;0;0;0;0;A_L.jpg;A_R.jpg;;;",
                                "21;0;0;0;0;B_L.jpg;B_R.jpg;;;"}));
  EXPECT_EQ(messages_.notices,
            Strings{"追加処理終了: 4個のファイルをスライドショーリストに追加しました"});

  fs::remove(settings_.listPath);
  EXPECT_EQ(Add({"A_L.jpg", "A_R.jpg", "B_L.jpg"}), -1);
  EXPECT_EQ(messages_.warnings,
            Strings{"実行エラー: 左右ファイル指定は、必ず偶数になるはずです"});
  EXPECT_FALSE(fs::exists(settings_.listPath));
}

TEST_F(ListMakerTest, RightFolderPartnersByNameThenByLetter) {
  std::string right = folder_ + "right/";
  fs::create_directories(right);
  Touch(right + "sameL.jpg");
  Touch(right + "otherR.jpg");
  settings_.inputForm = kPairFilesForm;
  settings_.useRightFolder = true;
  settings_.rightFolder = folder_ + "right";  // no trailing slash
  ASSERT_EQ(Add({"sameL.jpg", "otherL.jpg", "lonelyL.jpg"}), 2);
  EXPECT_EQ(Entries(), (Strings{"21;0;0;0;0;otherL.jpg;" + right + "otherR.jpg;;;",
                                "21;0;0;0;0;sameL.jpg;" + right + "sameL.jpg;;;"}));
  EXPECT_EQ(messages_.warnings,
            Strings{"lonelyL.jpg: Not find pair image file!"});
  EXPECT_EQ(messages_.notices,
            Strings{"追加処理終了: 2個のファイルをスライドショーリストに追加しました"});
}

TEST_F(ListMakerTest, RefusalsWriteNothing) {
  settings_.listPath.clear();
  EXPECT_EQ(Add({"a.jpg"}), -1);
  settings_.listPath = folder_;  // a folder cannot be a list
  EXPECT_EQ(Add({"a.jpg"}), -1);
  // A name with the field separator cannot be listed; the rest is.
  settings_.listPath = folder_ + "show.txt";
  EXPECT_EQ(Add({"a;b.jpg", "c.jpg"}), 1);
  EXPECT_EQ(Entries(), Strings{"11;0;0;0;0;c.jpg;;;"});
  ASSERT_EQ(messages_.warnings.size(), 3u);
  EXPECT_EQ(messages_.warnings[0],
            "実行エラー: リストファイルが指定されていません");
  EXPECT_EQ(messages_.warnings[1], "実行エラー: リストを作成できません");
}

TEST_F(ListMakerTest, MoreThan5000NamesAreCutWithANotice) {
  Strings names;
  for (int i = 0; i < 5003; ++i) names.push_back("p" + std::to_string(10000 + i) + ".jpg");
  EXPECT_EQ(Add(names), 5000);
  EXPECT_EQ(Entries().size(), 5000u);
  EXPECT_EQ(Entries().back(), "11;0;0;0;0;p14999.jpg;;;");
  ASSERT_EQ(messages_.notices.size(), 2u);
  EXPECT_NE(messages_.notices[0].find("5003"), std::string::npos);
}

TEST_F(ListMakerTest, AddAllTakesTheChosenFileType) {
  for (const char* name : {"a.mpo", "b.JPG", "c.mp4", "d.txt", ".e.jpg"})
    Touch(folder_ + name);
  Touch(folder_ + "empty.jpg", "");
  fs::create_directories(folder_ + "dir.jpg");
  auto sorted = [&](int type) {
    Strings names = ListMakerFolderFiles(folder_, type);
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(sorted(1), (Strings{"a.mpo", "b.JPG", "c.mp4"}));
  EXPECT_EQ(sorted(2), Strings{"b.JPG"});
  EXPECT_EQ(sorted(3), Strings{"c.mp4"});
  EXPECT_EQ(sorted(4), sorted(1));
}

TEST_F(ListMakerTest, WrittenListsReadBackToTheSameEntries) {
  settings_.comment = "写真; 1";
  settings_.interval = 25;
  ASSERT_EQ(Add({"写真.jpg", "scene.mpo"}), 2);
  settings_.inputForm = kPairFilesForm;
  settings_.comment.clear();
  ASSERT_EQ(Add({"L.jpg", "R.jpg"}), 2);

  Viewer = ViewerState();
  EXPECT_EQ(ReadListSettings(settings_.listPath), 1);
  ASSERT_EQ(Viewer.ItemCount, 3);
  struct Expected {
    int kind, interval;
    std::string left, right, comment;
  };
  const Expected expected[] = {{1, 25, "scene.mpo", "scene.mpo", "写真; 1"},
                               {1, 25, "写真.jpg", "写真.jpg", "写真; 1"},
                               {11, 25, "L.jpg", "R.jpg", ""}};
  for (int i = 0; i < 3; ++i) {
    ListEntry entry;
    ClearCurrentComment();
    ASSERT_TRUE(ReadListEntry(settings_.listPath, i, entry));
    EXPECT_EQ(entry.EntryKind, expected[i].kind) << i;
    EXPECT_EQ(entry.EntryInterval, expected[i].interval) << i;
    EXPECT_EQ(entry.EntryLeftName, expected[i].left) << i;
    EXPECT_EQ(entry.EntryRightName, expected[i].right) << i;
    EXPECT_EQ(CurrentComment, expected[i].comment) << i;
  }
}

TEST_F(ListMakerTest, ListsInTheWindowsCodePageStayInIt) {
  // "写真;;" and an entry line, in CP932.
  Touch(settings_.listPath, "//\x8e\xca\x90\x5e\n11;0;0;0;0;a.jpg;;;\n");
  ASSERT_EQ(Add({"写真.jpg"}), 1);
  std::string text = ReadText(settings_.listPath);
  EXPECT_FALSE(IsValidUtf8(text));
  ListEntry entry;
  ASSERT_TRUE(ReadListEntry(settings_.listPath, 1, entry));
  EXPECT_EQ(entry.EntryLeftName, "写真.jpg");
}

// A list in CP932 takes new lines in CP932 or none: the reader decodes the
// whole file one way, so a block in UTF-8 would garble every name in it.
TEST_F(ListMakerTest, ACp932ListRefusesTextWithoutACp932Form) {
  // "写真" and an entry line, in CP932.
  const std::string before = "//\x8e\xca\x90\x5e\n11;0;0;0;0;a.jpg;;;\n";
  Touch(settings_.listPath, before);
  settings_.comment = "新しい";
  // é has no CP932 form; the wave dash and the yen sign have one that reads
  // back as another character (a full-width tilde, a "\" separator).
  for (const std::string odd : {"café.jps", "10〜12.jpg", "¥100.jpg"}) {
    messages_ = RecordedMessages();
    EXPECT_EQ(Add({odd, "風景.jps"}), -1) << odd;
    EXPECT_EQ(ReadText(settings_.listPath), before) << odd;
    ASSERT_EQ(messages_.warnings.size(), 1u) << odd;
    EXPECT_NE(messages_.warnings[0].find("「" + odd + "」"), std::string::npos)
        << messages_.warnings[0];
    EXPECT_TRUE(messages_.notices.empty());
  }
  settings_.comment = "café";
  messages_ = RecordedMessages();
  EXPECT_EQ(Add({"風景.jps"}), -1);
  ASSERT_EQ(messages_.warnings.size(), 1u);
  EXPECT_NE(messages_.warnings[0].find("「café」"), std::string::npos);
  EXPECT_EQ(ReadText(settings_.listPath), before);

  // Names and a comment that have a CP932 form go in, and read back as
  // written, beside the old lines.
  settings_.comment = "新しい";
  ASSERT_EQ(Add({"風景.jps"}), 1);
  std::string text = ReadText(settings_.listPath);
  EXPECT_EQ(text.substr(0, before.size()), before);
  EXPECT_EQ(text.substr(before.size()),
            "11;0;0;0;0;\x95\x97\x8c\x69.jps;\x90\x56\x82\xb5\x82\xa2;;\n");
  ListEntry entry;
  ClearCurrentComment();
  ASSERT_TRUE(ReadListEntry(settings_.listPath, 1, entry));
  EXPECT_EQ(entry.EntryLeftName, "風景.jps");
  EXPECT_STREQ(CurrentComment, "新しい");
}

// A list in UTF-8 (or a new one) takes only UTF-8: a name of other bytes
// would turn the whole file into CP932 for the reader.
TEST_F(ListMakerTest, AUtf8ListRefusesNamesThatAreNotUtf8) {
  const std::string cp932Name = "\x95\x97.jpg";
  EXPECT_EQ(Add({cp932Name, "b.jpg"}), -1);
  EXPECT_FALSE(fs::exists(settings_.listPath)) << "a new list is not left behind";
  ASSERT_EQ(Add({"写真.jpg"}), 1);
  std::string before = ReadText(settings_.listPath);
  EXPECT_EQ(Add({cp932Name}), -1);
  EXPECT_EQ(ReadText(settings_.listPath), before);
  ASSERT_EQ(messages_.warnings.size(), 2u);
  EXPECT_NE(messages_.warnings[1].find("「" + cp932Name + "」"), std::string::npos);
  // An accented name is UTF-8 like the rest.
  ASSERT_EQ(Add({"café.jps"}), 1);
  EXPECT_TRUE(IsValidUtf8(ReadText(settings_.listPath)));
  ListEntry entry;
  ASSERT_TRUE(ReadListEntry(settings_.listPath, 1, entry));
  EXPECT_EQ(entry.EntryLeftName, "café.jps");
}

}  // namespace

#include "shell/file_history.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include "shell/settings_store.h"
#include "core/viewer_state.h"

namespace {

struct ScriptedPrompt : YesNoPrompt {
  explicit ScriptedPrompt(bool answer) : answer(answer) {}
  bool AskYesNo(std::string_view text, std::string_view caption,
                Icon icon) override {
    asked = std::string(text) + "|" + std::string(caption);
    askedIcon = icon;
    return answer;
  }
  bool answer;
  std::string asked;
  Icon askedIcon = kQuestion;
};

class FileHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    qputenv("XDG_CONFIG_HOME", folder_.path().toUtf8());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       folder_.path());
    RecentFiles = FileHistory{};
    Viewer.FromHistory = false;
  }
  void TearDown() override { RecentFiles = FileHistory{}; }

  // The left paths, top first, as the store holds them after a reload.
  std::vector<std::string> StoredLefts() {
    LoadHistory();
    std::vector<std::string> lefts;
    for (const FileHistoryEntry& entry : RecentFiles) lefts.push_back(entry.left);
    return lefts;
  }
  QTemporaryDir folder_;
};

using Lefts = std::vector<std::string>;

TEST_F(FileHistoryTest, NewOpensGoToTheTopAndTheOldestDrops) {
  for (const char* name : {"/a", "/b", "/c", "/d", "/e", "/f"}) {
    RecordOpen(name, "", 1);
  }
  EXPECT_EQ(StoredLefts(), (Lefts{"/f", "/e", "/d", "/c", "/b"}));
  // The same pair of paths again keeps its place; only its number changes.
  RecordOpen("/c", "", 7);
  EXPECT_EQ(ReadSetting("FileTypeHistory"), "1,1,1,7,1,");
  EXPECT_EQ(StoredLefts(), (Lefts{"/f", "/e", "/d", "/c", "/b"}));
  // Another letter case, or a right path, makes a different entry.
  RecordOpen("/C", "", 2);
  RecordOpen("/c", "/r", 2);
  EXPECT_EQ(StoredLefts(), (Lefts{"/c", "/C", "/f", "/e", "/d"}));
  EXPECT_EQ(RecentFiles[0].right, "/r");
  EXPECT_EQ(RecentFiles[4].kind, 1);
}

TEST_F(FileHistoryTest, LongPathsSurviveARestart) {
  std::string folder = "/ピクチャ/";
  for (int i = 0; i < 10; ++i) folder += "二〇二六年/";
  RecordOpen(folder + "IMG_1L.jpg", folder + "IMG_1R.jpg");
  RecordOpen(folder + "scene.mpo", "");
  EXPECT_EQ(StoredLefts(), (Lefts{folder + "scene.mpo", folder + "IMG_1L.jpg",
                                  "", "", ""}));
  EXPECT_EQ(RecentFiles[1].right, folder + "IMG_1R.jpg");
}

TEST_F(FileHistoryTest, HistoryOpensAndEmptyPathsAreNotRecorded) {
  RecordOpen("/a", "");
  Viewer.FromHistory = true;
  RecordOpen("/b", "");
  EXPECT_FALSE(Viewer.FromHistory);
  RecordOpen("", "/right");
  EXPECT_EQ(StoredLefts(), (Lefts{"/a", "", "", "", ""}));
}

TEST_F(FileHistoryTest, ClearingAsksAndOnlyYesForgets) {
  RecordOpen("/a", "/b", 3);
  ScriptedPrompt no(false);
  EXPECT_FALSE(ClearHistory(no));
  EXPECT_EQ(no.asked, "最近使ったファイルリストを削除してもいいですか？|確認");
  EXPECT_EQ(no.askedIcon, YesNoPrompt::kWarning);
  EXPECT_EQ(StoredLefts()[0], "/a");

  ScriptedPrompt yes(true);
  EXPECT_TRUE(ClearHistory(yes));
  EXPECT_EQ(ReadSetting("FileTypeHistory"), "0,0,0,0,0,");
  EXPECT_EQ(ReadSetting("FileHistory1"), "");
  EXPECT_EQ(StoredLefts(), Lefts(5));
}

TEST_F(FileHistoryTest, MenuShowsEntriesOrGreysTheClearItem) {
  HistoryMenuModel empty = RebuildHistoryMenu();
  EXPECT_FALSE(empty.clearEnabled);
  EXPECT_TRUE(empty.items.empty());

  RecordOpen("/photos/a.mpo", "");
  RecordOpen("/left/IMG_1L.jpg", "/right/IMG_1R.jpg");
  HistoryMenuModel menu = RebuildHistoryMenu();
  EXPECT_TRUE(menu.clearEnabled);
  ASSERT_EQ(menu.items.size(), 2u);
  EXPECT_EQ(menu.items[0].id, 2151);
  EXPECT_EQ(menu.items[0].text, "/left/IMG_1L.jpg/IMG_1R.jpg");
  EXPECT_EQ(menu.items[1].id, 2152);
  EXPECT_EQ(menu.items[1].text, "/photos/a.mpo");
}

}  // namespace

#include "shell/settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <string>

#include "core/viewer_state.h"

namespace {

// Every test gets an empty store of its own, never the user's.
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    qputenv("XDG_CONFIG_HOME", folder_.path().toUtf8());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       folder_.path());
    saved_ = {Viewer.LaunchMode, Viewer.WidthMode, Viewer.nInterval,
              Viewer.nEFType, Viewer.StereoType};
    Viewer.LaunchMode = 0;
    Viewer.WidthMode = 0;
    Viewer.nInterval = 30;
    Viewer.nEFType = 1;
    Viewer.StereoType = 0;
  }
  void TearDown() override {
    Viewer.LaunchMode = saved_[0];
    Viewer.WidthMode = saved_[1];
    Viewer.nInterval = saved_[2];
    Viewer.nEFType = saved_[3];
    Viewer.StereoType = saved_[4];
  }
  QTemporaryDir folder_;
  std::array<int, 5> saved_{};
};

TEST_F(SettingsStoreTest, ValuesOfOneHundredBytesOrMoreReadAsAbsent) {
  WriteSetting("OpenFolder", std::string(99, 'a'));
  EXPECT_EQ(ReadSetting("OpenFolder"), std::string(99, 'a'));
  WriteSetting("OpenFolder", std::string(100, 'a'));
  EXPECT_EQ(ReadSetting("OpenFolder"), "");
  // The limit counts bytes: 33 three-byte characters are 99 bytes.
  std::string kana;
  for (int i = 0; i < 33; ++i) kana += "あ";
  WriteSetting("OpenFolder", kana);
  EXPECT_EQ(ReadSetting("OpenFolder"), kana);
  EXPECT_EQ(ReadSetting("NeverWritten"), "");
}

TEST_F(SettingsStoreTest, TextWithCommasReadsBackWhole) {
  WriteSetting("FileTypeHistory", "1,2,0,0,0,");
  EXPECT_EQ(ReadSetting("FileTypeHistory"), "1,2,0,0,0,");
  // A hand-edited store writes the same list without quotes.
  QFile file(folder_.path() + "/Orlith/duoramic.conf");
  QDir().mkpath(folder_.path() + "/Orlith");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[General]\nmultisel=512\nhistory=3,4,5\n");
  file.close();
  EXPECT_EQ(ReadSetting("history"), "3,4,5");
  EXPECT_EQ(ReadSetting("multisel"), "512");
}

TEST_F(SettingsStoreTest, DecimalParseTakesSignAndLeadingDigits) {
  EXPECT_EQ(ParseDecimal("42"), 42);
  EXPECT_EQ(ParseDecimal("  -7x"), -7);
  EXPECT_EQ(ParseDecimal("+15.5"), 15);
  EXPECT_EQ(ParseDecimal("abc"), 0);
  EXPECT_EQ(ParseDecimal("99999999999"), INT_MAX);
}

TEST_F(SettingsStoreTest, OnlyPresentNonEmptyValuesReplaceDefaults) {
  WriteSetting("nInterval", "");
  WriteSetting("nEFType", "abc");
  WriteSetting("StereoType", "15");
  WriteSetting("OpenFolder", "/photos/");
  LoadSettings();
  EXPECT_EQ(Viewer.nInterval, 30);  // empty keeps the default
  EXPECT_EQ(Viewer.nEFType, 0);     // present, parses as 0
  EXPECT_EQ(Viewer.StereoType, 15);
  EXPECT_EQ(Viewer.OpenFolder, "/photos/");

  // The last folder is a path the viewer wrote: kept however long.
  std::string deep = "/写真/";
  for (int i = 0; i < 12; ++i) deep += "京都旅行/";
  WriteSetting("OpenFolder", deep);
  LoadSettings();
  EXPECT_EQ(Viewer.OpenFolder, deep);
}

TEST_F(SettingsStoreTest, StoredWidthIsIgnoredUnderALaunchMode) {
  WriteSetting("nDisp", "5");
  Viewer.LaunchMode = 1;
  Viewer.WidthMode = 6;
  LoadSettings();
  EXPECT_EQ(Viewer.WidthMode, 6);
  Viewer.LaunchMode = 0;
  LoadSettings();
  EXPECT_EQ(Viewer.WidthMode, 5);
}

TEST_F(SettingsStoreTest, MonitorSelectionKeepsItsBitOrder) {
  std::array<bool, 9> first{}, last{};
  first[0] = true;
  last[8] = true;
  EXPECT_EQ(DecodeMonitorSelection(512), first);
  EXPECT_EQ(DecodeMonitorSelection(2), last);
  EXPECT_EQ(EncodeMonitorSelection(first), 512);
  EXPECT_EQ(EncodeMonitorSelection(last), 2);
  EXPECT_EQ(DecodeMonitorSelection(1), (std::array<bool, 9>{}));  // bit 0

  std::array<bool, 9> saved = Viewer.MonitorSelected;
  Viewer.MonitorSelected = {true, false, true, false, false, false, false,
                            false, true};
  SaveExitSettings();
  EXPECT_EQ(ReadSetting("multisel"), "642");
  Viewer.MonitorSelected = {};
  LoadMonitorSelection();
  EXPECT_EQ(EncodeMonitorSelection(Viewer.MonitorSelected), 642);
  Viewer.MonitorSelected = saved;
}

// The file as another process would read it: its text on disk.
std::string FileText(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

TEST_F(SettingsStoreTest, ABatchWritesItsValuesTogetherWhenTheOutermostEnds) {
  const QString path = folder_.path() + "/Orlith/duoramic.conf";
  WriteSetting("nInterval", "30");  // a value from before, kept
  std::string before = FileText(path);
  ASSERT_NE(before.find("nInterval=30"), std::string::npos);
  {
    SettingsWriteBatch batch;
    WriteSetting("FileHistory0", "/pics/a.mpo");
    {
      SettingsWriteBatch inner;  // inside another: nothing of its own
      WriteSetting("FileTypeHistory", "1,0,");
    }
    EXPECT_EQ(FileText(path), before) << "written before the batch ended";
    WriteSetting("FileHistory1", "");
  }
  std::string after = FileText(path);
  EXPECT_NE(after.find("nInterval=30"), std::string::npos);
  EXPECT_NE(after.find("FileHistory0=/pics/a.mpo"), std::string::npos);
  EXPECT_NE(after.find("FileTypeHistory=\"1,0,\""), std::string::npos) << after;
  EXPECT_EQ(ReadSetting("FileHistory0"), "/pics/a.mpo");
  EXPECT_EQ(ReadSetting("FileTypeHistory"), "1,0,");
  // Without a batch each write reaches the file at once again.
  WriteSetting("nInterval", "45");
  EXPECT_NE(FileText(path).find("nInterval=45"), std::string::npos);
}

}  // namespace

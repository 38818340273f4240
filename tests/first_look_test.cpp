// The first look of the first item: a reduced decode drawn at once, then
// replaced by exactly the pixels an ordinary read shows, which never change
// after that; commands always see the exact picture.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "image/comment.h"
#include "shell/command_table.h"
#include "shell/first_look.h"
#include "shell/main_window.h"
#include "shell/navigation.h"
#include "shell/navigation_steps.h"
#include "core/viewer_state.h"
#include "tests/synthetic_jpeg.h"
#include "tests/window_test_support.h"

namespace {

struct Shown {
  std::vector<uint8_t> left, right;
  std::string comment;
  int shiftX = 0;
  bool operator==(const Shown&) const = default;
};

Shown Now() {
  return {PictureBytes(Viewer.CurrentLeft), PictureBytes(Viewer.CurrentRight),
          CurrentComment, ParallaxShiftX};
}

// Mean absolute difference of two pictures' blocks of one size, per byte.
double MeanDifference(const std::vector<uint8_t>& a,
                      const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
  return a.empty() ? 0 : sum / static_cast<double>(a.size());
}

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class FirstLookTest : public WindowTest {
 protected:
  void PrepareWindow() override {
    Viewer.nEFType = 0;
    Viewer.FloatOffset = 3;
    ASSERT_TRUE(dir_.isValid());
    folder_ = dir_.path().toStdString() + "/";
  }

  // Views a little over twice the screen's size: a first look at 1/2.
  void WriteFiles() {
    ScreenSize screen = window_->Screen();
    int w = 2 * screen.width + 8, h = 2 * screen.height + 8;
    synthetic::CompressOptions withComment;
    withComment.comments = {"first look"};
    auto left = synthetic::Compress(synthetic::TestCard(w, h, 3), withComment);
    auto right = synthetic::Compress(synthetic::TestCard(w, h, 40));
    synthetic::MpoOptions mpo;
    mpo.parallax.present = true;
    mpo.parallax.horizontalNumerator = -2;
    mpo.parallax.horizontalDenominator = 1;
    mpo.parallax.verticalNumerator = 0;
    mpo.parallax.verticalDenominator = 1;
    Write(folder_ + "a.mpo", synthetic::BuildMpo({left, right}, mpo));
    Write(folder_ + "l.jpg", left);
    Write(folder_ + "r.jpg", right);
    Write(folder_ + "s.jps", synthetic::Compress(
                                 synthetic::TestCard(2 * w, h, 9), withComment));
  }

  void Show(const std::string& path, const std::string& right) {
    if (right.empty()) ShowFile(path);
    else ShowPair(path, right);
  }

  // What the item shows read the ordinary way.
  Shown Direct(const std::string& path, const std::string& right = {}) {
    window_->FirstLookAllowed = false;
    Show(path, right);
    window_->Prefetch().Clear();
    return Now();
  }

  // Lets the event loop run until the exact picture is in.
  bool AwaitExact() {
    for (int i = 0; i < 1000 && FirstLookOnDisplay(); ++i) {
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !FirstLookOnDisplay();
  }

  QTemporaryDir dir_;
  std::string folder_;
};

TEST(FirstLookDenominator, TheLargestReductionThatStillCoversTheFittedSize) {
  EXPECT_EQ(FirstLookDenominator(4000, 3000, 1440, 1080), 2);
  EXPECT_EQ(FirstLookDenominator(4000, 3000, 1000, 750), 4);
  EXPECT_EQ(FirstLookDenominator(4000, 3000, 999, 749), 4);
  EXPECT_EQ(FirstLookDenominator(4000, 3000, 500, 375), 8);
  EXPECT_EQ(FirstLookDenominator(4000, 3000, 100, 75), 8);
  // Just over half on one side: nothing to gain.
  EXPECT_EQ(FirstLookDenominator(2879, 2160, 1440, 1080), 1);
  EXPECT_EQ(FirstLookDenominator(960, 720, 1440, 1080), 1);
  EXPECT_EQ(FirstLookDenominator(4000, 3000, 0, 0), 1);
}

TEST(ReadFirstLook, OnlyJpegStillsTwiceTheirSizeWithoutAlignmentOrPanorama) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::string jps = dir.path().toStdString() + "/wide.jps";
  std::string other = dir.path().toStdString() + "/wide.png";
  Write(jps, synthetic::Compress(synthetic::TestCard(1700, 700, 5)));
  Write(other, std::vector<uint8_t>(4096, 0x89));
  FitSettings fit;
  fit.screen = {400, 300};  // the whole still fitted to 728 x 300
  auto read = [&](const std::string& path, const FitSettings& settings) {
    PreparedItem look;
    bool ok = ReadFirstLook(
        MakeItemRequest(ItemShape::SideBySide, path, {}, settings, {}), look);
    EXPECT_EQ(ok, look.left != nullptr);
    return ok;
  };
  EXPECT_TRUE(read(jps, fit));
  EXPECT_FALSE(read(other, fit));
  FitSettings aligned = fit, panorama = fit, large = fit;
  aligned.autoAlign = true;
  panorama.panorama = true;
  large.screen = {900, 700};  // fitted at more than half the size
  EXPECT_FALSE(read(jps, aligned));
  EXPECT_FALSE(read(jps, panorama));
  EXPECT_FALSE(read(jps, large));
}

TEST_F(FirstLookTest, EachKindShowsAFirstLookThenExactlyTheOrdinaryPixels) {
  WriteFiles();
  struct Item {
    std::string path, right;
    bool early;  // read beside start-up, as the program does
  };
  const Item items[] = {{folder_ + "a.mpo", {}, false},
                        {folder_ + "a.mpo", {}, true},
                        {folder_ + "s.jps", {}, false},
                        {folder_ + "l.jpg", folder_ + "r.jpg", false}};
  for (const Item& item : items) {
    SCOPED_TRACE(item.path + (item.early ? " (early)" : ""));
    Shown exact = Direct(item.path, item.right);
    ASSERT_FALSE(exact.left.empty());

    if (item.early) {
      FirstShow show;
      show.openPath = item.path;
      show.commands = {CMD_SHOW_FILE};
      StartEarlyRead(show, window_->Screen());
    }
    window_->FirstLookAllowed = true;
    Show(item.path, item.right);
    EXPECT_FALSE(window_->FirstLookAllowed);  // taken by this show alone
    ASSERT_TRUE(FirstLookOnDisplay());
    // The same picture, made from a reduced decode: close, not equal.
    Shown look = Now();
    EXPECT_NE(look, exact);
    EXPECT_EQ(look.comment, exact.comment);
    if (look.left.size() == exact.left.size()) {
      EXPECT_LT(MeanDifference(look.left, exact.left), 12.0);
    }
    // Nothing is read ahead before the exact item.
    EXPECT_EQ(window_->Prefetch().HeldCount(), 0u);

    ASSERT_TRUE(AwaitExact());
    EXPECT_EQ(Now(), exact);
    // And it stays: the event loop never brings the first look back.
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(Now(), exact);
    window_->Prefetch().Clear();
  }
}

TEST_F(FirstLookTest, ACommandDuringTheFirstLookActsOnTheExactPicture) {
  WriteFiles();
  std::string path = folder_ + "a.mpo";
  Shown exact = Direct(path);
  window_->FirstLookAllowed = true;
  ShowFile(path);
  ASSERT_TRUE(FirstLookOnDisplay());
  ASSERT_NE(Now(), exact);
  Run(CMD_FORMAT_FIRST + 1);  // any command: here a change of format
  EXPECT_FALSE(FirstLookOnDisplay());
  EXPECT_EQ(Now(), exact);
  // Reading ahead begins once the exact item is in.
  for (int i = 0; i < 500 && window_->Prefetch().Reading(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TEST_F(FirstLookTest, SmallPicturesAndLaterShowsAreReadWhole) {
  WriteFiles();
  std::string scene = kSamples + "scene.mpo";  // fitted larger than it is
  Shown direct = Direct(scene);
  // Read whole beside start-up, and shown as read the ordinary way.
  FirstShow show;
  show.openPath = scene;
  show.commands = {CMD_SHOW_FILE};
  StartEarlyRead(show, window_->Screen());
  window_->FirstLookAllowed = true;
  ShowFile(scene);
  EXPECT_FALSE(FirstLookOnDisplay());
  EXPECT_FALSE(window_->FirstLookAllowed);
  EXPECT_EQ(Now(), direct);
  ShowFile(folder_ + "a.mpo");  // not the first show any more
  EXPECT_FALSE(FirstLookOnDisplay());
}

TEST_F(FirstLookTest, AFileGoneBeforeItsExactReadNeverLeavesTheFirstLook) {
  WriteFiles();
  std::string path = folder_ + "a.mpo";
  window_->FirstLookAllowed = true;
  ShowFile(path);
  ASSERT_TRUE(FirstLookOnDisplay());
  // The exact read waits for the first look to be painted: it has not
  // begun, and finds nothing.
  ASSERT_EQ(std::remove(path.c_str()), 0);
  FinishFirstLook(*window_);
  EXPECT_FALSE(FirstLookOnDisplay());
  // The item is read again the ordinary way: a missing file's black
  // stand-ins and the reason in the title.
  ASSERT_TRUE(Viewer.CurrentLeft);
  const uint8_t* row = PictureRow(Viewer.CurrentLeft.get(), 0);
  int lit = 0;
  for (int y = 0; y < PictureHeight(Viewer.CurrentLeft); ++y) {
    row = PictureRow(Viewer.CurrentLeft.get(), y);
    for (int x = 0; x < 3 * PictureWidth(Viewer.CurrentLeft); ++x)
      lit += row[x] > 40;
  }
  // Only the printed reason lights any pixels; the first look lit most.
  EXPECT_LT(lit, 3 * PictureWidth(Viewer.CurrentLeft) *
                     PictureHeight(Viewer.CurrentLeft) / 10);
  EXPECT_NE(Title().find("cannot open"), std::string::npos) << Title();
}

}  // namespace

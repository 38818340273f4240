// Reading the next item ahead in the window: what a step shows is exactly
// what reading the file then would show, whatever the user does meanwhile.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "image/comment.h"
#include "shell/command_table.h"
#include "shell/item_prefetch.h"
#include "shell/main_window.h"
#include "core/viewer_state.h"
#include "tests/synthetic_jpeg.h"
#include "tests/window_test_support.h"

namespace {

// The pixels and what else a step leaves for the display.
struct Shown {
  std::string path;
  std::vector<uint8_t> left, right;
  std::string comment;
  int shiftX = 0;
  bool operator==(const Shown&) const = default;
};

// Names of this process's threads that belong to the reading ahead.
std::vector<std::string> ReadingThreads() {
  std::vector<std::string> names;
  QDir tasks("/proc/self/task");
  for (const QString& task :
       tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    std::ifstream comm("/proc/self/task/" + task.toStdString() + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name.starts_with("duoramic-")) names.push_back(name);
  }
  return names;
}

class ReadAheadTest : public WindowTest {
 protected:
  void PrepareWindow() override {
    Viewer.nEFType = 0;
    Viewer.FloatOffset = 4;  // the placement happens at the step
    ASSERT_TRUE(dir_.isValid());
    folder_ = dir_.path().toStdString() + "/";
  }

  // A small MPO with a comment and a parallax of its own per seed.
  void WriteMpo(const std::string& name, int seed) {
    synthetic::CompressOptions options;
    options.comments = {"view " + std::to_string(seed)};
    auto left = synthetic::Compress(synthetic::TestCard(96, 64, seed), options);
    auto right = synthetic::Compress(synthetic::TestCard(96, 64, seed + 50));
    synthetic::MpoOptions mpo;
    mpo.parallax.present = true;
    mpo.parallax.horizontalNumerator = -seed;
    mpo.parallax.horizontalDenominator = 1;
    mpo.parallax.verticalNumerator = 0;
    mpo.parallax.verticalDenominator = 1;
    auto bytes = synthetic::BuildMpo({left, right}, mpo);
    // Written aside and renamed over: a camera or a copy does the same.
    std::string part = folder_ + name + ".part";
    std::ofstream(part, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_EQ(std::rename(part.c_str(), (folder_ + name).c_str()), 0);
  }

  Shown Now() const {
    return {Viewer.ShownLeftPath, PictureBytes(Viewer.CurrentLeft),
            PictureBytes(Viewer.CurrentRight), CurrentComment, ParallaxShiftX};
  }

  // What each file shows when read with nothing read ahead.
  std::map<std::string, Shown> DirectLoads(
      const std::vector<std::string>& names) {
    std::map<std::string, Shown> shown;
    for (const std::string& name : names) {
      window_->Prefetch().Clear();
      ShowFile(folder_ + name);
      window_->Prefetch().Clear();
      Run(CMD_RELOAD_ITEM);
      shown[folder_ + name] = Now();
    }
    // Nothing read for these loads may count later.
    for (int i = 0; i < 500 && window_->Prefetch().Reading(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    window_->Prefetch().Clear();
    return shown;
  }

  // Waits (a few seconds at most) until the read asked for by the last step
  // has ended with its item held.  A step asks at once, and a small item can
  // be read before the test looks, so the count of reads cannot tell.
  void AwaitReadAhead() {
    for (int i = 0; i < 500 && window_->Prefetch().Reading(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(window_->Prefetch().Reading());
    ASSERT_GT(window_->Prefetch().HeldCount(), 0u);
  }

  QTemporaryDir dir_;
  std::string folder_;
};

TEST_F(ReadAheadTest, AStepShowsTheItemReadAheadWithTheDirectPixels) {
  std::vector<std::string> names = {"a.mpo", "b.mpo", "c.mpo"};
  for (int k = 0; k < 3; ++k) WriteMpo(names[k], k + 1);
  std::map<std::string, Shown> direct = DirectLoads(names);

  ShowFile(folder_ + "a.mpo");
  AwaitReadAhead();
  Run(CMD_NEXT);
  EXPECT_EQ(window_->Prefetch().ItemsServed(), 1);
  EXPECT_EQ(Now(), direct[folder_ + "b.mpo"]);
  EXPECT_EQ(direct[folder_ + "b.mpo"].comment, "view 2");

  // After a step back, the item before is the one read ahead.
  Run(CMD_PREVIOUS);
  AwaitReadAhead();
  Run(CMD_PREVIOUS);
  EXPECT_EQ(window_->Prefetch().ItemsServed(), 2);
  EXPECT_EQ(Now(), direct[folder_ + "c.mpo"]);
}

TEST_F(ReadAheadTest, QuickStepsBothWaysNeverShowTheWrongItem) {
  std::vector<std::string> names = {"1.mpo", "2.mpo", "3.mpo", "4.mpo"};
  for (int k = 0; k < 4; ++k) WriteMpo(names[k], 10 + k);
  std::map<std::string, Shown> direct = DirectLoads(names);

  ShowFile(folder_ + "1.mpo");
  int index = 0;
  const int steps[] = {CMD_NEXT, CMD_NEXT, CMD_PREVIOUS, CMD_NEXT,
                       CMD_PREVIOUS, CMD_PREVIOUS, CMD_PREVIOUS, CMD_NEXT};
  int k = 0;
  for (int step : steps) {
    if (++k % 3 == 0) AwaitReadAhead();
    Run(step);
    index = (index + (step == CMD_NEXT ? 1 : 3)) % 4;
    std::string expected = folder_ + names[index];
    ASSERT_EQ(Viewer.ShownLeftPath, expected) << "step " << k;
    EXPECT_EQ(Now(), direct[expected]) << "step " << k;
  }
}

TEST_F(ReadAheadTest, AFileReplacedAfterItWasReadAheadIsReadAgain) {
  WriteMpo("a.mpo", 1);
  WriteMpo("b.mpo", 7);
  std::map<std::string, Shown> direct = DirectLoads({"b.mpo"});
  WriteMpo("b.mpo", 2);  // the same size, other pixels and comment
  ShowFile(folder_ + "a.mpo");
  AwaitReadAhead();
  WriteMpo("b.mpo", 7);
  Run(CMD_NEXT);
  EXPECT_EQ(window_->Prefetch().ItemsServed(), 0);
  EXPECT_EQ(Now(), direct[folder_ + "b.mpo"]);
  EXPECT_EQ(CurrentComment, std::string("view 7"));
}

TEST_F(ReadAheadTest, NoReadingThreadOutlivesTheWindow) {
  std::vector<std::string> names;
  for (int k = 0; k < 3; ++k) {
    names.push_back(std::to_string(k) + ".mpo");
    WriteMpo(names.back(), k + 1);
  }
  ShowFile(folder_ + names[0]);
  Run(CMD_NEXT);  // one read ahead may still be running
  window_.reset();
  EXPECT_TRUE(ReadingThreads().empty());
}

}  // namespace

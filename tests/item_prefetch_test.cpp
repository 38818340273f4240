#include "shell/item_prefetch.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "tests/synthetic_jpeg.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

// Sets a file's modification time to `seconds` after the epoch.
void SetModified(const std::string& path, time_t seconds) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

bool WaitUntilHeld(const ItemPrefetcher& prefetcher, size_t count) {
  for (int i = 0; i < 2000 && prefetcher.HeldCount() < count; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return prefetcher.HeldCount() >= count;
}

// A read-ahead item is known by every field of its request: a file changed
// on disk in any way, or any setting the pixels depend on, must make the
// step read the item again instead of showing what was read before.
TEST(ItemPrefetch, AnItemIsServedOnlyForExactlyTheRequestItWasReadFor) {
  const std::string folder = ScratchDir() + "/item-prefetch";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const synthetic::Bytes jpeg = synthetic::Compress(synthetic::TestCard(16, 8));
  FitSettings fit;
  fit.screen = {64, 48};

  struct Change {
    const char* what;
    // Changes the files or the request read for `base`; returns the request
    // a step would then make.
    std::function<ItemRequest(const ItemRequest& base, const std::string& left,
                              const std::string& right)>
        apply;
  };
  auto remake = [&](const std::string& left, const std::string& right) {
    return MakeItemRequest(ItemShape::Pair, left, right, fit, "start");
  };
  auto edited = [](std::function<void(ItemRequest&)> edit) {
    return [edit](const ItemRequest& base, const std::string&, const std::string&) {
      ItemRequest r = base;
      edit(r);
      return r;
    };
  };
  const Change changes[] = {
      {"left rewritten in place: same inode and size, newer time",
       [&](const ItemRequest& base, const std::string& left, const std::string& right) {
         WriteTestFile(left, jpeg);  // truncated and written: same inode
         SetModified(left, 1700000100);
         ItemRequest now = remake(left, right);
         EXPECT_EQ(now.leftStamp.inode, base.leftStamp.inode);
         EXPECT_EQ(now.leftStamp.size, base.leftStamp.size);
         return now;
       }},
      {"right rewritten in place",
       [&](const ItemRequest&, const std::string& left, const std::string& right) {
         WriteTestFile(right, jpeg);
         SetModified(right, 1700000100);
         return remake(left, right);
       }},
      {"left grown, time kept",
       [&](const ItemRequest&, const std::string& left, const std::string& right) {
         synthetic::Bytes longer = jpeg;
         longer.push_back(0);
         WriteTestFile(left, longer);
         SetModified(left, 1700000000);
         return remake(left, right);
       }},
      {"left replaced by a copy of itself with its time",
       [&](const ItemRequest&, const std::string& left, const std::string& right) {
         WriteTestFile(left + ".new", jpeg);
         SetModified(left + ".new", 1700000000);
         EXPECT_EQ(std::rename((left + ".new").c_str(), left.c_str()), 0);
         return remake(left, right);
       }},
      {"left removed",
       [&](const ItemRequest&, const std::string& left, const std::string& right) {
         fs::remove(left);
         return remake(left, right);
       }},
      // Another name for the same file: only the path differs.
      {"left path",
       [&](const ItemRequest&, const std::string& left, const std::string& right) {
         fs::create_hard_link(left, left + ".link");
         return remake(left + ".link", right);
       }},
      {"right path",
       [&](const ItemRequest&, const std::string& left, const std::string& right) {
         fs::create_hard_link(right, right + ".link");
         return remake(left, right + ".link");
       }},
      {"shape", edited([](ItemRequest& r) { r.shape = ItemShape::SideBySide; })},
      {"screen width", edited([](ItemRequest& r) { r.fit.screen.width += 1; })},
      {"screen height", edited([](ItemRequest& r) { r.fit.screen.height += 1; })},
      {"panorama", edited([](ItemRequest& r) { r.fit.panorama = !r.fit.panorama; })},
      {"comment band", edited([](ItemRequest& r) { r.fit.commentOn = !r.fit.commentOn; })},
      {"comment size", edited([](ItemRequest& r) { r.fit.commentSize += 1; })},
      {"starting comment", edited([](ItemRequest& r) { r.startComment = "other"; })},
  };
  int n = 0;
  for (const Change& change : changes) {
    const std::string left = folder + "/" + std::to_string(n) + "-left.jpg";
    const std::string right = folder + "/" + std::to_string(n++) + "-right.jpg";
    WriteTestFile(left, jpeg);
    WriteTestFile(right, jpeg);
    SetModified(left, 1700000000);
    SetModified(right, 1700000000);
    ItemPrefetcher prefetcher;
    const ItemRequest base = remake(left, right);
    prefetcher.Request(base);
    ASSERT_TRUE(WaitUntilHeld(prefetcher, 1)) << change.what;
    ItemRequest now = change.apply(base, left, right);
    PreparedItem item;
    EXPECT_FALSE(prefetcher.Take(now, item)) << change.what;
  }
  // Unchanged, the same request is served what was read for it.
  ItemPrefetcher prefetcher;
  const ItemRequest same = remake(folder + "/0-right.jpg", folder + "/1-left.jpg");
  prefetcher.Request(same);
  ASSERT_TRUE(WaitUntilHeld(prefetcher, 1));
  PreparedItem item;
  EXPECT_TRUE(prefetcher.Take(
      remake(folder + "/0-right.jpg", folder + "/1-left.jpg"), item));
  fs::remove_all(folder);
}

}  // namespace

// The list music over GStreamer: it starts again at the end of the file,
// and a file that cannot be played leaves the show silent, never stuck.
#include "platform/background_music.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

#include "tests/test_support.h"

namespace {

// 16-bit mono PCM silence, `samples` long at 8 kHz.
std::vector<uint8_t> SilentWav(uint32_t samples) {
  std::vector<uint8_t> b;
  auto text = [&](const char* t) { b.insert(b.end(), t, t + 4); };
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  auto u16 = [&](uint16_t v) {
    b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8));
  };
  text("RIFF"), u32(36 + 2 * samples), text("WAVE");
  text("fmt "), u32(16), u16(1), u16(1), u32(8000), u32(16000), u16(2), u16(16);
  text("data"), u32(2 * samples);
  b.resize(b.size() + 2 * samples, 0);
  return b;
}

// Lets queued bus answers arrive until `done` holds; false after 20 s,
// which only a stuck pipeline needs.
bool WaitFor(const std::function<bool()>& done) {
  QDeadlineTimer deadline(20000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  return true;
}

TEST(BackgroundMusic, ShortMusicStartsAgainAtItsEnd) {
  std::string path = ScratchDir() + "/loop.wav";
  WriteTestFile(path, SilentWav(400));  // 50 ms
  auto music = CreateStreamerMusic();
  ASSERT_TRUE(music->Open(path));
  EXPECT_TRUE(WaitFor([&] { return ProgressOf(*music).restarts >= 2; }));
  EXPECT_FALSE(ProgressOf(*music).failed);
  music->Pause();
  music->Resume();
  music->Close();
  EXPECT_EQ(ProgressOf(*music).restarts, 0);
}

TEST(BackgroundMusic, UnplayableFilesLeaveItSilent) {
  auto music = CreateStreamerMusic();
  EXPECT_FALSE(music->Open(ScratchDir() + "/no such music.mp3"));
  std::string path = ScratchDir() + "/not music.mp3";
  WriteTestFile(path, std::vector<uint8_t>(3000, 'x'));
  ASSERT_TRUE(music->Open(path));  // found out while it plays
  EXPECT_TRUE(WaitFor([&] { return ProgressOf(*music).failed; }));
  music->Resume();  // stays silent
  music->Close();
  music->Close();
}

}  // namespace

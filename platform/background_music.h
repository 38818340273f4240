// The background music of slideshow lists: one file played over and over
// while the list runs, paused while a movie item plays its own sound.
#pragma once

#include <memory>
#include <string>

struct BackgroundMusic {
  virtual ~BackgroundMusic() = default;
  // Closes what was open, then plays `path` from its start and again from
  // the start each time it ends.  False when the file cannot be opened at
  // all; a file that turns out unplayable later just stays silent.
  virtual bool Open(const std::string& path) = 0;
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  // Stops and forgets the file; harmless when nothing is open.
  virtual void Close() = 0;
};

// What the streamer music did with its file: how often it started again at
// the end, and whether it gave up on an error.  Zero for other players.
struct MusicProgress {
  int restarts = 0;
  bool failed = false;
};
MusicProgress ProgressOf(const BackgroundMusic& music);

// Music through a GStreamer playbin (audio only).  Creating it costs
// nothing; GStreamer starts with the first Open.
std::unique_ptr<BackgroundMusic> CreateStreamerMusic();

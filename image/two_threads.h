// Two independent pieces of work at once: one on a helper thread, one on
// the calling thread.  Decoding the two views of a stereo item this way
// halves the wait on a machine with a second core.
#pragma once

#include <pthread.h>

#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "image/file_data.h"
#include "image/jpeg_reader.h"

// Runs `beside` on a new thread and `here` on this one and returns when both
// are done.  The helper polls this thread's decode cancel flag; the reason
// its last load failed is handed back in `besideFailure`.  Without a thread
// to be had, both run here, `beside` first.
template <typename Beside, typename Here>
void RunSideBySide(Beside&& beside, Here&& here, std::string& besideFailure) {
  const std::atomic<bool>* cancel = DecodeCancelFlag();
  auto helper = [&] {
    SetDecodeCancelFlag(cancel);
    ClearLoadFailure();
    beside();
    besideFailure = LastLoadFailure();
  };
  std::thread thread;
  try {
    thread = std::thread([&] {
      pthread_setname_np(pthread_self(), "duoramic-view");
      helper();
    });
  } catch (const std::system_error&) {
    std::string keep = LastLoadFailure();
    helper();
    NoteLoadFailure(keep);
    here();
    return;
  }
  here();
  thread.join();
}

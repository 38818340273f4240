#include "stereo/row_bands.h"

#include <time.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr int64_t kSplitBytes = 1 << 20;

std::atomic<int64_t> helperCpuNs{0};

// Set while a thread runs a band: rows loops inside a band run inline.
thread_local bool inBand = false;

struct BandScope {
  BandScope() { inBand = true; }
  ~BandScope() { inBand = false; }
};

// One helper thread, started on first use and joined at exit.
class BandHelper {
 public:
  ~BandHelper() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // False when another caller holds the helper; the caller then runs alone.
  bool TryRun(const std::function<void(int, int)>& body, int split, int rows) {
    std::unique_lock<std::mutex> caller(callers_, std::try_to_lock);
    if (!caller.owns_lock()) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!thread_.joinable()) thread_ = std::thread([this] { Serve(); });
      job_ = &body;
      first_ = split;
      last_ = rows;
    }
    wake_.notify_all();
    {
      BandScope scope;
      body(0, split);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return job_ == nullptr; });
    return true;
  }

 private:
  void Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || job_ != nullptr; });
      if (job_ == nullptr) return;  // quitting with nothing to do
      const auto* job = job_;
      int first = first_, last = last_;
      lock.unlock();
      {
        BandScope scope;
        int64_t before = ThreadCpuNs();
        (*job)(first, last);
        helperCpuNs += ThreadCpuNs() - before;
      }
      lock.lock();
      job_ = nullptr;
      finished_.notify_all();
    }
  }

  std::mutex callers_;  // one caller at a time
  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  const std::function<void(int, int)>* job_ = nullptr;
  int first_ = 0, last_ = 0;
  bool quit_ = false;
  std::thread thread_;
};

bool Worthwhile(int rows, int64_t bytes) {
  static const bool several = std::thread::hardware_concurrency() > 1;
  return several && !inBand && rows >= 2 && bytes >= kSplitBytes;
}

}  // namespace

void ForRowBands(int rows, int64_t bytes,
                 const std::function<void(int first, int last)>& body) {
  if (rows <= 0) return;
  static BandHelper helper;
  if (Worthwhile(rows, bytes) && helper.TryRun(body, rows / 2, rows)) return;
  body(0, rows);
}

int64_t RowBandHelperCpuNs() { return helperCpuNs.load(); }

int64_t ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

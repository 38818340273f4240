#include "shell/item_prefetch.h"

#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/jpeg_reader.h"
#include "image/mpo_reader.h"
#include "shell/auto_align.h"

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  struct stat info;
  if (path.empty() || stat(path.c_str(), &info) != 0) return stamp;
  stamp.exists = true;
  stamp.size = static_cast<uint64_t>(info.st_size);
  stamp.modifiedNs =
      int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  stamp.inode = static_cast<uint64_t>(info.st_ino);
  return stamp;
}

ItemRequest MakeItemRequest(ItemShape shape, const std::string& left,
                            const std::string& right, const FitSettings& fit,
                            std::string_view startComment) {
  ItemRequest request;
  request.shape = shape;
  request.left = left;
  request.leftStamp = StampOf(left);
  if (shape == ItemShape::Pair) {
    request.right = right;
    request.rightStamp = StampOf(right);
  }
  request.fit = fit;
  request.startComment = std::string(startComment);
  return request;
}

bool PrepareItem(const ItemRequest& request, PreparedItem& item) {
  CommentCapture capture(request.startComment);
  Picture left, right;
  switch (request.shape) {
    case ItemShape::Mpo: {
      MpoViews views;
      if (!ReadMpoFileViews(request.left, views)) return false;
      item.shiftX = views.shiftX;
      item.shiftY = views.shiftY;
      left = std::move(views.left);
      right = std::move(views.right);
      break;
    }
    case ItemShape::SideBySide:
      left = ReadStillPicture(request.left, &item.unreadable);
      if (!left) return false;
      if (item.unreadable.empty()) item.warning = LastLoadWarning();
      break;
    case ItemShape::Pair: {
      PairFailures failures;
      if (!ReadPictureFiles(request.left, request.right, left, right,
                            &failures))
        return false;
      item.unreadable = failures.left;
      item.unreadableRight = failures.right;
      break;
    }
  }
  // A cancelled decode of a still becomes the black stand-in of an
  // unreadable file: never keep what a cancel may have cut short.
  const std::atomic<bool>* cancel = DecodeCancelFlag();
  if (cancel && cancel->load()) return false;
  // Lined up at full size, before fitting: the correction is measured in
  // the camera's own pixels.  A still no reader read is the black stand-in.
  AlignChoice choice{request.fit.autoAlign, request.fit.autoConverge};
  if ((choice.correct || choice.converge) && item.unreadable.empty() &&
      item.unreadableRight.empty()) {
    // An MPO the camera gave a parallax to has its depth set already.
    bool cameraParallax = item.shiftX != 0 || item.shiftY != 0;
    AlignOutcome outcome =
        request.shape == ItemShape::SideBySide
            ? AlignSideBySideForDisplay(left, choice)
            : AlignPairForDisplay(left, right, choice, cameraParallax);
    item.alignNote = std::move(outcome.log);
    item.alignTitle = std::move(outcome.title);
    if (cancel && cancel->load()) return false;
  }
  bool hasComment = capture.Text()[0] != 0;
  if (request.shape == ItemShape::SideBySide) {
    ScaleSideBySideForScreen(request.fit, hasComment, left);
  } else if (!ScalePairForScreen(request.fit, hasComment, left, right)) {
    return false;
  }
  item.request = request;
  item.left = std::move(left);
  item.right = std::move(right);
  item.comment = capture.Text();
  return true;
}

ItemPrefetcher::ItemPrefetcher(size_t capacity)
    : capacity_(std::max<size_t>(capacity, 1)) {}

ItemPrefetcher::~ItemPrefetcher() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    cancel_ = true;
    waiting_.reset();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ItemPrefetcher::Request(const ItemRequest& request) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    // A read of this item that a step has just cancelled will be dropped:
    // it is asked for again rather than taken as under way.
    if (reading_ == request && !cancel_) return;
    for (const PreparedItem& item : held_)
      if (item.request == request) return;
    waiting_ = request;
  }
  // The thread is started by the first request: a window that never
  // browses never has one.
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  changed_.notify_all();
}

bool ItemPrefetcher::Take(const ItemRequest& request, PreparedItem& item) {
  std::unique_lock lock(mutex_);
  if (waiting_ == request) waiting_.reset();
  // Reading it now: the rest of that read is sooner than a new one.
  changed_.wait(lock, [&] { return reading_ != request; });
  waiting_.reset();
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (it->request == request) {
      item = std::move(*it);
      held_.erase(it);
      ++itemsServed_;
      return true;
    }
  }
  CancelReadingLocked();
  std::erase_if(held_, [&](const PreparedItem& held) {
    return held.request.left == request.left &&
           held.request.right == request.right;
  });
  return false;
}

void ItemPrefetcher::Clear() {
  std::lock_guard lock(mutex_);
  waiting_.reset();
  CancelReadingLocked();
  held_.clear();
}

void ItemPrefetcher::CancelReadingLocked() {
  if (reading_) cancel_ = true;
}

bool ItemPrefetcher::Holds(const ItemRequest& request) const {
  std::lock_guard lock(mutex_);
  return std::any_of(held_.begin(), held_.end(), [&](const PreparedItem& item) {
    return item.request == request;
  });
}

size_t ItemPrefetcher::HeldCount() const {
  std::lock_guard lock(mutex_);
  return held_.size();
}

bool ItemPrefetcher::Reading() const {
  std::lock_guard lock(mutex_);
  return reading_.has_value() || waiting_.has_value();
}

int ItemPrefetcher::ItemsRead() const {
  std::lock_guard lock(mutex_);
  return itemsRead_;
}

int ItemPrefetcher::ItemsServed() const {
  std::lock_guard lock(mutex_);
  return itemsServed_;
}

void ItemPrefetcher::Run() {
  pthread_setname_np(pthread_self(), "duoramic-ahead");
  SetDecodeCancelFlag(&cancel_);
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || waiting_.has_value(); });
    if (stopping_) return;
    ItemRequest request = std::move(*waiting_);
    waiting_.reset();
    reading_ = request;
    cancel_ = false;
    lock.unlock();
    PreparedItem item;
    bool ok = PrepareItem(request, item);
    lock.lock();
    if (ok && !cancel_) {
      held_.push_back(std::move(item));
      while (held_.size() > capacity_) held_.pop_front();
      ++itemsRead_;
    }
    reading_.reset();
    changed_.notify_all();
  }
}

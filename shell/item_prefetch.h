// Reading the next item of a show before it is asked for.  While one item
// is on display a background thread reads the item a step would show next
// and scales it to the screen; the step then only places it.  An item is
// known by everything its pixels depend on, so a file changed on disk or a
// changed setting is never served from what was read before.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "stereo/pair_loader.h"

// Which file it is and which version of it: a file written again or put in
// its place differs in one of these.
struct FileStamp {
  bool exists = false;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  uint64_t inode = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

enum class ItemShape {
  Mpo,         // one multi-picture file: two camera views
  SideBySide,  // one still holding both views
  Pair,        // two stills, left and right
};

// An item as the load step would read it.
struct ItemRequest {
  ItemShape shape = ItemShape::Mpo;
  std::string left;
  std::string right;  // Pair only
  FileStamp leftStamp;
  FileStamp rightStamp;
  FitSettings fit;
  std::string startComment;  // what the comment holds when reading begins
  bool operator==(const ItemRequest&) const = default;
};
// The request with the files' stamps as they are now.
ItemRequest MakeItemRequest(ItemShape shape, const std::string& left,
                            const std::string& right, const FitSettings& fit,
                            std::string_view startComment);

// An item read and scaled to the screen, not yet placed for the floating
// window or given its comment band.
struct PreparedItem {
  ItemRequest request;
  Picture left;   // a side-by-side still: the whole scaled picture
  Picture right;  // empty for a side-by-side still
  std::string comment;  // the comment as reading left it
  int shiftX = 0;       // an MPO's parallax
  int shiftY = 0;
  // A still no reader could read (left is then the black stand-in): why;
  // for a pair, unreadableRight says it of the right file.
  std::string unreadable;
  std::string unreadableRight;
  // What the reader said of a still it did read (a file that ends early).
  std::string warning;
  // With automatic alignment or convergence: what was done (or why not),
  // as a line for the log and as the title's brief note.
  std::string alignNote;
  std::string alignTitle;
};

// Reads and scales the item exactly as the load step does (lining its views
// up and converging them first as request.fit asks), on any thread:
// touches neither Viewer, CurrentComment nor the parallax.  False when the
// item cannot be shown as pictures (an MPO that is not one, no memory, or a
// cancelled decode).
bool PrepareItem(const ItemRequest& request, PreparedItem& item);

// One background thread and the items it has read, at most `capacity` of
// them.  All calls come from one thread (the window's).  The destructor
// stops the thread: none outlives its owner.
class ItemPrefetcher {
 public:
  explicit ItemPrefetcher(size_t capacity = 2);
  ~ItemPrefetcher();
  ItemPrefetcher(const ItemPrefetcher&) = delete;
  ItemPrefetcher& operator=(const ItemPrefetcher&) = delete;

  // Reads the item in the background unless it is held or being read.
  // Replaces any request not yet started.
  void Request(const ItemRequest& request);
  // Hands over the item read for exactly this request, waiting when it is
  // being read.  False when there is none; whatever else is being read is
  // then given up (the user went elsewhere) and held items for the same
  // files, now stale, are dropped.
  bool Take(const ItemRequest& request, PreparedItem& item);
  // Gives up the item being read and drops everything held.
  void Clear();

  // The item read for exactly this request is held, ready for Take.
  bool Holds(const ItemRequest& request) const;
  size_t HeldCount() const;
  bool Reading() const;
  // Items read to the end, and handed over by Take, since construction.
  int ItemsRead() const;
  int ItemsServed() const;

 private:
  void Run();
  void CancelReadingLocked();

  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<ItemRequest> waiting_;
  std::optional<ItemRequest> reading_;
  std::deque<PreparedItem> held_;
  std::atomic<bool> cancel_{false};
  bool stopping_ = false;
  int itemsRead_ = 0;
  int itemsServed_ = 0;
  std::thread thread_;
};

// Comments of any bytes and length reaching the capture of each thread
// that reads pictures: the right view on the pair loader's helper thread,
// an item read ahead (a side-by-side still and a pair, begun with a start
// comment of the input's own), and a list entry read inside a capture as
// the list read-ahead does.  Whatever arrives must be valid UTF-8 within
// CurrentComment's room, the same text the main thread reads from the same
// bytes, and the comment on display must stay untouched.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "image/comment.h"
#include "stereo/pair_loader.h"
#include "shell/item_prefetch.h"
#include "slideshow/list_reader.h"
#include "tests/synthetic_jpeg.h"

namespace {

std::string folder;
synthetic::Bytes plainJpeg;

void Write(const std::string& path, const synthetic::Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// The comment bytes as a COM segment right after the start of the image;
// a COM segment holds at most 65,533 bytes.
synthetic::Bytes WithComment(std::string_view text) {
  text = text.substr(0, 65533);
  return synthetic::InsertAfterStart(
      plainJpeg,
      synthetic::Segment(0xFE, synthetic::Bytes(text.begin(), text.end())));
}

// What the main thread makes of the same bytes.
std::string MainThreadReading(std::string_view text) {
  ClearCurrentComment();
  SetCurrentComment(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  std::string read = CurrentComment;
  ClearCurrentComment();
  return read;
}

void CheckText(const std::string& text) {
  if (text.size() > sizeof CurrentComment - 1 || !IsValidUtf8(text))
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LimitFuzzPictures();
  char tmpl[] = "/tmp/comment-capture-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  folder = tmpl;
  plainJpeg = synthetic::Compress(synthetic::TestCard(8, 8), {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte splits the rest: the part before the split is the start
  // comment of the read-ahead, the part after the comment in the files.
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t split = std::min<size_t>(data[0], rest.size());
  std::string_view start = rest.substr(0, split);
  std::string_view comment = rest.substr(split);
  // The comment the viewer shows while the others read.
  std::string shown = MainThreadReading(start);
  std::string expected = MainThreadReading(comment);
  CheckText(expected);
  StoreCurrentComment(shown);

  std::string left = folder + "/left.jpg", right = folder + "/right.jpg";
  Write(left, plainJpeg);
  Write(right, WithComment(comment));

  {
    // The pair loader writes where the capture of its caller points.
    CommentCapture capture;
    Picture l, r;
    if (!ReadPictureFiles(left, right, l, r)) __builtin_trap();
    CheckText(capture.Text());
    if (expected != capture.Text()) __builtin_trap();
  }

  FitSettings fit{{64, 48}, false, true, 5};
  for (const ItemRequest& request :
       {MakeItemRequest(ItemShape::SideBySide, right, {}, fit, shown),
        MakeItemRequest(ItemShape::Pair, left, right, fit, shown)}) {
    PreparedItem item;
    if (!PrepareItem(request, item)) __builtin_trap();
    CheckText(item.comment);
    // The readers look for a comment only while none is held.
    if (item.comment != (shown.empty() ? expected : shown)) __builtin_trap();
  }

  // A list line with the comment in its last field.
  std::string line = "11;0;0;0;0;a.jpg;";
  line.append(comment.substr(0, 4096));
  {
    CommentCapture capture(shown);
    ListEntry entry;
    ReadListEntryFromBytes(line, 0, entry);
    CheckText(capture.Text());
  }
  if (shown != CurrentComment) __builtin_trap();
  ClearCurrentComment();
  return 0;
}

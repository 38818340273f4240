#include "image/jpeg_comment_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "image/comment.h"

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kComment = 0xFE;
constexpr uint8_t kFirstApp = 0xE0;
constexpr uint8_t kApp2 = 0xE2;
constexpr uint8_t kTem = 0x01;
constexpr uint8_t kFirstRestart = 0xD0;
constexpr uint8_t kLastRestart = 0xD7;
// Nothing larger is read into memory: no camera writes such a JPEG.
constexpr off_t kLargestFile = off_t{1} << 30;
// After "name$" is found taken, "name$1" to "name$99" are tried.
constexpr int kTempNameTries = 100;

const char kNotWritableText[] =
    "書き込み用にファイルがオープンできません。読み取り専用ファイルですか？";
const char kNoTempFileText[] = "一時ファイルが作成できません。CD-ROMですか？";
const char kBrokenText[] =
    "JPEGファイル構造に異常がある為、コメントが埋め込めません。";
const char kBrokenCaption[] = "実行エラー";
const char kWriteFailedText[] =
    "一時ファイルに書き込めません。ディスクの空き容量を確認してください。"
    "元のファイルは変更されていません。";
const char kMultiPictureText[] =
    "複数画像を含むファイルのため、コメントが埋め込めません。";
const char kReplaceFailedText[] =
    "ファイルを置き換えられません。元のファイルは変更されていません。";

void AppendComment(std::string_view comment, std::vector<uint8_t>& out) {
  size_t length = comment.size() + 2;
  out.insert(out.end(), {kMarker, kComment, static_cast<uint8_t>(length >> 8),
                         static_cast<uint8_t>(length & 0xFF)});
  out.insert(out.end(), comment.begin(), comment.end());
}

void Warn(const JpegCommentHooks& hooks, std::string_view text,
          std::string_view caption) {
  if (hooks.warn) hooks.warn(text, caption);
}

int Sync(const JpegCommentHooks& hooks, int fd) {
  return hooks.fsync ? hooks.fsync(fd) : ::fsync(fd);
}
int Close(const JpegCommentHooks& hooks, int fd) {
  return hooks.close ? hooks.close(fd) : ::close(fd);
}
int Rename(const JpegCommentHooks& hooks, const std::string& from,
           const std::string& to) {
  return hooks.rename ? hooks.rename(from.c_str(), to.c_str())
                      : ::rename(from.c_str(), to.c_str());
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes,
              const JpegCommentHooks& hooks) {
  size_t done = 0;
  while (done < bytes.size()) {
    size_t chunk = bytes.size() - done;
    ssize_t wrote = hooks.write ? hooks.write(fd, bytes.data() + done, chunk)
                                : ::write(fd, bytes.data() + done, chunk);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

bool ReadAll(int fd, size_t size, std::vector<uint8_t>& bytes) {
  bytes.resize(size);
  size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(fd, bytes.data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;  // shrank while being read: take what is there
    done += static_cast<size_t>(got);
  }
  bytes.resize(done);
  return true;
}

std::string FolderPart(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A file or folder that has no write permission for anyone counts as
// read-only even for a user (such as root) whom the system would let write:
// that is how a user marks a file as not to be changed.
bool MarkedReadOnly(const struct stat& st) { return (st.st_mode & 0222) == 0; }

bool FolderWritable(const std::string& folder) {
  struct stat st;
  return ::stat(folder.c_str(), &st) == 0 && !MarkedReadOnly(st) &&
         ::access(folder.c_str(), W_OK) == 0;
}

// Creates the temporary file beside `target` without ever opening one that
// exists.  Returns its descriptor, or -1 with `tempPath` the name tried.
int CreateTempFile(const std::string& target, std::string& tempPath) {
  for (int attempt = 0; attempt < kTempNameTries; ++attempt) {
    tempPath = target + "$" + (attempt ? std::to_string(attempt) : "");
    int fd = ::open(tempPath.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  tempPath = target + "$";
  return -1;
}

void SyncFolder(const std::string& folder, const JpegCommentHooks& hooks) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // The rename has happened; a folder that cannot be flushed leaves either
  // the old or the new file after a crash, both whole.
  Sync(hooks, fd);
  Close(hooks, fd);
}

// Writes `bytes` to a new temporary file beside `target` with the
// attributes of `original`, then renames it over `target`.
int ReplaceFile(const std::string& target, const struct stat& original,
                const std::vector<uint8_t>& bytes,
                const JpegCommentHooks& hooks) {
  std::string folder = FolderPart(target);
  std::string tempPath = target + "$";
  int fd = FolderWritable(folder) ? CreateTempFile(target, tempPath) : -1;
  if (fd < 0) {
    Warn(hooks, kNoTempFileText, tempPath);
    return kCommentNoTempFile;
  }
  auto fail = [&](int code, const char* text) {
    Close(hooks, fd);
    ::unlink(tempPath.c_str());
    if (text) Warn(hooks, text, target);
    return code;
  };
  if (!WriteAll(fd, bytes, hooks)) return fail(kCommentWriteFailed, kWriteFailedText);
  // The owner can only be kept by a privileged user; the file then belongs
  // to whoever wrote it, as any edited file does.
  (void)::fchown(fd, original.st_uid, original.st_gid);
  if (::fchmod(fd, original.st_mode & 07777) != 0)
    return fail(kCommentTempSetupFailed, kWriteFailedText);
  const struct timespec times[2] = {original.st_atim, original.st_mtim};
  bool timesKept = ::futimens(fd, times) == 0;
  if (Sync(hooks, fd) != 0) return fail(kCommentWriteFailed, kWriteFailedText);
  if (Close(hooks, fd) != 0) {
    ::unlink(tempPath.c_str());
    Warn(hooks, kWriteFailedText, target);
    return kCommentWriteFailed;
  }
  if ((hooks.beforeReplace && !hooks.beforeReplace(tempPath)) ||
      Rename(hooks, tempPath, target) != 0) {
    ::unlink(tempPath.c_str());
    Warn(hooks, kReplaceFailedText, target);
    return kCommentReplaceFailed;
  }
  SyncFolder(folder, hooks);
  return timesKept ? kCommentWritten : kCommentTimesNotKept;
}

}  // namespace

int RewriteJpegComment(const uint8_t* jpeg, size_t size,
                       std::string_view comment, std::vector<uint8_t>& out) {
  out.clear();
  if (!jpeg || size < 2 || jpeg[0] != kMarker || jpeg[1] != kStartOfImage)
    return kCommentNotJpeg;
  out.reserve(size + comment.size() + 4);
  out.insert(out.end(), jpeg, jpeg + 2);
  bool commentPlaced = comment.empty();
  bool multiPicture = false;
  auto finish = [&] {
    bool unchanged = out.size() == size && std::equal(out.begin(), out.end(), jpeg);
    return multiPicture && !unchanged ? kCommentMultiPicture : kCommentWritten;
  };
  size_t i = 2;
  while (i < size) {
    if (jpeg[i] != kMarker) return kCommentBrokenStructure;
    // Any number of FF fill bytes may come before a marker code.
    size_t codeAt = i + 1;
    while (codeAt < size && jpeg[codeAt] == kMarker) ++codeAt;
    if (codeAt >= size) return kCommentBrokenStructure;
    uint8_t code = jpeg[codeAt];
    size_t start = codeAt - 1;
    if (code == kStartOfScan || code == kEndOfImage) {
      out.insert(out.end(), jpeg + start, jpeg + size);
      return finish();
    }
    if (code == 0x00) return kCommentBrokenStructure;
    if (code == kTem || (code >= kFirstRestart && code <= kLastRestart) ||
        code == kStartOfImage) {
      // Markers without a length: copied as they stand.
      out.insert(out.end(), {kMarker, code});
      i = codeAt + 1;
      continue;
    }
    if (codeAt + 2 >= size) return kCommentBrokenStructure;
    size_t length = size_t{jpeg[codeAt + 1]} << 8 | jpeg[codeAt + 2];
    if (length < 2 || length > size - (codeAt + 1))
      return kCommentBrokenStructure;
    size_t end = codeAt + 1 + length;
    if (code == kApp2 && length >= 6 &&
        std::equal(jpeg + codeAt + 3, jpeg + codeAt + 7, "MPF"))
      multiPicture = true;
    if (code < kFirstApp && !commentPlaced) {
      AppendComment(comment, out);
      commentPlaced = true;
    }
    if (code != kComment) out.insert(out.end(), jpeg + start, jpeg + end);
    i = end;
  }
  return finish();
}

std::string JpegCommentText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  return std::string(text.substr(0, Utf8PrefixLength(text, kJpegCommentMaxBytes)));
}

int WriteJpegComment(const std::string& path, std::string_view comment,
                     const JpegCommentHooks& hooks) {
  // A link is followed: the picture it points at takes the comment and the
  // link stays a link.
  char resolved[PATH_MAX];
  std::string target = ::realpath(path.c_str(), resolved) ? resolved : path;
  int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && ::fstat(fd, &st) != 0) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0 || (S_ISREG(st.st_mode) && MarkedReadOnly(st))) {
    if (fd >= 0) ::close(fd);
    Warn(hooks, kNotWritableText, path);
    return kCommentNotWritable;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > kLargestFile) {
    ::close(fd);
    return kCommentUnreadable;
  }
  std::vector<uint8_t> bytes;
  bool read = ReadAll(fd, static_cast<size_t>(st.st_size), bytes);
  ::close(fd);
  if (!read) return kCommentReadFailed;
  std::vector<uint8_t> rewritten;
  // Everything is checked before anything is written.
  int walk = RewriteJpegComment(bytes.data(), bytes.size(),
                                JpegCommentText(comment), rewritten);
  if (walk == kCommentBrokenStructure)
    Warn(hooks, kBrokenText, kBrokenCaption);
  if (walk == kCommentMultiPicture)
    Warn(hooks, kMultiPictureText, kBrokenCaption);
  if (walk != kCommentWritten) return walk;
  return ReplaceFile(target, st, rewritten, hooks);
}

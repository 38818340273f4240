#include "cli/comment_command.h"

#include <cstdio>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/file_names.h"
#include "image/jpeg_comment_writer.h"
#include "image/jpeg_reader.h"

const char kCommentUsage[] =
    "  duoramic-cli comment FILE [--set TEXT | --clear]\n";

namespace {

int Usage() {
  std::fputs("usage:\n", stderr);
  std::fputs(kCommentUsage, stderr);
  return 2;
}

int Fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "duoramic-cli: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

// Why a write failed, for the codes that bring no message of their own.
const char* Reason(int code) {
  switch (code) {
    case kCommentUnreadable: return "not a regular file, or too large";
    case kCommentNotJpeg: return "not a JPEG file (it does not start with FF D8)";
    case kCommentReadFailed: return "the file could not be read";
    case kCommentTimesNotKept:
      return "comment written, but the file times could not be kept";
    default: return "the comment was not written; the file is unchanged";
  }
}

int Print(const std::string& file) {
  std::vector<uint8_t> start;
  if (!ReadFilePrefix(file, 2, start)) return Fail(file, "cannot be read");
  if (start.size() < 2 || start[0] != 0xFF || start[1] != 0xD8)
    return Fail(file, Reason(kCommentNotJpeg));
  ClearCurrentComment();
  ReadJpegComment(file);
  std::printf("%s\n", CurrentComment);
  return 0;
}

int Write(const std::string& file, const std::string& text) {
  // As the viewer offers it: only for JPEG names, never for an MPO.
  if (!FileKindMatches(file, JpegKind))
    return Fail(file, "comments are written into .jpg, .jpeg and .jps files only");
  std::string comment = JpegCommentText(text);
  if (comment.size() < text.size())
    std::fprintf(stderr, "duoramic-cli: %s: comment cut to %zu bytes\n",
                 file.c_str(), comment.size());
  JpegCommentHooks hooks;
  bool told = false;
  hooks.warn = [&](std::string_view message, std::string_view caption) {
    std::fprintf(stderr, "duoramic-cli: %.*s: %.*s\n",
                 static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(message.size()), message.data());
    told = true;
  };
  int code = WriteJpegComment(file, comment, hooks);
  if (code == kCommentWritten) return 0;
  if (!told) Fail(file, Reason(code));
  return 1;
}

}  // namespace

int RunCommentCommand(const std::vector<std::string>& args) {
  std::string file, text;
  bool set = false, clear = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--set" && i + 1 < args.size() && !set) {
      set = true;
      text = args[++i];
    } else if (a == "--clear") {
      clear = true;
    } else if (!a.empty() && a[0] != '-' && file.empty()) {
      file = a;
    } else {
      return Usage();
    }
  }
  if (file.empty() || (set && clear)) return Usage();
  if (!set && !clear) return Print(file);
  return Write(file, clear ? std::string() : text);
}

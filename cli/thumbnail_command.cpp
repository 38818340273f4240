#include "cli/thumbnail_command.h"

#include <cstdio>
#include <cstdlib>

#include "cli/png_write.h"
#include "cli/stereo_output.h"
#include "stereo/thumbnail.h"

const char kThumbnailUsage[] =
    "  duoramic-cli thumbnail [-s SIZE] INPUT OUTPUT.png\n";

namespace {

// File managers ask for 128 (normal) to 1024 (xx-large); a size far beyond
// that is a mistake, not a thumbnail.
constexpr int kMaxThumbnailSize = 4096;
constexpr int kDefaultSize = 256;

int Usage() {
  std::fputs("usage:\n", stderr);
  std::fputs(kThumbnailUsage, stderr);
  std::fprintf(stderr,
               "    the left view, longest side SIZE (1..%d, default %d)\n",
               kMaxThumbnailSize, kDefaultSize);
  return 2;
}

bool ParseSize(const std::string& text, int& size) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > kMaxThumbnailSize)
    return false;
  size = static_cast<int>(value);
  return true;
}

}  // namespace

int RunThumbnailCommand(const std::vector<std::string>& args) {
  int size = kDefaultSize;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-s" || a == "--size") {
      if (i + 1 >= args.size() || !ParseSize(args[++i], size)) return Usage();
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage();
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return Usage();
  // A file manager's or a user's slip must not turn the picture into its
  // own thumbnail.
  if (IsOneOfInputs(files[1], {files[0]})) {
    std::fprintf(stderr, "duoramic-cli: %s: %s\n", files[1].c_str(),
                 kInputNotOverwritten);
    return 1;
  }
  SetThumbnailBudget();
  std::string reason;
  Picture thumbnail = MakeThumbnail(files[0], size, reason);
  if (!thumbnail) {
    std::fprintf(stderr, "duoramic-cli: %s: %s\n", files[0].c_str(),
                 reason.c_str());
    return 1;
  }
  // File managers' thumbnail services create the output file themselves
  // and read the result back through the handle they hold: written in
  // place, not renamed over.
  std::string error;
  if (!WritePicturePng(thumbnail, files[1], error, PngOutput::InPlace)) {
    std::fprintf(stderr, "duoramic-cli: %s: %s\n", files[1].c_str(),
                 error.c_str());
    return 1;
  }
  return 0;
}

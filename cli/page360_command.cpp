#include "cli/page360_command.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "viewer360/viewer_files.h"

const char kPage360Usage[] =
    "  duoramic-cli page360 FILE [--mode 0..8] [--swap] -o DIR\n";

namespace {

int Usage() {
  std::fputs("usage:\n", stderr);
  std::fputs(kPage360Usage, stderr);
  std::fputs("    modes: 0 side by side, 1 Dubois, 2 colour anaglyph, "
             "3 grey anaglyph,\n    4 row interlace, 5 column interlace, "
             "6 half side by side,\n    7 half over/under, 8 one view\n",
             stderr);
  return 2;
}

}  // namespace

int RunPage360Command(const std::vector<std::string>& args) {
  std::string file, out;
  int mode = 0;
  bool swap = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "--swap") {
      swap = true;
    } else if (a == "--mode" && hasValue) {
      const std::string& v = args[++i];
      if (v.size() != 1 || v[0] < '0' || v[0] > '8') return Usage();
      mode = v[0] - '0';
    } else if (a == "-o" && hasValue) {
      out = args[++i];
    } else if (a.empty() || a[0] == '-' || !file.empty()) {
      return Usage();
    } else {
      file = a;
    }
  }
  if (file.empty() || out.empty()) return Usage();
  // The page names the item by its full path: it is opened from elsewhere.
  std::string path = QFileInfo(QString::fromStdString(file))
                         .absoluteFilePath()
                         .toStdString();
  if (!QDir().mkpath(QString::fromStdString(out))) {
    std::fprintf(stderr, "duoramic-cli: %s: cannot make the folder\n",
                 out.c_str());
    return 1;
  }
  // As the viewer does: a stereo still the browser cannot show as two
  // eyes is handed over as a side-by-side picture written beside the page.
  std::string shown = PanoramaPictureFor(QFileInfo(QString::fromStdString(out))
                                             .absoluteFilePath()
                                             .toStdString(),
                                         path);
  if (WriteViewerFiles(out, shown, mode, swap ? 1 : 0) != 0) {
    std::fprintf(stderr, "duoramic-cli: %s: cannot write the page files\n",
                 out.c_str());
    return 1;
  }
  std::printf("%s/%s\n", out.c_str(), kViewerPageName);
  return 0;
}

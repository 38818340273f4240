#include "shell/later_features.h"

int NotBuiltFeatures::OpenMovie(const std::string& left,
                                const std::string& right) {
  report_("Movie playback (" + left + (right.empty() ? "" : " + " + right) +
          "): not built yet");
  return 1;
}

void NotBuiltFeatures::Show(const std::string& path, bool) {
  report_("360-degree viewer (" + path + "): not built yet");
}

void NotBuiltFeatures::RunStereoOutput(const std::string&, const std::string&,
                                       int) {
  report_("3D VISION output: not built yet");
}

int NotBuiltFeatures::EditComment(QWidget*, const std::string& path) {
  report_("JPEG comment (" + path + "): not built yet");
  return 0;
}

void NotBuiltFeatures::MakeList(QWidget*) {
  report_("Slideshow list maker: not built yet");
}

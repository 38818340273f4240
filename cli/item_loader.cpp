#include "cli/item_loader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/file_names.h"
#include "image/mpo_reader.h"
#include "shell/viewer_state.h"

namespace {

// The viewer shows a missing file as black; from the command line a wrong
// name is far more likely a typing mistake, so it is reported instead.
bool CanOpen(const std::string& file, ItemLoadFailure& failure) {
  if (FILE* f = std::fopen(file.c_str(), "rb")) {
    std::fclose(f);
    return true;
  }
  failure = {file, std::string("cannot open: ") + std::strerror(errno)};
  return false;
}

bool Fitted(const ScreenSize& screen, Picture& left, Picture& right,
            const std::string& file, ItemLoadFailure& failure) {
  if (FitPairToScreen(screen, left, right)) return true;
  failure = {file, "out of memory while fitting the pair to the screen"};
  return false;
}

}  // namespace

bool LoadViewerItem(const std::string& file, const std::string& rightFile,
                    const ScreenSize& screen, Picture& left, Picture& right,
                    ItemLoadFailure& failure) {
  ClearCurrentComment();
  ParallaxShiftX = ParallaxShiftY = 0;
  if (!CanOpen(file, failure)) return false;
  if (!rightFile.empty()) {
    if (!CanOpen(rightFile, failure)) return false;
    Viewer.SourceKind = 2;
    if (!LoadPicturePair(file, rightFile, left, right)) {
      failure = {file, "out of memory"};
      return false;
    }
    return Fitted(screen, left, right, file, failure);
  }
  Viewer.SourceKind = 1;
  if (FileKindMatches(file, MpoKind)) {
    ClearLoadFailure();
    if (!LoadMpoFile(file, left, right)) {
      failure = {file, "not a stereo MPO: " + LastLoadFailure()};
      return false;
    }
    Viewer.ShownKind = 2;
    Viewer.ShownLeftPath = file;
    Viewer.ShownRightPath.clear();
    return Fitted(screen, left, right, file, failure);
  }
  if (!LoadSideBySideFile(file, screen)) {
    failure = {file, "cannot cut the picture into two views (too narrow, "
                     "or out of memory)"};
    return false;
  }
  left = std::move(Viewer.LeftPicture);
  right = std::move(Viewer.RightPicture);
  return true;
}

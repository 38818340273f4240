#include "cli/item_loader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/ascii_case.h"
#include "image/comment.h"
#include "image/file_data.h"
#include "image/file_names.h"
#include "image/mpo_reader.h"
#include "core/viewer_state.h"
#include "slideshow/list_reader.h"

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

// Reads the item; a comment already in CurrentComment (a list entry's)
// stays, since the readers only fill an empty one.
bool LoadItemKeepingComment(const std::string& file,
                            const std::string& rightFile,
                            const ScreenSize& screen, Picture& left,
                            Picture& right, ItemLoadFailure& failure) {
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
      // A HEIF or VR photo's reason names the view that failed.
      bool mpo = EndsWithIgnoringCase(file, ".mpo");
      failure = {file, (mpo ? "not a stereo MPO: " : "") + LastLoadFailure()};
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

bool LoadViewerItem(const std::string& file, const std::string& rightFile,
                    const ScreenSize& screen, Picture& left, Picture& right,
                    ItemLoadFailure& failure) {
  ClearCurrentComment();
  return LoadItemKeepingComment(file, rightFile, screen, left, right, failure);
}

bool LoadListItem(const std::string& listPath, int number,
                  const ItemOverrides& overrides, const ScreenSize& screen,
                  Picture& left, Picture& right, ItemLoadFailure& failure) {
  if (!CanOpen(listPath, failure)) return false;
  Viewer.ListMode = true;
  ReadListSettings(listPath);
  if (overrides.commentOn) Viewer.CommentOn = *overrides.commentOn;
  if (overrides.floatOffset) Viewer.FloatOffset = *overrides.floatOffset;
  if (number < 1 || number > Viewer.ItemCount) {
    failure = {listPath, "no entry " + std::to_string(number) + " (the list has " +
                             std::to_string(Viewer.ItemCount) + ")"};
    return false;
  }
  ClearCurrentComment();
  ListEntry entry;
  if (!ReadListEntry(listPath, number - 1, entry)) {
    failure = {listPath, "no entry " + std::to_string(number)};
    return false;
  }
  std::string folder = ListFolderOf(listPath);
  std::string leftPath = ResolveListName(folder, entry.EntryLeftName);
  if (entry.EntryKind >= 30 && entry.EntryKind <= 39) {
    failure = {leftPath, "a 360-degree entry is shown by the 360-degree viewer"};
    return false;
  }
  if (FileKindMatches(leftPath, MovieKind)) {
    failure = {leftPath, "a movie entry has no still picture to render"};
    return false;
  }
  std::string rightPath;
  if (entry.EntryKind == 11)
    rightPath = ResolveListName(folder, entry.EntryRightName);
  return LoadItemKeepingComment(leftPath, rightPath, screen, left, right,
                                failure);
}

// The stepping arithmetic of navigation: positions in a folder list and the
// files a pair source's step shows.
#include <string>

#include "core/viewer_state.h"
#include "image/ascii_case.h"
#include "image/file_names.h"
#include "shell/navigation_steps.h"
#include "shell/startup.h"

bool HoldsBothViews(const std::string& path) {
  return FileKindMatches(path, MpoKind) || EndsWithIgnoringCase(path, "jps") ||
         EndsWithIgnoringCase(path, "pns");
}

int WrapIndex(int index, int count) {
  if (count <= 0) return 0;
  if (index < 0) return count - 1;
  return index >= count ? 0 : index;
}

std::string FolderEntry(const std::string& folder, int index) {
  const auto& names = Viewer.LeftFolderList;
  if (index < 0 || index >= static_cast<int>(names.size())) return {};
  return folder + names[index];
}

void PairPathsForStep(bool next, int& itemIndex, int rightIndex,
                      std::string& left, std::string& right, int& itemWidth) {
  const auto& rights = Viewer.RightFolderList;
  bool twoFolders = !Viewer.RightFolder.empty() &&
                    Viewer.LeftFolder != Viewer.RightFolder &&
                    rightIndex < static_cast<int>(rights.size());
  if (twoFolders) {
    left = FolderEntry(Viewer.OpenFolder, itemIndex);
    right = Viewer.RightFolder + rights[rightIndex];
    if (IsFileNotFolder(right)) {
      itemWidth = 2;
      return;
    }
  }
  // Two neighbours with the index on the right one.  A file holding both
  // views (JPS, PNS, MPO) is no eye of a pair: it is an item of its own,
  // and so is the plain file beside it that has then no partner.
  int& index = itemIndex;
  int count = Viewer.ItemCount;
  const std::string& folder = Viewer.OpenFolder;
  if (next) {
    left = FolderEntry(folder, index);
    int after = WrapIndex(index + 1, count);
    right = FolderEntry(folder, after);
    if (HoldsBothViews(left) || HoldsBothViews(right)) {
      right.clear();
      itemWidth = 1;
      return;
    }
    index = after;
  } else {
    // The index has gone back one name: the item before ends there when a
    // single file is on display, one name earlier after a pair.
    int end = itemWidth == 1 ? index : WrapIndex(index - 1, count);
    right = FolderEntry(folder, end);
    left = FolderEntry(folder, WrapIndex(end - 1, count));
    index = end;
    if (HoldsBothViews(left) || HoldsBothViews(right)) {
      left = right;
      right.clear();
      itemWidth = 1;
      return;
    }
  }
  itemWidth = 2;
}

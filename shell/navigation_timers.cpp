// The main window's three timers, the end of a transition, the list's
// music and shutdown.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "image/ascii_case.h"
#include "image/file_names.h"
#include "shell/command_table.h"
#include "shell/main_window.h"
#include "shell/navigation.h"
#include "shell/navigation_steps.h"
#include "core/viewer_state.h"
#include "stereo/transition.h"

namespace {

constexpr const char* kEyeFiSuffix = "(Eye-Fi Mode)";

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), AsciiLower);
  return lowered;
}

}  // namespace

void StartTransition(MainWindow& w) {
  ChooseTransitionRandoms();
  Viewer.TransitionProgress = 0;
  Viewer.TransitionStartTick = w.NowMs();
  w.TransitionTimer().start(kTransitionTickMs);
  Viewer.TransitionPending = true;
  Viewer.TransitionRunning = false;
}

void TransitionTick(MainWindow& w) {
  if (!Viewer.TransitionPending) {
    w.TransitionTimer().stop();
    return;
  }
  // Progress follows the clock, not the number of ticks: a slow machine
  // draws fewer frames, the transition still takes one second.
  uint32_t elapsed = w.NowMs() - Viewer.TransitionStartTick;
  int progress = static_cast<int>(std::min<uint32_t>(elapsed / 10, 100));
  Viewer.TransitionProgress = progress;
  if (progress > 99) {
    w.TransitionTimer().stop();
    TransitionStep(100);
    Viewer.TransitionProgress = 0;
    Viewer.TransitionPending = false;
    return;
  }
  // The step before is still being drawn (drawing lets events through).
  if (!Viewer.TransitionRunning) TransitionStep(progress);
}

void EndTransition(MainWindow& w, bool drawEnd) {
  // Pending covers the first 10 ms too, before a tick has set the progress.
  if (Viewer.TransitionPending || Viewer.TransitionProgress > 0) {
    w.TransitionTimer().stop();
    if (drawEnd) TransitionStep(100);
    else FreeTransitionPictures();
    Viewer.TransitionPending = false;
  }
  Viewer.TransitionProgress = 0;
}

void SlideshowTick(MainWindow& w) {
  if (Viewer.View360) w.Panorama().Close();
  // A playing movie holds the show until it ends; a transition until its
  // new pair is on screen.
  if (!Viewer.MovieOpen && !Viewer.TransitionPending) w.PostCommand(CMD_NEXT);
}

void EyeFiTick(MainWindow& w) {
  if (Viewer.OpenPath.empty()) return;  // no folder to watch yet
  int count = CountFolderFiles(Viewer.OpenPath, MpoKind);
  if (count != Viewer.ItemCount) {
    std::set<std::string> known;
    for (const std::string& name : Viewer.LeftFolderList)
      known.insert(Lowered(name));
    ListFolder(Viewer.OpenPath, MpoKind, LeftList);
    // The last new name in folder order is shown.
    int newest = -1;
    const auto& names = Viewer.LeftFolderList;
    for (int i = 0; i < static_cast<int>(names.size()); ++i)
      if (!known.count(Lowered(names[i]))) newest = i;
    if (newest >= 0) {
      Viewer.OpenPath = Viewer.OpenFolder + names[newest];
      Viewer.ItemIndex = newest;
      w.PostCommand(CMD_SHOW_FILE);
    }
  }
  const auto& names = Viewer.LeftFolderList;
  int index = Viewer.ItemIndex;
  if (index >= 0 && index < static_cast<int>(names.size()))
    Viewer.OpenPath = Viewer.OpenFolder + names[index];
  SingleTitle(w, Viewer.OpenPath, kEyeFiSuffix);
}

void CloseMusic(MainWindow& w) {
  if (!Viewer.BgmPlaying) return;
  w.Music().Close();
  Viewer.BgmPlaying = false;
}

// Only the list's own items pause and resume its music: a pair opened while
// it plays, and the folder browsed from there, leave it as it is.
void PauseMusic(MainWindow& w) {
  if (Viewer.ListMode && Viewer.BgmPlaying && Viewer.MovieBgmStop)
    w.Music().Pause();
}

void ResumeMusic(MainWindow& w) {
  if (Viewer.ListMode && Viewer.BgmPlaying && Viewer.MovieBgmStop)
    w.Music().Resume();
}

void StopNavigation(MainWindow& w) {
  // A closed movie leaves its last frame as the current pair.
  if (Viewer.MovieOpen) w.Movie().CloseMovie();
  w.SlideshowTimer().stop();
  w.EyeFiTimer().stop();
  EndTransition(w, true);
  CloseMusic(w);
  ForgetFirstLook(w);
  w.Prefetch().Clear();
}

// What the item commands (navigation.cpp) and the timers
// (navigation_timers.cpp) share: titles, the end of a transition and the
// list's music.
#pragma once

#include <string>
#include <string_view>

class MainWindow;

// The title of a one-file item at ItemIndex of ItemCount, or of the pair in
// LeftPath/RightPath; a running slideshow adds its interval.  `suffix` is
// "", "Error!" or the Eye-Fi note.
void SingleTitle(MainWindow& window, const std::string& path,
                 const char* suffix = "");
void PairTitle(MainWindow& window, const char* suffix = "");

// Ends a transition under way: with `drawEnd` its last frame installs the
// new pair, without it the new pair is dropped.  Nothing when none runs.
void EndTransition(MainWindow& window, bool drawEnd);

// The list's music: closed when another show starts; paused and resumed
// around the list's movie items only when it asks for it (MovieBGMStop).
void CloseMusic(MainWindow& window);
void PauseMusic(MainWindow& window);
void ResumeMusic(MainWindow& window);


// Item display and navigation: showing a file, a pair or a slideshow list,
// stepping to the next or previous item of the folder or list, reading the
// item on display again, and the three timers of the main window (the
// transition animation, the slideshow advance and the Eye-Fi folder watch).
#pragma once

#include <span>

class MainWindow;
struct CommandHandlerRow;

// CMD_SHOW_FILE, CMD_SHOW_PAIR, CMD_START_LIST, next, previous, reload,
// Eye-Fi mode and the end of a movie.
std::span<const CommandHandlerRow> NavigationCommandHandlers();

// Timer periods in milliseconds; the slideshow's is nInterval x 100.
constexpr int kTransitionTickMs = 10;
constexpr int kEyeFiTickMs = 300;

// Starts animating from the current pair to LeftPicture/RightPicture; the
// new pair is installed when the transition ends.
void StartTransition(MainWindow& window);

// The timer handlers.  A transition lasts about one second by the window's
// clock whatever the timer's resolution; the slideshow holds while a
// transition is pending or a movie plays; Eye-Fi mode shows the newest MPO
// file that appeared in the watched folder.
void TransitionTick(MainWindow& window);
void SlideshowTick(MainWindow& window);
void EyeFiTick(MainWindow& window);

// Shutdown: the slideshow and Eye-Fi timers stop, a running transition is
// finished, the music and a movie are closed.
void StopNavigation(MainWindow& window);

// Hands the item on display to the 3D Vision output.
void HandOverToStereoOutput(MainWindow& window);

// A first look is on display while its exact picture is read.  The timer
// tick installs that picture once it is read; FinishFirstLook installs it
// now, waiting for the rest of its reading (every command does this first).
bool FirstLookOnDisplay();
void FirstLookTick(MainWindow& window);
void FinishFirstLook(MainWindow& window);

// What the item commands (navigation.cpp) and the timers
// (navigation_timers.cpp) share: titles, the end of a transition and the
// list's music.
#pragma once

#include <string>
#include <string_view>

class MainWindow;
struct ListEntry;
struct PairFailures;
struct FirstShow;
struct ScreenSize;

// The title of a one-file item at ItemIndex of ItemCount, or of the pair in
// LeftPath/RightPath; a running slideshow adds its interval.  `suffix` is
// "", "Error!" or the Eye-Fi note.
void SingleTitle(MainWindow& window, const std::string& path,
                 const char* suffix = "");
void PairTitle(MainWindow& window, const char* suffix = "");
// Sets the item's title again with or without the slideshow note, as the
// show now runs or not.
void RefreshSlideshowNote(MainWindow& window);
// `note` after the title of the item on display (once its exact pixels
// tell something the first look could not).
void AppendItemNote(MainWindow& window, const std::string& note);

// Ends a transition under way: with `drawEnd` its last frame installs the
// new pair, without it the new pair is dropped.  Nothing when none runs.
void EndTransition(MainWindow& window, bool drawEnd);

// The list's music: closed when another show starts; paused and resumed
// around the list's movie items only when it asks for it (MovieBGMStop).
void CloseMusic(MainWindow& window);
void PauseMusic(MainWindow& window);
void ResumeMusic(MainWindow& window);


// Stepping arithmetic shared by the steps and the reading ahead: an index
// wrapped into 0..count-1, the folder's name at an index (empty when
// none), the list entry on display, and the two files a pair step reads
// from the positions it starts at (the left index moves for a pair of
// neighbours).
int WrapIndex(int index, int count);
std::string FolderEntry(const std::string& folder, int index);
const ListEntry& ShownListEntry();
// `itemWidth` is how many folder names the item on display takes (2 for a pair,
// 1 for a stereo file shown on its own) and becomes the new item's; a new
// item of one file comes back with `right` empty.
void PairPathsForStep(bool next, int& itemIndex, int rightIndex,
                      std::string& left, std::string& right, int& itemWidth);
int ShownPairItemWidth();
// JPS, PNS and MPO files: each holds both views itself.
bool HoldsBothViews(const std::string& path);

// Reading an item through the window's prefetcher (navigation_prefetch):
// the item read ahead when it is exactly the one asked for, else read now.
// Each leaves LeftPicture/RightPicture, the comment and the parallax as the
// direct loads do (LoadMpoFile or LoadPicturePair with FitPairToScreen,
// LoadSideBySideFile); false when the MPO or pair did not load.
bool LoadMpoItem(MainWindow& window, const std::string& path);
// A side-by-side still no reader could read leaves the black stand-in's
// views, with the readers' reasons in `unreadable` (empty otherwise);
// `warning` says what the reader said of one it did read (a file that ends
// early), when it is known.
bool LoadSideBySideItem(MainWindow& window, const std::string& path,
                        std::string& unreadable, std::string* warning);
// `unreadable` as with LoadPicturePair.
bool LoadPairItem(MainWindow& window, const std::string& left,
                  const std::string& right, PairFailures& unreadable);
// What the automatic alignment did to the item being read, for its title
// to show briefly once it is set.
void NoteItemAlignment(std::string note);
// After an item is shown: reads ahead the one a step forward (or back)
// would show, unless a movie plays or that item is no still.
void PrefetchNextItem(MainWindow& window, bool forward);

// Around the read of a show: whether the item may be drawn from a first
// look (shell/first_look.h) while its exact picture is read.  Taken by the
// first load; a first look drawn makes PrefetchNextItem read the exact item
// before anything else.  ForgetFirstLook drops a first look's wait without
// reading (the window is closing).
void WantFirstLook(bool wanted);
void ForgetFirstLook(MainWindow& window);
// Starts reading the file or pair `show` opens on a thread of its own,
// beside the rest of start-up, for a window on a screen of `screen`: its
// first look, or the item itself when none is to be had.  The show's read
// takes it when it asks for the same item with the same settings, and
// reads afresh otherwise.
void StartEarlyRead(const FirstShow& show, const ScreenSize& screen);

// The opt-in timing log (DUORAMIC_TIMING set): a step begins, its item's
// pixels are on screen.
void NoteStepStarted(bool forward);
void NoteItemOnScreen(MainWindow& window);

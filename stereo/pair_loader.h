// Turns what the user opened into a left and a right picture ready for
// display: one still read whole, a side-by-side still cut into its views, a
// pair of files, and the fitting of a freshly read pair to the screen with
// the floating-window shift and the comment band applied.
//
// The screen is a parameter: the platform layer knows the primary screen's
// size, this code does not ask any window system.
#pragma once

#include <string>

#include "core/picture.h"

struct ScreenSize {
  int width = 0;
  int height = 0;
};

// What fitting a freshly read item to the screen depends on besides its
// pictures and whether it has a comment.  Read from Viewer by the thread
// that owns it; the scaling steps below take it as a value, so that they
// can run on any thread.
struct FitSettings {
  ScreenSize screen;
  bool panorama = false;  // ActualSizeToggle > 0
  bool commentOn = true;
  int commentSize = 5;
  // Line the views up before fitting them (the viewer's automatic
  // alignment; done by the shell, which links the measurement).
  bool autoAlign = false;
  // Shift the views of an item without camera parallax so that its
  // nearest content sits at the screen plane (also done by the shell).
  bool autoConverge = false;
  bool operator==(const FitSettings& o) const {
    return screen.width == o.screen.width &&
           screen.height == o.screen.height && panorama == o.panorama &&
           commentOn == o.commentOn && commentSize == o.commentSize &&
           autoAlign == o.autoAlign && autoConverge == o.autoConverge;
  }
};
FitSettings CurrentFitSettings(const ScreenSize& screen);

// The picture shown for a file no reader can read.
constexpr int kUnreadableSide = 600;

// Any still file as one 24-bit picture: the readers are tried in the order
// JPEG, PNG, TIFF, GIF, BMP.  An empty path or a file none of them reads
// gives a black 600 x 600 picture, so the user sees black rather than a
// message.  Null only when memory runs out.  Resets ParallaxShiftX/Y.
// A JPEG whose stereo descriptor places its views otherwise (over/under,
// right view first) comes as the frame with the left view in the left half.
// When the black stand-in is returned for a file, `unreadable` (if given)
// receives the readers' reasons; it is left empty otherwise.
Picture LoadPicture(const std::string& path, std::string* unreadable = nullptr);
// LoadPicture leaving the parallax alone: safe on any thread.
Picture ReadStillPicture(const std::string& path,
                         std::string* unreadable = nullptr);

// Reads a left and a right file into the slots and records them as shown
// (ShownKind 2, ShownLeftPath, ShownRightPath).  Returns 1, or 0 with both
// slots empty.
// A file no reader reads gives its black stand-in; `unreadable`, when
// given, receives the readers' reasons for the left and the right file
// (each empty when that file was read).
struct PairFailures {
  std::string left;
  std::string right;
};
int LoadPicturePair(const std::string& leftPath, const std::string& rightPath,
                    Picture& leftSlot, Picture& rightSlot,
                    PairFailures* unreadable = nullptr);

// The reading of LoadPicturePair alone: both files at once on two threads,
// the comment left as reading them one after the other leaves it, nothing
// recorded and the parallax untouched.  False, with both empty, when memory
// runs out.
bool ReadPictureFiles(const std::string& leftPath,
                      const std::string& rightPath, Picture& left,
                      Picture& right, PairFailures* unreadable = nullptr);

// Reads a still holding both views side by side, fits it to twice the
// screen width (or to the screen height, whichever governs) and cuts it into
// Viewer.LeftPicture and Viewer.RightPicture with the floating-window shift
// and comment band.  Returns 1.  Returns 0 with both slots untouched when
// memory runs out before the cut, and with both emptied when a cut fails.
// `unreadable` as with LoadPicture: the views are then the black stand-in's.
int LoadSideBySideFile(const std::string& path, const ScreenSize& screen,
                       std::string* unreadable = nullptr);

// LoadSideBySideFile in two steps: the scaling of the picture read (any
// thread; the picture is kept as read when memory runs out), and the cut
// into the two views with everything it records.
void ScaleSideBySideForScreen(const FitSettings& settings, bool hasComment,
                              Picture& picture);
int ShowScaledSideBySide(const std::string& path, Picture picture);

// Scales both pictures onto one screen-fitted canvas size (the larger width
// and height of the two, aspect kept, centred) and applies the floating-
// window shift and the comment band.  Returns 1 with both slots replaced, or
// 0 when memory runs out (the slots may then hold either stage).
int FitPairToScreen(const ScreenSize& screen, Picture& leftSlot,
                    Picture& rightSlot);

// FitPairToScreen in two steps: the scaling (any thread; false when memory
// runs out), and the floating-window placement with the comment band.
bool ScalePairForScreen(const FitSettings& settings, bool hasComment,
                        Picture& leftSlot, Picture& rightSlot);
// The size ScalePairForScreen scales views of at most `width` x `height`
// to, or with `sideBySide` the size ScaleSideBySideForScreen scales a whole
// side-by-side picture of that size to.
ScreenSize FittedSize(const FitSettings& settings, bool hasComment, int width,
                      int height, bool sideBySide);
int PlaceScaledPair(Picture& leftSlot, Picture& rightSlot);

// One view of a side-by-side picture (side 0 its left half, 1 its right
// half), and one whole picture as a view (OffsetPicture), placed for the
// floating window: with `offset` in percent of the view width v, the view
// is drawn d = |offset x v / 100| columns in when it is the left view and
// the offset is 0 or more, or the right view and the offset is negative,
// else at column 0; the output is v + d wide, the strip beside the view
// black.  When the comment band is on (CommentOn and a comment) the output
// is CommentSize percent higher and the band under the view carries the
// comment.  A new picture, or null; the input is left alone.
Picture CutHalf(const Picture& picture, int side, int offset);
Picture OffsetPicture(const Picture& picture, int side, int offset);

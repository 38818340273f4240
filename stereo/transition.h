// Transition effects: the old still pair leaves the screen in up to 100
// steps and uncovers the new one.  Each step builds one picture per eye by
// the same rule and presents the two as a still pair, so every effect works
// in every stereo format.
//
// The shell starts a transition (ChooseTransitionRandoms, then its timer)
// and calls TransitionStep with the progress; step 100 installs the new
// pair.  Everything a step draws follows from the two pairs, the effect
// setting and the three random numbers in Viewer, so a frame can be pinned.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/picture.h"

// Effect codes of one transition.  The fixed slide directions are reachable
// only through a slideshow list ("StereoEffect" 12..15).
enum TransitionEffect : int {
  EffectSlideRandom = 1,
  EffectPerspective = 2,
  EffectTransparent = 3,
  EffectSpherical = 4,
  EffectRoll = 5,
  EffectSlideRight = 11,
  EffectSlideLeft = 12,
  EffectSlideUp = 13,
  EffectSlideDown = 14,
};

// The code for the effect setting nEFType (0 none, 1 random, 2..6 one
// effect, 12..15 a fixed slide): nEFType - 1, or for random the picked
// variant + 1.  Codes that name no effect draw no intermediate frames.
int EffectCode(int nEFType, int variant);
int CurrentEffectCode();  // from Viewer

// What the effects and the shell need from outside: rand()-like numbers
// (0..32767) and the error box.  Tests replace them.
struct TransitionHooks {
  std::function<int()> random;
  std::function<void(const char* text, const char* caption)> showError;
};
// Installs hooks; an empty member falls back to rand() or standard error.
void SetTransitionHooks(TransitionHooks hooks);

// Picks TransitionVariant (0..4, never the previous transition's) and the
// two random numbers for a transition about to start.
void ChooseTransitionRandoms();

// Slide direction of a code: dx, dy in -1..1, never both 0.
struct SlideDirection {
  int dx = 0;
  int dy = 0;
};
SlideDirection SlideDirectionOf(int code, int randomA, int randomB);

// One frame of the transition from CurrentLeft/CurrentRight to
// LeftPicture/RightPicture, or at step 100 the end: the new pair becomes the
// current pair and is presented, and the working pictures are freed.
// Steps outside 0..100 are clamped.
void TransitionStep(int step);

// Builds StepLeft/StepRight for `step` (0..99) without presenting them;
// false when there is nothing to draw.  TransitionStep's drawing half.
bool BuildTransitionFrame(int step);

// Frees the canvases, balls and step pictures (also done at step 100);
// for a transition that is dropped before its end.
void FreeTransitionPictures();

// A picture's pixels that are not KeyColour, as column runs per stored row;
// made once per old canvas so that the moving effects copy whole runs.
struct OpaqueRuns {
  std::vector<int32_t> rowStart;  // runs of row r: [rowStart[r], rowStart[r + 1])
  std::vector<int32_t> runs;      // pairs: first column, end column
};

// The working pictures of the running transition.  Canvases letterbox the
// old and the new pair to one size per eye on KeyColour; balls exist only
// for the spherical effect.
struct TransitionWork {
  Picture OldLeftCanvas, OldRightCanvas, NewLeftCanvas, NewRightCanvas;
  Picture BallLeft, BallRight;
  Picture StepLeft, StepRight;
  OpaqueRuns OldLeftRuns, OldRightRuns;
  bool failureShown = false;  // the canvas error is shown once per transition
};
extern TransitionWork Transition;

// Exactly KeyColour: see-through when a step is merged over the new pair.
inline bool IsKeyPixel(const uint8_t* bgr) {
  return bgr[0] == kKeyBlue && bgr[1] == kKeyGreen && bgr[2] == kKeyRed;
}

// The building blocks, one eye at a time.  `out`, `oldCanvas` and
// `newCanvas` are 24-bit pictures of one size; `out` is fully overwritten;
// `runs` are FindOpaqueRuns of the old canvas.

// `picture` scaled (nearest pixel, aspect kept) and centred on a width x
// height canvas of KeyColour; null when the canvas cannot be made.
Picture LetterboxOnKey(const uint8_t* picture, int width, int height);
OpaqueRuns FindOpaqueRuns(const uint8_t* picture);

void DrawSlide(uint8_t* out, const uint8_t* oldCanvas, const OpaqueRuns& runs,
               const uint8_t* newCanvas, int step, SlideDirection direction);
void DrawPerspective(uint8_t* out, const uint8_t* oldCanvas,
                     const OpaqueRuns& runs, const uint8_t* newCanvas,
                     int step, int randomA, int randomB);
void DrawCrossFade(uint8_t* out, const uint8_t* oldCanvas,
                   const uint8_t* newCanvas, int step);
// The old canvas mapped onto a ball: a KeyColour square as wide as it.
Picture MakeBall(const uint8_t* oldCanvas);
void DrawSpherical(uint8_t* out, const uint8_t* ball, const uint8_t* newCanvas,
                   int step);
void DrawRoll(uint8_t* out, const uint8_t* oldCanvas, const OpaqueRuns& runs,
              const uint8_t* newCanvas, int step);

// The projection of the perspective effect for one position along its axis
// (a column for variants 0 and 1, a row for 2 and 3): the source position,
// and the first source coordinate and step across the axis, 14 fractional
// bits.  `valid` is false where the turned picture does not reach.
struct PerspectiveLine {
  bool valid = false;
  int source = 0;
  int64_t start = 0;
  int64_t advance = 0;
};
// length: the picture's size along the axis; breadth: across it.
std::vector<PerspectiveLine> PerspectiveLines(int length, int breadth,
                                              double theta);
// The turn of `step` in radians: 0.9 degrees a step, signed by randomA,
// limited to 89.9 degrees.
double PerspectiveAngle(int step, int randomA);

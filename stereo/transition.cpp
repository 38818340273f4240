// The transition driver and the canvases.  The effects that copy the old
// picture in runs (slide, roll) and the cross-fade are in
// transition_runs.cpp; the projecting ones (perspective, spherical) in
// transition_projections.cpp.
#include "stereo/transition.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/viewer_state.h"
#include "stereo/present.h"

TransitionWork Transition;

namespace {

TransitionHooks hooks;

int DrawRandom() { return hooks.random ? hooks.random() : std::rand(); }

void ShowError(const char* text, const char* caption) {
  if (hooks.showError)
    hooks.showError(text, caption);
  else
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

const char kCanvasFailure[] = "ビットマップが作成できません。";
const char kErrorCaption[] = "実行エラー";

void FillKeyRow(uint8_t* row, int width) {
  for (int x = 0; x < width; ++x, row += 3)
    row[0] = kKeyBlue, row[1] = kKeyGreen, row[2] = kKeyRed;
}

// Source index under the centre of destination pixel i of n, for m source
// pixels: what unsmoothed stretching samples.
int NearestIndex(int i, int n, int m) {
  return static_cast<int>((2 * int64_t{i} + 1) * m / (2 * int64_t{n}));
}

bool IsDrawnEffect(int code) {
  return (code >= EffectSlideRandom && code <= EffectRoll) ||
         (code >= EffectSlideRight && code <= EffectSlideDown);
}

bool Is24Bit(const Picture& p) { return p && PictureBits(p) == 24; }

// Both eyes' canvases, made on the first step: each eye's old and new
// picture letterboxed to the larger width and the larger height of the two.
bool MakeEyeCanvases(const Picture& oldPicture, const Picture& newPicture,
                     Picture& oldCanvas, Picture& newCanvas, OpaqueRuns& runs) {
  int width = std::max(PictureWidth(oldPicture), PictureWidth(newPicture));
  int height = std::max(PictureHeight(oldPicture), PictureHeight(newPicture));
  oldCanvas = LetterboxOnKey(oldPicture.get(), width, height);
  newCanvas = LetterboxOnKey(newPicture.get(), width, height);
  if (!oldCanvas || !newCanvas) return false;
  runs = FindOpaqueRuns(oldCanvas.get());
  return true;
}

bool MakeCanvases() {
  TransitionWork& t = Transition;
  if (t.OldLeftCanvas && t.OldRightCanvas && t.NewLeftCanvas && t.NewRightCanvas)
    return true;
  if (MakeEyeCanvases(Viewer.CurrentLeft, Viewer.LeftPicture, t.OldLeftCanvas,
                      t.NewLeftCanvas, t.OldLeftRuns) &&
      MakeEyeCanvases(Viewer.CurrentRight, Viewer.RightPicture,
                      t.OldRightCanvas, t.NewRightCanvas, t.OldRightRuns))
    return true;
  t.OldLeftCanvas.reset(), t.OldRightCanvas.reset();
  t.NewLeftCanvas.reset(), t.NewRightCanvas.reset();
  // A modal box on every 10 ms tick would hold the user for the whole
  // second; once per transition says it.
  if (!t.failureShown) ShowError(kCanvasFailure, kErrorCaption);
  t.failureShown = true;
  return false;
}

// The step picture is kept from step to step while its size holds: the
// steps then cost no allocation.
bool PrepareStepPicture(Picture& step, const Picture& canvas) {
  int width = PictureWidth(canvas), height = PictureHeight(canvas);
  if (!step || PictureWidth(step) != width || PictureHeight(step) != height)
    step = CreatePicture(width, height, 24);
  return static_cast<bool>(step);
}

bool DrawEye(int code, int step, Picture& out, const Picture& oldCanvas,
             const OpaqueRuns& runs, const Picture& newCanvas, Picture& ball) {
  if (!PrepareStepPicture(out, oldCanvas)) return false;
  const ViewerState& v = Viewer;
  switch (code) {
    case EffectPerspective:
      DrawPerspective(out.get(), oldCanvas.get(), runs, newCanvas.get(), step,
                      v.TransitionRandomA, v.TransitionRandomB);
      return true;
    case EffectTransparent:
      DrawCrossFade(out.get(), oldCanvas.get(), newCanvas.get(), step);
      return true;
    case EffectSpherical:
      if (!ball) {
        ball = MakeBall(oldCanvas.get());
        if (!ball) return false;
        // Making the ball takes a while; the animation starts after it.
        Viewer.TransitionStartTick = Host().NowMs();
      }
      DrawSpherical(out.get(), ball.get(), newCanvas.get(), step);
      return true;
    case EffectRoll:
      DrawRoll(out.get(), oldCanvas.get(), runs, newCanvas.get(), step);
      return true;
    default:
      DrawSlide(out.get(), oldCanvas.get(), runs, newCanvas.get(), step,
                SlideDirectionOf(code, v.TransitionRandomA, v.TransitionRandomB));
      return true;
  }
}

// Step 100: the new pair becomes the current pair.  Should the new pair be
// missing (its file could not be read), the old pair stays on screen, as
// it does when no transition runs.
void FinishTransition() {
  if (Viewer.LeftPicture && Viewer.RightPicture) {
    Viewer.CurrentLeft = std::move(Viewer.LeftPicture);
    Viewer.CurrentRight = std::move(Viewer.RightPicture);
  }
  FreeTransitionPictures();
  Viewer.TransitionRunning = false;
  Viewer.BackgroundDirty = true;
  PresentStereoPair(Viewer.CurrentLeft, Viewer.CurrentRight);
}

}  // namespace

int EffectCode(int nEFType, int variant) {
  return nEFType == 1 ? variant + 1 : nEFType - 1;
}

int CurrentEffectCode() {
  return EffectCode(Viewer.nEFType, Viewer.TransitionVariant);
}

void SetTransitionHooks(TransitionHooks newHooks) { hooks = std::move(newHooks); }

void ChooseTransitionRandoms() {
  int previous = Viewer.TransitionVariant;
  int variant = previous;
  // Draws until the effect differs from the last one; a source that keeps
  // repeating itself must not hang the viewer.
  for (int tries = 0; tries < 1000 && variant == previous; ++tries)
    variant = (DrawRandom() % 5 + 5) % 5;
  if (variant == previous) variant = (previous + 1) % 5;
  Viewer.TransitionVariant = variant;
  Viewer.TransitionRandomA = DrawRandom();
  Viewer.TransitionRandomB = DrawRandom();
}

SlideDirection SlideDirectionOf(int code, int randomA, int randomB) {
  switch (code) {
    case EffectSlideRight: return {1, 0};
    case EffectSlideLeft: return {-1, 0};
    case EffectSlideUp: return {0, 1};
    case EffectSlideDown: return {0, -1};
    default: break;
  }
  int d = (randomA % 3 + 3) % 3, e = (randomB % 3 + 3) % 3;
  if (d == 1 && e == 1) d = 2;  // standing still is no slide
  return {d - 1, e - 1};
}

void TransitionStep(int step) {
  step = std::clamp(step, 0, 100);
  Viewer.TransitionRunning = true;
  if (step == 100) {
    FinishTransition();
    return;
  }
  if (BuildTransitionFrame(step))
    PresentStereoPair(Transition.StepLeft, Transition.StepRight);
  Viewer.TransitionRunning = false;
}

bool BuildTransitionFrame(int step) {
  int code = CurrentEffectCode();
  if (!IsDrawnEffect(code)) return false;
  if (!Is24Bit(Viewer.CurrentLeft) || !Is24Bit(Viewer.CurrentRight) ||
      !Is24Bit(Viewer.LeftPicture) || !Is24Bit(Viewer.RightPicture))
    return false;
  if (!MakeCanvases()) return false;
  step = std::clamp(step, 0, 99);
  TransitionWork& t = Transition;
  return DrawEye(code, step, t.StepLeft, t.OldLeftCanvas, t.OldLeftRuns,
                 t.NewLeftCanvas, t.BallLeft) &&
         DrawEye(code, step, t.StepRight, t.OldRightCanvas, t.OldRightRuns,
                 t.NewRightCanvas, t.BallRight);
}

void FreeTransitionPictures() {
  TransitionWork& t = Transition;
  t.OldLeftCanvas.reset(), t.OldRightCanvas.reset();
  t.NewLeftCanvas.reset(), t.NewRightCanvas.reset();
  t.BallLeft.reset(), t.BallRight.reset();
  t.StepLeft.reset(), t.StepRight.reset();
  t.OldLeftRuns = OpaqueRuns(), t.OldRightRuns = OpaqueRuns();
  t.failureShown = false;
}

Picture LetterboxOnKey(const uint8_t* picture, int width, int height) {
  if (!picture || PictureBits(picture) != 24) return nullptr;
  Picture canvas = CreatePicture(width, height, 24);
  if (!canvas) return nullptr;
  int64_t w = PictureWidth(picture), h = PictureHeight(picture);
  // Fit by width when the picture is relatively wider than the canvas.
  int fitWidth = width, fitHeight = height;
  // The test compares truncated thousandths, so a picture within a
  // thousandth of the canvas's aspect can be fitted by height and come out a
  // few pixels wider than the canvas (or the other way round): the fitted
  // size is kept inside the canvas, as the screen fitting keeps it.
  if (h * 1000 / height < w * 1000 / width)
    fitHeight = static_cast<int>(std::clamp<int64_t>(h * width / w, 1, height));
  else
    fitWidth = static_cast<int>(std::clamp<int64_t>(w * height / h, 1, width));
  int left = (width - fitWidth) / 2, top = (height - fitHeight) / 2;
  std::vector<int> columns(fitWidth);
  for (int i = 0; i < fitWidth; ++i) columns[i] = 3 * NearestIndex(i, fitWidth, int(w));
  for (int y = 0; y < height; ++y) {  // y counts from the top
    uint8_t* row = PictureRow(canvas.get(), height - 1 - y);
    int j = y - top;
    if (j < 0 || j >= fitHeight) {
      FillKeyRow(row, width);
      continue;
    }
    FillKeyRow(row, left);
    FillKeyRow(row + 3 * (left + fitWidth), width - left - fitWidth);
    int sourceTop = NearestIndex(j, fitHeight, int(h));
    const uint8_t* source = PictureRow(picture, int(h) - 1 - sourceTop);
    uint8_t* out = row + 3 * left;
    if (fitWidth == w) {
      std::memcpy(out, source, 3 * size_t(w));
      continue;
    }
    for (int i = 0; i < fitWidth; ++i, out += 3)
      std::memcpy(out, source + columns[i], 3);
  }
  return canvas;
}

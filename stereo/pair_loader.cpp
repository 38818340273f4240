#include "stereo/pair_loader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "image/comment.h"
#include "image/file_data.h"
#include "image/still_reader.h"
#include "core/viewer_state.h"
#include "image/two_threads.h"
#include "stereo/scale.h"
#include "stereo/text_overlay.h"

namespace {

struct Target {
  int width = 0;
  int height = 0;
};

bool HasCommentBand() { return Viewer.CommentOn && !CurrentCommentEmpty(); }

// Panorama pictures are shown at full screen height and scrolled, so their
// zoom is pinned to 100 percent.
void PinActualSize() {
  Viewer.ZoomPercent = 100;
  Viewer.FitToWindow = false;
}

// The box a w x h picture is scaled to inside W x H, aspect kept; panorama
// mode always takes the full height.  Sides are at least 1: a zero would
// make the scaler keep the picture's own size.
Target FitTarget(int64_t w, int64_t h, int64_t W, int64_t H, bool panorama) {
  Target t;
  if (!panorama && h * 1000 / H < w * 1000 / W) {
    t.width = static_cast<int>(W);
    t.height = static_cast<int>(std::max<int64_t>(1, h * W / w));
  } else {
    t.width = static_cast<int>(std::max<int64_t>(1, H * w / h));
    t.height = static_cast<int>(H);
  }
  return t;
}

// Replaces the picture by its scaling onto a target-sized canvas; false,
// with the picture kept, when memory runs out.  A picture that already has
// the target size is kept as it is (the scaler would only copy it).
bool ScaleInPlace(Picture& picture, const Target& t) {
  if (PictureWidth(picture) == t.width && PictureHeight(picture) == t.height)
    return true;
  Picture scaled = ScaleToFit(picture, t.width, t.height);
  if (!scaled) return false;
  picture = std::move(scaled);
  return true;
}

// Columns [first, first + v) of a 24-bit picture as one view, placed for
// the floating window with the comment band under it.
Picture PlaceView(const Picture& picture, int first, int v, int side,
                  int offset) {
  if (!picture || PictureBits(picture) != 24 || v < 1) return nullptr;
  int h = PictureHeight(picture);
  int d = static_cast<int>(std::llabs(int64_t{offset} * v / 100));
  int column = (side == 0) == (offset >= 0) ? d : 0;
  int band = HasCommentBand() ? std::max(h * Viewer.CommentSize / 100, 0) : 0;
  if (int64_t{v} + d > kMaxPictureSide) return nullptr;
  Picture out = CreatePicture(v + d, h + band, 24);
  if (!out) return nullptr;
  // Stored rows run bottom-up: the band takes the lowest rows.
  for (int y = 0; y < h; ++y)
    std::memcpy(PictureRow(out.get(), band + y) + 3 * size_t(column),
                PictureRow(picture.get(), y) + 3 * size_t(first),
                3 * size_t(v));
  if (band > 0) DrawCommentText(out, {column, h, v, band});
  return out;
}

// The screen height left for the picture when its comment band must fit
// below it too, at least 1.
int PictureAreaHeight(int screenHeight, bool band, int commentSize) {
  screenHeight = std::max(screenHeight, 1);
  if (!band) return screenHeight;
  return std::max(1, screenHeight - screenHeight * commentSize /
                                        (commentSize + 100));
}

bool BandFor(const FitSettings& settings, bool hasComment) {
  return settings.commentOn && hasComment;
}


}  // namespace

Picture ReadStillPicture(const std::string& path, std::string* unreadable) {
  if (unreadable) unreadable->clear();
  if (path.empty()) return CreatePicture(kUnreadableSide, kUnreadableSide, 24);
  StillDecode decoded = DecodeStill(path);
  // A JPS that declares its layout is brought to the side-by-side frame
  // the views are cut from; one the memory cannot be found for is refused.
  if (decoded.picture)
    decoded.picture = LeftFirstSideBySide(std::move(decoded.picture),
                                          decoded.stereoLayout);
  if (decoded.picture) return std::move(decoded.picture);
  if (decoded.failure.empty()) decoded.failure = "out of memory";
  // A picture that could not be brought to 24 bits is refused here too:
  // everything after this point works on 24-bit pictures only.
  NoteLoadFailure(decoded.failure);
  if (unreadable)
    *unreadable = decoded.failure.empty() ? "refused" : decoded.failure;
  return CreatePicture(kUnreadableSide, kUnreadableSide, 24);
}

FitSettings CurrentFitSettings(const ScreenSize& screen) {
  return {screen, Viewer.ActualSizeToggle > 0, Viewer.CommentOn,
          Viewer.CommentSize, Viewer.AutoAlign != 0,
          Viewer.AutoConverge != 0};
}

ScreenSize FittedSize(const FitSettings& settings, bool hasComment, int width,
                      int height, bool sideBySide) {
  if (width < 1 || height < 1) return {};
  int64_t W = int64_t{std::max(settings.screen.width, 1)} * (sideBySide ? 2 : 1);
  int64_t H = PictureAreaHeight(settings.screen.height,
                                BandFor(settings, hasComment),
                                settings.commentSize);
  Target target = FitTarget(width, height, W, H, settings.panorama);
  return {target.width, target.height};
}

Picture LoadPicture(const std::string& path, std::string* unreadable) {
  if (!path.empty()) ParallaxShiftX = ParallaxShiftY = 0;
  return ReadStillPicture(path, unreadable);
}

bool ReadPictureFiles(const std::string& leftPath,
                      const std::string& rightPath, Picture& left,
                      Picture& right, PairFailures* unreadable) {
  // The right file is read beside the left one with a comment of its own,
  // begun empty; read after the left one it would have found the left's.
  // That only matters when the readers asked before writing and the left
  // file left a comment: then the right file is read again, here.
  Picture rightRead;
  bool dependsOnStart = false, written = false;
  std::string rightComment, rightFailure;
  PairFailures failures;
  RunSideBySide(
      [&] {
        CommentCapture capture;
        rightRead = ReadStillPicture(rightPath, &failures.right);
        dependsOnStart = capture.DependsOnStart();
        written = capture.Written();
        rightComment = capture.Text();
      },
      [&] { left = ReadStillPicture(leftPath, &failures.left); },
      rightFailure);
  if (!rightFailure.empty()) NoteLoadFailure(rightFailure);
  if (dependsOnStart && !CurrentCommentEmpty()) {
    rightRead.reset();
    rightRead = ReadStillPicture(rightPath, &failures.right);
  } else if (written) {
    StoreCurrentComment(rightComment);
  }
  right = std::move(rightRead);
  if (unreadable) *unreadable = failures;
  if (!left || !right) {
    left.reset();
    right.reset();
    return false;
  }
  return true;
}

int LoadPicturePair(const std::string& leftPath, const std::string& rightPath,
                    Picture& leftSlot, Picture& rightSlot,
                    PairFailures* unreadable) {
  if (!leftPath.empty() || !rightPath.empty())
    ParallaxShiftX = ParallaxShiftY = 0;
  if (!ReadPictureFiles(leftPath, rightPath, leftSlot, rightSlot, unreadable))
    return 0;
  Viewer.ShownKind = 2;
  Viewer.ShownLeftPath = leftPath;
  Viewer.ShownRightPath = rightPath;
  return 1;
}

void ScaleSideBySideForScreen(const FitSettings& settings, bool hasComment,
                              Picture& picture) {
  ScreenSize fitted = FittedSize(settings, hasComment, PictureWidth(picture),
                                 PictureHeight(picture), true);
  // When the scaler cannot have its memory the file is cut as it was read.
  ScaleInPlace(picture, {fitted.width, fitted.height});
}

int LoadSideBySideFile(const std::string& path, const ScreenSize& screen,
                       std::string* unreadable) {
  Picture picture = LoadPicture(path, unreadable);
  if (!picture) return 0;
  ScaleSideBySideForScreen(CurrentFitSettings(screen), !CurrentCommentEmpty(),
                           picture);
  return ShowScaledSideBySide(path, std::move(picture));
}

int ShowScaledSideBySide(const std::string& path, Picture picture) {
  Viewer.ShownKind = 2;
  Viewer.ShownLeftPath = path;
  Viewer.ShownRightPath.clear();
  if (Viewer.ActualSizeToggle > 0) PinActualSize();
  Picture left = CutHalf(picture, 0, Viewer.FloatOffset);
  Picture right = CutHalf(picture, 1, Viewer.FloatOffset);
  // One view without the other must never reach the display.
  if (!left || !right) {
    Viewer.LeftPicture.reset();
    Viewer.RightPicture.reset();
    return 0;
  }
  Viewer.LeftPicture = std::move(left);
  Viewer.RightPicture = std::move(right);
  return 1;
}

bool ScalePairForScreen(const FitSettings& settings, bool hasComment,
                        Picture& leftSlot, Picture& rightSlot) {
  if (!leftSlot || !rightSlot) return false;
  int mw = std::max(PictureWidth(leftSlot), PictureWidth(rightSlot));
  int mh = std::max(PictureHeight(leftSlot), PictureHeight(rightSlot));
  ScreenSize fitted = FittedSize(settings, hasComment, mw, mh, false);
  Target target{fitted.width, fitted.height};
  // The two views scale independently: one each on two threads.
  bool leftDone = false, rightDone = false;
  std::string unused;
  RunSideBySide([&] { rightDone = ScaleInPlace(rightSlot, target); },
                [&] { leftDone = ScaleInPlace(leftSlot, target); }, unused);
  return leftDone && rightDone;
}

int PlaceScaledPair(Picture& leftSlot, Picture& rightSlot) {
  if (!leftSlot || !rightSlot) return 0;
  if (Viewer.ActualSizeToggle > 0) PinActualSize();
  Picture* slots[2] = {&leftSlot, &rightSlot};
  for (int side = 0; side < 2; ++side) {
    Picture placed = OffsetPicture(*slots[side], side, Viewer.FloatOffset);
    if (!placed) return 0;
    *slots[side] = std::move(placed);
  }
  return 1;
}

int FitPairToScreen(const ScreenSize& screen, Picture& leftSlot,
                    Picture& rightSlot) {
  if (!leftSlot || !rightSlot) return 0;
  if (!ScalePairForScreen(CurrentFitSettings(screen), !CurrentCommentEmpty(),
                          leftSlot, rightSlot))
    return 0;
  return PlaceScaledPair(leftSlot, rightSlot);
}

Picture CutHalf(const Picture& picture, int side, int offset) {
  if (!picture) return nullptr;
  int v = PictureWidth(picture) / 2;
  return PlaceView(picture, side == 0 ? 0 : v, v, side, offset);
}

Picture OffsetPicture(const Picture& picture, int side, int offset) {
  if (!picture) return nullptr;
  return PlaceView(picture, 0, PictureWidth(picture), side, offset);
}

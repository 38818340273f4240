#include "stereo/present.h"

#include <algorithm>
#include <chrono>

#include "core/viewer_state.h"
#include "stereo/movie_frame.h"
#include "stereo/iz3d.h"
#include "stereo/text_overlay.h"
#include "stereo/vision3d_surface.h"

PresentationState Presentation;

namespace {

PresentationHost defaultHost;

Renderer RendererOf(RendererFamily family) {
  switch (family) {
    case RendererFamily::SideBySide: return RenderSideBySide;
    case RendererFamily::OverUnder: return RenderOverUnder;
    case RendererFamily::Anaglyph: return RenderAnaglyph;
    case RendererFamily::RowInterlace: return RenderRowInterlace;
    case RendererFamily::ColumnInterlace: return RenderColumnInterlace;
    case RendererFamily::Sharp3dLcd: return RenderSharp3dLcd;
    case RendererFamily::DlpCheckerboard: return RenderDlpCheckerboard;
    // Without its own window open, 3D Vision shows one side.
    case RendererFamily::NvidiaStereo: return RenderOneSide;
    case RendererFamily::Iz3d: return RenderIz3d;
    case RendererFamily::OneSide: return RenderOneSide;
    case RendererFamily::Source: return RenderSource;
  }
  return RenderSideBySide;
}

// Runs the renderer of the current format: the common frame of every format.
void Render(const RenderInput& in) {
  const StereoFormatEntry* format = FindStereoFormat(Viewer.StereoType);
  if (!format) {
    Viewer.StereoType = SideBySide;  // unknown codes are corrected in the state
    format = FindStereoFormat(SideBySide);
  }
  // The shutter-glasses window draws into its own stereo surface and leaves
  // the main window's picture as it is.
  if (format->family == RendererFamily::NvidiaStereo &&
      Vision3d.StereoWindowActive.load()) {
    PresentStereoFrame(in);
    return;
  }
  bool halftone = Viewer.SmoothingOn &&
                  !(Viewer.TransitionRunning && !Viewer.MovieOpen);
  Framebuffer& fb = Presentation.frame;
  if (fb.width != Presentation.client.width ||
      fb.height != Presentation.client.height)
    fb.Resize(Presentation.client.width, Presentation.client.height);
  RenderContext ctx{fb, Presentation.client,
                    halftone ? StretchMode::Halftone : StretchMode::Nearest,
                    format->code};
  RendererOf(format->family)(ctx, in);
  if (!in.movie) DrawItemMessage(fb);
  DrawCanvasNote(fb);
  DrawHelpOverlay(fb);
  Host().Flush(fb);
}

// Holds the lock and marks a presentation under way; `busy` when one
// already was (on this thread: another thread's has ended once the lock is
// held).  Clears the mark however the presentation ends.
class Presenting {
 public:
  Presenting()
      : lock_(Presentation.lock),
        busy_(Presentation.PresentBusy.test_and_set(std::memory_order_acquire)) {}
  ~Presenting() {
    if (!busy_) Presentation.PresentBusy.clear(std::memory_order_release);
  }
  bool busy() const { return busy_; }

 private:
  PresentationLock lock_;
  bool busy_;
};

}  // namespace

uint32_t PresentationHost::NowMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int ClientWidth() {
  PresentationLock lock(Presentation.lock);
  return Presentation.client.width;
}

int ClientHeight() {
  PresentationLock lock(Presentation.lock);
  return Presentation.client.height;
}

void SetClientSize(int width, int height) {
  PresentationLock lock(Presentation.lock);
  Presentation.client.width = width < 10 ? 100 : width;
  Presentation.client.height = height < 10 ? 100 : height;
  Presentation.frame.Resize(Presentation.client.width, Presentation.client.height);
  Viewer.BackgroundDirty = true;
}

void MarkBackgroundDirty() {
  PresentationLock lock(Presentation.lock);
  Viewer.BackgroundDirty = true;
}

void BlackOutFramebuffer(PresentationHost& host) {
  PresentationLock lock(Presentation.lock);
  std::fill(Presentation.frame.pixels.begin(), Presentation.frame.pixels.end(),
            kBlack);
  Viewer.BackgroundDirty = true;
  host.Flush(Presentation.frame);
}

PresentationHost& Host() {
  return Presentation.host ? *Presentation.host : defaultHost;
}

void SetPresentationHost(PresentationHost* host) { Presentation.host = host; }

ViewSize ViewSizeOf(const RenderInput& in) {
  ViewSize size;
  size.a = in.left.width;
  size.b = in.left.height;
  size.movie = in.movie;
  if (in.movie) {
    size.frameWidth = in.frame.width;
    size.fitWidth = MovieFitWidth(in.frame.width);
  }
  return size;
}

void PaintMargins(RenderContext& ctx, const Rect& shown) {
  if (!Viewer.BackgroundDirty) return;
  int right = shown.x + shown.width, bottom = shown.y + shown.height;
  FillRect(ctx.fb, 0, 0, ctx.client.width, shown.y + 1, kBlack);
  FillRect(ctx.fb, 0, bottom - 1, ctx.client.width, ctx.client.height, kBlack);
  FillRect(ctx.fb, 0, 0, shown.x + 1, ctx.client.height, kBlack);
  FillRect(ctx.fb, right - 1, 0, ctx.client.width, ctx.client.height, kBlack);
  Viewer.BackgroundDirty = false;
}

uint8_t* PrepareComposition(const RenderInput& in, int width, int height) {
  Picture& picture = Presentation.CompositionPicture;
  bool keep = in.movie && picture &&
              Presentation.CompositionWidthMode == Viewer.WidthMode &&
              !Viewer.BackgroundDirty && PictureWidth(picture) == width &&
              PictureHeight(picture) == height;
  if (!keep) {
    picture = CreatePicture(width, height, 24);
    Presentation.CompositionWidthMode = Viewer.WidthMode;
  }
  return picture ? picture.get() : nullptr;
}

void ReleaseComposition(const RenderInput& in) {
  if (!in.movie) Presentation.CompositionPicture.reset();
}

int PresentStereoPair(const Picture& left, const Picture& right) {
  if (!left || !right) return 1;
  Presenting presenting;
  if (presenting.busy()) return 1;
  Host().NotifyStillShown();
  RenderInput in;
  in.left = ViewOf(left);
  in.right = ViewOf(right);
  // A still pair shares one geometry (the loader letterboxes both to one
  // size); should they differ, only the common part is read from each.
  int width = std::min(in.left.width, in.right.width);
  int height = std::min(in.left.height, in.right.height);
  in.left.width = in.right.width = width;
  in.left.height = in.right.height = height;
  if (!in.left || !in.right) return 0;
  Render(in);
  return 0;
}

namespace {

RenderInput MovieInput() {
  RenderInput in;
  in.movie = true;
  in.frame = ViewOf(FramePicture());
  int half = in.frame.width / 2;
  in.left = ColumnsOf(in.frame, 0, half);
  in.right = ColumnsOf(in.frame, half, half);
  return in;
}

// Presents the grabbed frame; the caller holds the lock.
int PresentMovieFrameLocked() {
  // Anaglyphs convert the frame strip by strip as they mix it.
  const StereoFormatEntry* format = FindStereoFormat(Viewer.StereoType);
  bool strips = format && format->family == RendererFamily::Anaglyph;
  if (!BuildFramePicture(strips)) return 0;
  RenderInput in = MovieInput();
  if (strips) {
    in.fillRows = FillFrameRows;
    in.yuv = FrameYuvRows();
  }
  if (in.frame.width >= 2) Render(in);
  return 0;
}

}  // namespace

int PresentMovieFrame() {
  Presenting presenting;
  if (presenting.busy()) return 1;
  return PresentMovieFrameLocked();
}

int PresentGrabbedFrame(const GrabbedFrame& frame) {
  Presenting presenting;
  if (presenting.busy()) return 1;
  SetGrabbedFrame(frame);
  return PresentMovieFrameLocked();
}

Picture CopyMovieDisplayFrame() {
  Presenting presenting;
  if (presenting.busy()) return nullptr;
  if (!BuildFramePicture()) return nullptr;
  const Picture& frame = FramePicture();
  return CropPicture(frame, 0, 0);
}

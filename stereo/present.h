// The two presentation entry points and what the renderers share.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/picture.h"
#include "stereo/framebuffer.h"
#include "stereo/geometry.h"
#include "stereo/movie_frame.h"
#include "stereo/stereo_format.h"

// What presentation needs from the window system, filled in by the shell.
// The default host draws nowhere but the framebuffer and has a real clock.
class PresentationHost {
 public:
  virtual ~PresentationHost() = default;
  // Command 4010 to the control panel: "a still picture is shown".
  virtual void NotifyStillShown() {}
  // The framebuffer holds a new picture: repaint the window from it.
  virtual void Flush(const Framebuffer&) {}
  // Milliseconds of a steady clock.
  virtual uint32_t NowMs();
  // Whether a key-down is waiting, without taking it; and dropping waiting
  // key-downs.  Panorama scrolling stops at a key press.
  virtual bool KeyWaiting() { return false; }
  virtual void DiscardKeyDowns() {}
};

// Presentation runs on the window's thread and, while a movie plays, on the
// pipeline's streaming thread; the window resizes and paints on its own.
// One lock owns the client size, the framebuffer, the margins flag
// (Viewer.BackgroundDirty) and the movie frame (the grabbed frame, the
// display frame built from it and the composition kept between frames):
// every reader and every writer holds `lock`, on whatever thread.  The
// functions below that present, copy or resize take it themselves.  The
// lock is recursive: what a presentation calls (the host's flush, a size
// query) may take it again on the same thread, where PresentBusy then
// turns a nested presentation away instead of the thread waiting on itself.
struct PresentationState {
  std::recursive_mutex lock;
  ClientSize client;           // ClientWidth, ClientHeight
  Framebuffer frame;           // the client area in device pixels
  // Set while a presentation is under way, under the lock: a presentation
  // that would start inside another one on the same thread draws nothing.
  std::atomic_flag PresentBusy;
  Picture CompositionPicture;  // per-pixel mixes compose into it
  int CompositionWidthMode = -1;
  Picture MarkerStrip;         // exists while a movie is open
  PresentationHost* host = nullptr;
};

extern PresentationState Presentation;

// Holds the presentation's lock for a scope.
using PresentationLock = std::lock_guard<std::recursive_mutex>;

int ClientWidth();
int ClientHeight();
// Called on every size change; values below 10 become 100.  Resizes the
// framebuffer and asks for black margins at the next drawing.
void SetClientSize(int width, int height);
// Asks for black margins at the next drawing, from any thread.
void MarkBackgroundDirty();
// Paints the whole framebuffer black and has `host` show it: what a closed
// movie or an item shown elsewhere leaves behind.
void BlackOutFramebuffer(PresentationHost& host);
PresentationHost& Host();
void SetPresentationHost(PresentationHost* host);

// Returns 1 and draws nothing when a picture is missing or a presentation is
// under way; otherwise draws the pair in the current format and returns 0.
// A presentation on another thread is waited for.
int PresentStereoPair(const Picture& left, const Picture& right);
// Presents the last grabbed movie frame; 1 when a presentation is under way.
int PresentMovieFrame();
// The frame grabber's hand-over: makes `frame` the grabbed frame and
// presents it, in one hold of the lock, so that no resize or paint comes
// between.  `frame`'s pixels must stay valid until the next hand-over or
// until SetGrabbedFrame clears it under the lock.
int PresentGrabbedFrame(const GrabbedFrame& frame);
// A copy of the movie display frame; null when there is no frame or a
// presentation is under way.
Picture CopyMovieDisplayFrame();

// The renderers' inputs: both views, and for a movie frame the whole display
// frame whose halves they are.
struct RenderInput {
  PictureView left;
  PictureView right;
  PictureView frame;  // movie frames only
  bool movie = false;
  // Set when the movie frame's rows are still to be converted: a renderer
  // calls it for the stored rows [first, end) before it reads them.
  void (*fillRows)(int first, int end) = nullptr;
  // Set when those rows are YUV that make the frame unchanged: a renderer
  // that mixes them directly needs no fillRows.
  YuvRows yuv;
};

struct RenderContext {
  Framebuffer& fb;
  ClientSize client;
  StretchMode mode;  // smooth only when smoothing is on and no still transition runs
  int format;
};

using Renderer = void (*)(RenderContext&, const RenderInput&);

// The view shown first (left unless swapped) and second.
inline const PictureView& FirstView(const RenderInput& in, bool swap) {
  return swap ? in.right : in.left;
}
inline const PictureView& SecondView(const RenderInput& in, bool swap) {
  return swap ? in.left : in.right;
}

// The size a renderer lays out for this input.
ViewSize ViewSizeOf(const RenderInput& in);

// With BackgroundDirty set: blacks out the client outside `shown` (each
// margin overlapping the picture edge by one pixel) and clears the flag.
void PaintMargins(RenderContext& ctx, const Rect& shown);

// (Re)makes the composition picture; movie paths keep it between frames
// while the width mode and the layout stay.
uint8_t* PrepareComposition(const RenderInput& in, int width, int height);
void ReleaseComposition(const RenderInput& in);

// The 1600 x 10 strip that the Sharp 3D LCD format shows at the client's
// bottom-left while a movie is open: made when a movie opens, freed when it
// closes.
void CreateMarkerStrip();
void FreeMarkerStrip();

// The families.
void RenderSideBySide(RenderContext&, const RenderInput&);
void RenderOverUnder(RenderContext&, const RenderInput&);
void RenderOneSide(RenderContext&, const RenderInput&);
void RenderSource(RenderContext&, const RenderInput&);
void RenderAnaglyph(RenderContext&, const RenderInput&);
void RenderRowInterlace(RenderContext&, const RenderInput&);
void RenderColumnInterlace(RenderContext&, const RenderInput&);
void RenderSharp3dLcd(RenderContext&, const RenderInput&);
void RenderDlpCheckerboard(RenderContext&, const RenderInput&);

// Fit, zoom and display size of each renderer family.  Every division is an
// integer division: the sizes users see (where margins fall, how much of the
// window a format fills) depend on it.
#pragma once

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The view sizes a renderer lays out.  For a still pair a, b are the
// picture's size; for a movie frame a is the copied view width (w/2), b the
// frame height and fitWidth the width used for fitting (w/2, w or w/4 by
// width mode).
struct ViewSize {
  int a = 0;
  int b = 0;
  bool movie = false;
  int fitWidth = 0;
  int frameWidth = 0;  // movie frames: the whole frame width w
};

struct ClientSize {
  int width = 100;
  int height = 100;
};

// min(client width x 100 / x, client height x 100 / y).
int FitZoom(const ClientSize& client, int x, int y);

// The zoom a renderer uses: the fit value when FitToWindow is set (which is
// then stored in ZoomPercent), ZoomPercent otherwise.
int ChooseZoom(int fit);

// The width fitting uses for a movie frame w wide in the current width mode.
int MovieFitWidth(int frameWidth);

// One view centred in the client: one side, anaglyphs.
Rect LayoutSingle(const ClientSize& client, const ViewSize& view);
// Row and column interlace, 3D DLP and Sharp 3D LCD: W a multiple of 4
// (before the width mode), H even (Sharp 3D LCD: any).
Rect LayoutInterlaced(const ClientSize& client, const ViewSize& view,
                      bool sharpLcd);
// Side by side: the view's rectangle inside the left half; the right half
// uses the same rectangle shifted by half the client width.
Rect LayoutSideBySide(const ClientSize& client, const ViewSize& view);
// Over/under: the view's rectangle inside the top half; the bottom half uses
// it shifted down by half the client height.
Rect LayoutOverUnder(const ClientSize& client, const ViewSize& view);
// Source: a still pair's first picture, centred in the left half (the second
// takes the same place in the right half); a movie frame whole, centred.
Rect LayoutSource(const ClientSize& client, const ViewSize& view);

// Zoom commands.  Stepping in never goes beyond kMaxZoomInPercent (each
// picture pixel 50 screen pixels wide).
constexpr int kMaxZoomInPercent = 5000;
// They take the presentation's lock: a movie's frames read the zoom on the
// streaming thread.
void ZoomIn();
void ZoomOut();
void ZoomActualSize();
void ZoomToWindow();

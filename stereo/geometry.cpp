#include "stereo/geometry.h"

#include <algorithm>
#include <cstdlib>

#include "core/viewer_state.h"
#include "stereo/present.h"

namespace {

// Width mode applied to a still width computed at zoom z: a z / 100 doubled
// for double width, a z / 200 for half width.
int StillWidth(int a, int z) {
  switch (Viewer.WidthMode) {
    case 5: return 2 * (a * z / 100);
    case 6: return a * z / 200;
    default: return a * z / 100;
  }
}

Rect Centred(const ClientSize& client, int width, int height) {
  return {(client.width - width) / 2, (client.height - height) / 2, width,
          height};
}

}  // namespace

int FitZoom(const ClientSize& client, int x, int y) {
  if (x <= 0 || y <= 0) return 100;
  return std::min(client.width * 100 / x, client.height * 100 / y);
}

int ChooseZoom(int fit) {
  if (Viewer.FitToWindow) {
    Viewer.ZoomPercent = fit;
    return fit;
  }
  return Viewer.ZoomPercent;
}

int MovieFitWidth(int frameWidth) {
  switch (Viewer.WidthMode) {
    case 5: return frameWidth;
    case 6: return frameWidth / 4;
    default: return frameWidth / 2;
  }
}

Rect LayoutSingle(const ClientSize& client, const ViewSize& view) {
  if (view.movie) {
    int z = ChooseZoom(FitZoom(client, view.fitWidth, view.b));
    return Centred(client, view.fitWidth * z / 100, view.b * z / 100);
  }
  int z = ChooseZoom(FitZoom(client, view.a, view.b));
  return Centred(client, StillWidth(view.a, z), view.b * z / 100);
}

Rect LayoutInterlaced(const ClientSize& client, const ViewSize& view,
                      bool sharpLcd) {
  int a = view.movie ? view.fitWidth : view.a;
  int z = ChooseZoom(FitZoom(client, a, view.b));
  int quads = a * z / 400;
  int width = 4 * quads;
  if (!view.movie) {
    if (Viewer.WidthMode == 5) width = 8 * quads;
    if (Viewer.WidthMode == 6) width = 2 * quads;
  }
  int height = sharpLcd ? view.b * z / 100 : 2 * (view.b * z / 200);
  return Centred(client, width, height);
}

Rect LayoutSideBySide(const ClientSize& client, const ViewSize& view) {
  int half = client.width / 2;
  int k2 = Viewer.WidthMode == 5 ? 4 : Viewer.WidthMode == 6 ? 1 : 2;  // 2k
  int A = view.movie ? view.fitWidth : view.a * k2 / 2;
  int b = std::max(view.b, 1);
  int fitted = half * 100 / client.height < A * 100 / b ? half
                                                        : A * client.height / b;
  if (!view.movie) {
    // Undo the width factor on both before taking the ratio.
    if (Viewer.WidthMode == 5) fitted /= 2, A /= 2;
    if (Viewer.WidthMode == 6) fitted *= 2, A *= 2;
  }
  int fit = A > 0 ? fitted * 100 / A : 100;
  int z = (Viewer.FitToWindow || fit < Viewer.ZoomPercent) ? fit
                                                          : Viewer.ZoomPercent;
  Viewer.ZoomPercent = z;
  int width = view.movie ? A * z / 100 : StillWidth(view.a, z);
  int height = view.b * z / 100;
  return {(half - width) / 2, (client.height - height) / 2, width, height};
}

Rect LayoutOverUnder(const ClientSize& client, const ViewSize& view) {
  int halfH = client.height / 2;
  if (view.movie) {
    int a = std::max(view.fitWidth, 1), h = std::max(view.b, 1);
    int fitted = halfH > 0 && client.width * 100 / halfH < a * 100 / h
                     ? client.width
                     : halfH * a / h;
    int fit = fitted * 100 / a;
    int z = (Viewer.FitToWindow || fit < Viewer.ZoomPercent) ? fit
                                                            : Viewer.ZoomPercent;
    Viewer.ZoomPercent = z;
    int width = a * z / 100, height = h * z / 100;
    return {(client.width - width) / 2, (halfH - height) / 2, width, height};
  }
  // Still pairs are fitted in hundredths of a percent.
  int a = std::max(view.a, 1), b = std::max(view.b, 1);
  long long V = client.width;
  if (halfH > 0 && client.width * 10000LL / halfH >= a * 10000LL / b)
    V = static_cast<long long>(halfH) * a / b;
  // The fit is exact to a hundredth of a percent, while ZoomPercent stays in
  // whole percent like every other format, so actual size means 100 here too.
  int fit = static_cast<int>(V * 10000 / a);
  int wanted = Viewer.ZoomPercent * 100;
  int z = (Viewer.FitToWindow || fit < wanted) ? fit : wanted;
  Viewer.ZoomPercent = z / 100;
  long long width = static_cast<long long>(a) * z / 10000;
  if (Viewer.WidthMode == 5) width *= 2;
  if (Viewer.WidthMode == 6) width = static_cast<long long>(a) * z / 20000;
  int height = static_cast<int>(static_cast<long long>(b) * z / 10000);
  if (std::abs(height - halfH) < 5) height = halfH;
  return {static_cast<int>((client.width - width) / 2), (halfH - height) / 2,
          static_cast<int>(width), height};
}

Rect LayoutSource(const ClientSize& client, const ViewSize& view) {
  if (view.movie) {
    int w = view.frameWidth;
    int wk = Viewer.WidthMode == 5 ? 2 * w : Viewer.WidthMode == 6 ? w / 2 : w;
    int z = ChooseZoom(FitZoom(client, wk, view.b));
    return Centred(client, wk * z / 100, view.b * z / 100);
  }
  int ak2 = Viewer.WidthMode == 5 ? 4 * view.a
            : Viewer.WidthMode == 6 ? view.a : 2 * view.a;  // 2 a k
  ak2 = std::max(ak2, 1);
  int b = std::max(view.b, 1);
  int z = ChooseZoom(FitZoom(client, ak2, b));
  int width = ak2 * z / 200;
  if (width > client.width / 2) {
    z = client.width * 100 / ak2;
    width = ak2 * z / 200;
  }
  int height = b * z / 100;
  if (height > client.height) {
    z = client.height * 100 / b;
    width = ak2 * z / 200;
    height = b * z / 100;
  }
  int half = client.width / 2;
  return {(half - width) / 2, (client.height - height) / 2, width, height};
}

void ZoomIn() {
  PresentationLock hold(Presentation.lock);
  // Growth stops at kMaxZoomInPercent: the layouts multiply widths of up to
  // 65535 pixels (four of them in the source view) by the zoom in int.  A
  // larger zoom that fitting has set stays as it is rather than shrink.
  int z = Viewer.ZoomPercent;
  if (z < kMaxZoomInPercent) {
    z = z * 110 / 100;
    if (z < 10) z += 1;
    Viewer.ZoomPercent = std::min(z, kMaxZoomInPercent);
  }
  Viewer.FitToWindow = false;
  Viewer.BackgroundDirty = true;
}

void ZoomOut() {
  PresentationLock hold(Presentation.lock);
  Viewer.ZoomPercent = std::max(Viewer.ZoomPercent * 100 / 110, 10);
  Viewer.FitToWindow = false;
  Viewer.BackgroundDirty = true;
}

void ZoomActualSize() {
  PresentationLock hold(Presentation.lock);
  Viewer.ZoomPercent = 100;
  Viewer.FitToWindow = false;
  Viewer.BackgroundDirty = true;
}

void ZoomToWindow() {
  PresentationLock hold(Presentation.lock);
  Viewer.ZoomPercent = 0;
  Viewer.FitToWindow = true;
  Viewer.BackgroundDirty = true;
}

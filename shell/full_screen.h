// Full screen over the window system's monitors: enumeration, the window's
// own monitor, and keeping the window on its full-screen rectangle.
#pragma once

#include <QRect>

#include "core/desktop_rect.h"

class QWidget;
class MainWindow;

// Qt's rectangles (width and height) and ours (one past the last pixel).
DesktopRect FromQRect(const QRect& rect);
QRect ToQRect(const DesktopRect& rect);

// Viewer.MonitorTable from the window system's screens (virtual-desktop
// coordinates, the first nine in the platform's order).
void EnumerateMonitors();

// The monitor holding most of `window`, or the primary one when it is on
// none.
DesktopRect MonitorRectOf(const QWidget& window);

// Asks for the margins to be blacked out; in full screen also puts the
// window back on Viewer.FullScreenRect.  Every command that changes what is
// shown calls it.
void FitWindowToFullScreen(MainWindow& window);

// The monitors full screen can cover: the table of known monitors, the
// chosen ones and their union, and the geometry of the monitor dialog's
// picture of the desktop.  Plain code over Viewer; the window system is
// asked in full_screen.cpp.
#pragma once

#include <array>
#include <span>

#include "core/desktop_rect.h"

constexpr int kMaxMonitors = 9;

// Empties Viewer.MonitorTable and fills it with the first nine `monitors`.
void SetMonitorTable(std::span<const DesktopRect> monitors);
// The known part of Viewer.MonitorTable.
std::span<const DesktopRect> KnownMonitors();

// The smallest rectangle holding every selected monitor; empty when none is.
DesktopRect UnionOfSelected(std::span<const DesktopRect> monitors,
                            const std::array<bool, 9>& selected);

// Viewer.FullScreenRect from the chosen monitors.  When no known monitor is
// chosen, the primary one (the monitor at 0,0) is chosen first.
void ComputeFullScreenRect();

// The index of the monitor sharing the most area with `window`; -1 when it
// lies on none.
int MonitorHolding(std::span<const DesktopRect> monitors,
                   const DesktopRect& window);

// Where one full-screen window goes when the window system cannot span
// monitors with one window (Wayland gives programs no positions): the
// chosen monitor that is the whole `fullScreen` rectangle, else the chosen
// one holding the window (`holding`, -1 for none), else the first chosen;
// -1 when none is chosen.
int OutputForFullScreen(std::span<const DesktopRect> monitors,
                        const std::array<bool, 9>& selected,
                        const DesktopRect& fullScreen, int holding);

// How the monitor dialog draws the desktop: one scale for both directions,
// so that monitors keep their shape, and the drawing centred in the free
// direction.
struct MonitorLayout {
  double scale = 1;  // desktop pixels per dialog pixel
  int leftMargin = 10;
  int topMargin = 10;
  // The desktop extent; it always includes the origin.
  int minLeft = 0;
  int minTop = 0;
  int maxRight = 0;
  int maxBottom = 0;
};

// The layout for a drawing area whose client rectangle ends at
// (`areaRight`, `areaBottom`).
MonitorLayout LayOutMonitors(std::span<const DesktopRect> monitors,
                             int areaRight, int areaBottom);

// Where a desktop rectangle is drawn, in dialog pixels.
DesktopRect DrawnRect(const MonitorLayout& layout, const DesktopRect& rect);

// A click at (`x`, `y`) in dialog pixels: every monitor drawn strictly
// around the point is toggled with Shift, or made the only chosen one
// without.  True when some monitor was hit.
bool ClickMonitors(const MonitorLayout& layout,
                   std::span<const DesktopRect> monitors,
                   std::array<bool, 9>& selected, int x, int y, bool shift);

#include "shell/monitors.h"

#include <algorithm>

#include "core/viewer_state.h"

void SetMonitorTable(std::span<const DesktopRect> monitors) {
  Viewer.MonitorTable = {};
  Viewer.MonitorCount = 0;
  for (const DesktopRect& monitor : monitors) {
    if (Viewer.MonitorCount == kMaxMonitors) break;
    Viewer.MonitorTable[Viewer.MonitorCount++] = monitor;
  }
}

std::span<const DesktopRect> KnownMonitors() {
  return {Viewer.MonitorTable.data(),
          static_cast<size_t>(Viewer.MonitorCount)};
}

DesktopRect UnionOfSelected(std::span<const DesktopRect> monitors,
                            const std::array<bool, 9>& selected) {
  DesktopRect all;
  for (size_t i = 0; i < monitors.size() && i < selected.size(); ++i) {
    const DesktopRect& m = monitors[i];
    if (!selected[i] || m.IsEmpty()) continue;
    if (all.IsEmpty()) {
      all = m;
      continue;
    }
    all.left = std::min(all.left, m.left);
    all.top = std::min(all.top, m.top);
    all.right = std::max(all.right, m.right);
    all.bottom = std::max(all.bottom, m.bottom);
  }
  return all;
}

void ComputeFullScreenRect() {
  std::span<const DesktopRect> monitors = KnownMonitors();
  // Only monitors that are there now count: a stored choice of a monitor
  // since unplugged would otherwise give a window of no size at all.  Its
  // flag stays, so the monitor is used again once it is back.
  bool any = false;
  for (size_t i = 0; i < monitors.size(); ++i)
    any = any || Viewer.MonitorSelected[i];
  if (!any) {
    for (size_t i = 0; i < monitors.size(); ++i) {
      if (monitors[i].left == 0 && monitors[i].top == 0) {
        Viewer.MonitorSelected[i] = true;
        any = true;
      }
    }
    // A layout with no monitor at the origin still needs one: the first is
    // the primary one.
    if (!any && !monitors.empty()) Viewer.MonitorSelected[0] = true;
  }
  Viewer.FullScreenRect = UnionOfSelected(monitors, Viewer.MonitorSelected);
}

int MonitorHolding(std::span<const DesktopRect> monitors,
                   const DesktopRect& window) {
  int best = -1;
  long long bestArea = 0;
  for (size_t i = 0; i < monitors.size(); ++i) {
    const DesktopRect& m = monitors[i];
    long long w =
        std::min(m.right, window.right) - std::max(m.left, window.left);
    long long h =
        std::min(m.bottom, window.bottom) - std::max(m.top, window.top);
    if (w <= 0 || h <= 0 || w * h <= bestArea) continue;
    bestArea = w * h;
    best = static_cast<int>(i);
  }
  return best;
}

int OutputForFullScreen(std::span<const DesktopRect> monitors,
                        const std::array<bool, 9>& selected,
                        const DesktopRect& fullScreen, int holding) {
  int count = static_cast<int>(std::min(monitors.size(), selected.size()));
  int first = -1;
  for (int i = 0; i < count; ++i) {
    if (!selected[i]) continue;
    if (monitors[i] == fullScreen) return i;
    if (first < 0) first = i;
  }
  if (holding >= 0 && holding < count && selected[holding]) return holding;
  return first;
}

MonitorLayout LayOutMonitors(std::span<const DesktopRect> monitors,
                             int areaRight, int areaBottom) {
  MonitorLayout layout;
  for (const DesktopRect& m : monitors) {
    layout.minLeft = std::min(layout.minLeft, m.left);
    layout.minTop = std::min(layout.minTop, m.top);
    layout.maxRight = std::max(layout.maxRight, m.right);
    layout.maxBottom = std::max(layout.maxBottom, m.bottom);
  }
  // A tiny area or an empty desktop must not divide by zero.
  double usableWidth = std::max(areaRight - 20, 1);
  double usableHeight = std::max(areaBottom - 10, 1);
  double extentWidth = static_cast<double>(layout.maxRight) - layout.minLeft;
  double extentHeight = static_cast<double>(layout.maxBottom) - layout.minTop;
  if (extentWidth <= 0 || extentHeight <= 0) return layout;
  double horizontal = extentWidth / usableWidth;
  double vertical = extentHeight / usableHeight;
  if (horizontal > vertical) {
    layout.scale = horizontal;
    layout.leftMargin = 10;
    layout.topMargin =
        static_cast<int>((usableHeight - extentHeight / horizontal) / 2 + 10);
  } else {
    layout.scale = vertical;
    layout.topMargin = 10;
    layout.leftMargin = static_cast<int>(
        (areaRight - extentWidth / vertical - 20) / 2 + 10);
  }
  return layout;
}

DesktopRect DrawnRect(const MonitorLayout& layout, const DesktopRect& rect) {
  auto x = [&](int v) {
    return static_cast<int>(layout.leftMargin +
                            (static_cast<double>(v) - layout.minLeft) /
                                layout.scale);
  };
  auto y = [&](int v) {
    return static_cast<int>(layout.topMargin +
                            (static_cast<double>(v) - layout.minTop) /
                                layout.scale);
  };
  return {x(rect.left), y(rect.top), x(rect.right), y(rect.bottom)};
}

bool ClickMonitors(const MonitorLayout& layout,
                   std::span<const DesktopRect> monitors,
                   std::array<bool, 9>& selected, int x, int y, bool shift) {
  bool hit = false;
  for (size_t i = 0; i < monitors.size() && i < selected.size(); ++i) {
    DesktopRect drawn = DrawnRect(layout, monitors[i]);
    if (x <= drawn.left || x >= drawn.right || y <= drawn.top ||
        y >= drawn.bottom)
      continue;
    hit = true;
    if (shift) {
      selected[i] = !selected[i];
    } else {
      selected = {};
      selected[i] = true;
    }
  }
  return hit;
}

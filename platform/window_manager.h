// What the X11 window manager offers, asked of the X server directly: Qt
// has no question for it.
#pragma once

// Whether an EWMH window manager runs that takes windows to full screen
// (_NET_WM_STATE_FULLSCREEN in its _NET_SUPPORTED).  False on other
// platforms, without a window manager, and when the X server cannot be
// asked.
bool WindowManagerTakesFullScreen();

#!/usr/bin/env python3
"""Full screen from a maximised window under a real window manager.

openbox keeps a maximised window at the work area's size whatever geometry
the program asks for. The viewer is maximised through openbox, Alt+Enter
must then cover exactly the screen, and Alt+Enter again must give back the
maximised window. Exits 77 (skipped) when Xvfb or openbox is missing.
"""
import os
import sys
import time

from xvfb_session import SCREEN, TIMEOUT, Failure, script_main


def geometry(s, viewer):
    """The viewer's visible top-level window and where it is.  Full screen
    changes the window's flags, which gives it a new X window."""
    found = s.xdotool("search", "--onlyvisible", "--pid", str(viewer.pid))
    if not found:
        return None, None
    window = found.split()[0]
    text = s.xdotool("getwindowgeometry", "--shell", window) or ""
    g = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
    return window, tuple(int(g.get(k, -1)) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def wait_geometry(s, viewer, test, what):
    deadline = time.monotonic() + TIMEOUT
    while True:
        window, g = geometry(s, viewer)
        if g and test(g):
            return window, g
        if time.monotonic() > deadline:
            raise Failure(f"{what}: the window is at {g}")
        time.sleep(0.2)


def full_screen_from_maximised(s):
    with s.running_viewer("maximised", [s.args.sample]) as (viewer, window):
        # A file given on the command line opens full screen: back to a
        # window first.
        window, before = wait_geometry(s, viewer, lambda g: True, "")
        if before == (0, 0) + SCREEN:
            s.key(window, "alt+Return")
            window, before = wait_geometry(
                s, viewer, lambda g: g != (0, 0) + SCREEN,
                "Alt+Enter did not leave the first full screen")
        s.key(window, "super+Up")
        window, maximised = wait_geometry(
            s, viewer, lambda g: g != before and g[2] >= SCREEN[0] - 8,
            "openbox did not maximise the viewer")
        if maximised[3] >= SCREEN[1]:
            raise Failure(f"maximised fills the screen already: {maximised}")
        s.key(window, "alt+Return")
        window, _ = wait_geometry(s, viewer, lambda g: g == (0, 0) + SCREEN,
                                  "full screen does not cover exactly the screen")
        s.key(window, "alt+Return")
        window, _ = wait_geometry(
            s, viewer, lambda g: g == maximised,
            "leaving full screen did not give back the maximised window")
        s.end_viewer(viewer, window)


if __name__ == "__main__":
    # xprop tells when openbox has started.
    sys.exit(script_main(
        ("viewer", "sample"), [full_screen_from_maximised],
        skip=("Xvfb", "openbox", "xdotool"), fail=("xprop",), openbox=True,
        openbox_config=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                    "openbox-rc.xml")))

#!/usr/bin/env python3
"""The real viewer under a window manager (openbox on Xvfb).

Started on the sample it comes up full screen, in the window manager's own
full-screen state (_NET_WM_STATE_FULLSCREEN); Enter leaves full screen and
the window must come back with its whole frame, title bar included, on the
screen, out of that state, and its menu bar readable (texts in a colour
apart from the bar's).  Entering and leaving once more puts the frame back
where it was.  Exits 77
(skipped) when Xvfb or openbox is not installed.
"""
import os
import subprocess
import sys
import time

import numpy as np
from PIL import Image

from xvfb_session import SCREEN, Failure, script_main, wait_for


def client_rect(s, window):
    """The client's place on the screen.  xwininfo, since xdotool adds the
    frame's offset to a framed window's position."""
    result = subprocess.run(["xwininfo", "-id", window], env=s.env,
                            capture_output=True, text=True)
    values = {}
    for line in result.stdout.splitlines():
        key, _, value = line.strip().partition(":")
        values[key] = value.strip()
    try:
        return tuple(int(values[k]) for k in (
            "Absolute upper-left X", "Absolute upper-left Y", "Width",
            "Height"))
    except (KeyError, ValueError):
        return None


def full_screen(s, window):
    return (client_rect(s, window) or (0,) * 4)[2:] == SCREEN


def manager_full_screen(s, window):
    """Whether the window manager holds the window in its full-screen state."""
    result = subprocess.run(["xprop", "-id", window, "_NET_WM_STATE"],
                            env=s.env, capture_output=True, text=True)
    return "_NET_WM_STATE_FULLSCREEN" in result.stdout


def frame_rect(s, window):
    """The frame's left, top, right and bottom from the client's place and
    the extents the window manager announces; None while it has none."""
    result = subprocess.run(["xprop", "-id", window, "_NET_FRAME_EXTENTS"],
                            env=s.env, capture_output=True, text=True)
    if "=" not in result.stdout:
        return None
    left, right, top, bottom = (
        int(v) for v in result.stdout.split("=", 1)[1].split(","))
    rect = client_rect(s, window)
    if rect is None or top == 0:
        return None
    x, y, w, h = rect
    return (x - left, y - top, x + w + right, y + h + bottom)


def windowed_frame(s, window):
    """The frame once the window has left full screen and settled.  A busy
    machine can lose the key to a viewer still starting: it is pressed
    again once after a while."""
    pressed = time.monotonic()

    def settled():
        nonlocal pressed
        rect = client_rect(s, window)
        if rect is None or rect[2:] == SCREEN:
            if pressed and time.monotonic() - pressed > 20:
                s.key(window, "Return")
                pressed = None
            return None
        first = frame_rect(s, window)
        time.sleep(0.5)
        return first if first and first == frame_rect(s, window) else None
    return wait_for("the window did not leave full screen", settled)


def menu_bar_readable(s, window):
    """Some pixels of the top rows (the menu bar) stand well apart from the
    bar's commonest grey."""
    picture = s.screen_part(*client_rect(s, window))
    top = picture[:18].astype(int)
    grey = top.mean(axis=2).round().astype(int)
    background = np.bincount(grey.ravel()).argmax()
    path = os.path.join(s.args.artifacts, "window_manager_under_xvfb.png")
    Image.fromarray(picture).save(path)
    if (np.abs(grey - background) > 96).sum() <= 50:
        raise Failure(f"the menu bar shows no readable text (see {path})")


def leaving_full_screen_scenario(s):
    with s.running_viewer("frame", [s.args.sample]) as (viewer, window):
        wait_for("the viewer did not start full screen",
                 lambda: full_screen(s, window))
        s.wait_for_title(window, "scene.mpo", "the sample is not shown")
        wait_for("full screen on one monitor is not the window manager's",
                 lambda: manager_full_screen(s, window))
        s.key(window, "Return")
        frame = windowed_frame(s, window)
        if manager_full_screen(s, window):
            raise Failure("the window manager still holds it full screen")
        if frame[0] < 0 or frame[1] < 0 or frame[2] > SCREEN[0] \
                or frame[3] > SCREEN[1]:
            raise Failure(f"the frame {frame} is not on the "
                          f"{SCREEN[0]}x{SCREEN[1]} screen")
        menu_bar_readable(s, window)
        s.key(window, "Return")
        wait_for("Enter did not return to full screen",
                 lambda: full_screen(s, window))
        s.key(window, "Return")
        again = windowed_frame(s, window)
        if again != frame:
            raise Failure(f"the frame came back at {again}, not {frame}")
        s.end_viewer(viewer, window)


if __name__ == "__main__":
    sys.exit(script_main(("viewer", "cli", "sample"),
                         [leaving_full_screen_scenario],
                         skip=("Xvfb", "openbox"),
                         fail=("xdotool", "xwd", "xprop"), openbox=True))

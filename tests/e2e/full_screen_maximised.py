#!/usr/bin/env python3
"""Full screen from a maximised window under a real window manager.

openbox keeps a maximised window at the work area's size whatever geometry
the program asks for. The viewer is maximised through openbox, Alt+Enter
must then cover exactly the screen, and Alt+Enter again must give back the
maximised window. Exits 77 (skipped) when Xvfb or openbox is missing.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from viewer_under_xvfb import SCREEN, SKIP, TIMEOUT, Failure, Session  # noqa: E402


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


def scenario(s):
    viewer = s.start_viewer("maximised", [s.args.sample])
    try:
        window = s.wait_for_window(viewer)
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
    finally:
        if viewer.poll() is None:
            viewer.kill()
            viewer.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--viewer", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--artifacts", default=os.getcwd())
    args = parser.parse_args()
    for tool in ("Xvfb", "openbox", "xdotool"):
        if not shutil.which(tool):
            print(f"SKIP: {tool} is not installed (scripts/setup.sh installs it)")
            return SKIP
    args.cli = None
    with tempfile.TemporaryDirectory() as work:
        s = Session(args, work)
        wm = None
        try:
            print("display", s.start_server())
            rc = os.path.join(os.path.dirname(__file__), "openbox-rc.xml")
            wm = subprocess.Popen(["openbox", "--config-file", rc], env=s.env,
                                  stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
            time.sleep(1)
            scenario(s)
            print("ok full screen from maximised")
        except Failure as failure:
            print("FAIL:", failure)
            return 1
        finally:
            if wm:
                wm.terminate()
                wm.wait()
            s.stop_server()
    return 0


if __name__ == "__main__":
    sys.exit(main())

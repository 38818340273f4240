#!/usr/bin/env python3
"""The real viewer playing a movie on a virtual X server.

Makes a small side-by-side movie with ffmpeg, opens it from the command
line and checks with screenshots that it plays (the screen keeps changing),
that F2 pauses it (the screen holds still) and that Ctrl+Space steps exactly
one frame (the screen changes once, then holds).  That a closed movie leaves
its last frame as a still pair is checked by the player's own tests.  Exits 77 (skipped) when
Xvfb, xdotool or ffmpeg is missing.
"""
import os
import subprocess
import sys
import time

import numpy as np

from xvfb_session import TIMEOUT, Failure, script_main


def make_movie(path):
    # A counter and moving pattern in each half, 12 frames a second.
    subprocess.run(
        ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
         "testsrc2=s=320x180:r=12:d=30", "-vf",
         "[in]split[a][b];[a][b]hstack[out]", "-c:v", "libx264",
         "-preset", "ultrafast", "-pix_fmt", "yuv420p", path],
        check=True, timeout=TIMEOUT)


def same(a, b):
    return a.shape == b.shape and np.array_equal(a, b)


def plays_pauses_and_steps_once(s):
    movie = os.path.join(s.work, "clip.mp4")
    make_movie(movie)
    with s.running_viewer("movie", [movie]) as (viewer, window):
        check_playing(s, viewer, window)


def screen_holds(s, window):
    """The window's picture, and whether it is unchanged a while later."""
    time.sleep(1.0)
    first = s.window_picture(window)
    time.sleep(0.8)
    return first, same(first, s.window_picture(window))


def check_playing(s, viewer, window):
    shots = []
    deadline = time.monotonic() + TIMEOUT
    # Playing: several different pictures a fraction of a second apart.
    while time.monotonic() < deadline:
        shots.append(s.window_picture(window))
        if len(shots) >= 2 and not same(shots[-1], shots[-2]) and \
                shots[-1].mean() > 20:
            break
        time.sleep(0.3)
    else:
        raise Failure("the movie does not play")

    s.key(window, "F2")
    paused, held = screen_holds(s, window)
    if not held:
        raise Failure("F2 did not pause the movie")

    s.key(window, "ctrl+space")
    stepped, held = screen_holds(s, window)
    if same(stepped, paused):
        raise Failure("Ctrl+Space showed no new frame")
    if not held:
        raise Failure("Ctrl+Space did not stop after one frame")

    s.end_viewer(viewer, window)


if __name__ == "__main__":
    sys.exit(script_main(("viewer", "cli"), [plays_pauses_and_steps_once],
                         skip=("Xvfb", "xdotool", "xwd", "ffmpeg")))

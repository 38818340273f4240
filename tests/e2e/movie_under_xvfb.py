#!/usr/bin/env python3
"""The real viewer playing a movie on a virtual X server.

Makes a small side-by-side movie with ffmpeg, opens it from the command
line and checks with screenshots that it plays (the screen keeps changing),
that F2 pauses it (the screen holds still) and that Ctrl+Space steps exactly
one frame (the screen changes once, then holds).  The rate keys (Ctrl with
keypad digits, + and -) are pressed as X delivers them, NumLock on and off,
on each of the three movie shapes; the rate the movie took shows in the
title.  That a closed movie leaves
its last frame as a still pair is checked by the player's own tests.  Exits 77 (skipped) when
Xvfb, xdotool or ffmpeg is missing.
"""
import os
import subprocess
import sys
import time

import numpy as np

from xvfb_session import TIMEOUT, Failure, script_main, wait_for


def make_movie(path):
    # A counter and moving pattern in each half, 12 frames a second.
    subprocess.run(
        ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
         "testsrc2=s=320x180:r=12:d=30", "-vf",
         "[in]split[a][b];[a][b]hstack[out]", "-c:v", "libx264",
         "-preset", "ultrafast", "-pix_fmt", "yuv420p", path],
        check=True, timeout=TIMEOUT)


def make_two_stream_avi(path):
    # One AVI holding a left and a right video stream.
    source = "testsrc2=s=160x120:r=12:d=30"
    subprocess.run(
        ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", source,
         "-f", "lavfi", "-i", source, "-map", "0", "-map", "1",
         "-c:v", "mjpeg", "-q:v", "5", path],
        check=True, timeout=TIMEOUT)


def make_single(path):
    subprocess.run(
        ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
         "testsrc2=s=160x120:r=12:d=30", "-c:v", "libx264",
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


# Each key as X sends it from the keypad, and the rate it leads to from the
# one before.  KP_Down and KP_Next are keypad 2 and 3 with NumLock off.
RATE_KEYS = [("ctrl+KP_2", "再生速度 2倍"), ("ctrl+KP_Next", "再生速度 3倍"),
             ("ctrl+KP_Subtract", "再生速度 2.75倍"),
             ("ctrl+KP_Add", "再生速度 3倍"), ("ctrl+KP_Down", "再生速度 2倍"),
             ("ctrl+KP_1", None)]


def check_rate_keys(s, window, what):
    name = s.window_title(window)
    for key, rate in RATE_KEYS:
        s.key(window, key)
        if rate:
            s.wait_for_title(window, rate, f"{key} did not set the rate of "
                             f"the {what} ({rate})")
        else:
            wait_for_rate_gone(s, window, f"{key} did not set the rate of "
                               f"the {what} back to 1")
    if s.window_title(window) != name:
        raise Failure(f"the {what}'s title did not come back: "
                      f"{s.window_title(window)!r}, was {name!r}")


def wait_for_rate_gone(s, window, what):
    try:
        wait_for(what, lambda: "再生速度" not in s.window_title(window))
    except Failure:
        raise Failure(f"{what}; title {s.window_title(window)!r}")


def rate_keys_on_every_shape(s):
    side_by_side = os.path.join(s.work, "clip.mp4")
    if not os.path.exists(side_by_side):
        make_movie(side_by_side)
    streams = os.path.join(s.work, "streams.avi")
    make_two_stream_avi(streams)
    left = os.path.join(s.work, "left.mp4")
    right = os.path.join(s.work, "right.mp4")
    make_single(left)
    make_single(right)
    for what, arguments in (("side-by-side movie", [side_by_side]),
                            ("two-stream movie", [streams]),
                            ("movie pair", [left, right])):
        with s.running_viewer("rate " + what, arguments) as (viewer, window):
            s.wait_for_title(window, os.path.basename(arguments[0]),
                             f"the {what} did not open")
            time.sleep(1.0)
            check_rate_keys(s, window, what)
            s.end_viewer(viewer, window)


if __name__ == "__main__":
    sys.exit(script_main(("viewer", "cli"), [plays_pauses_and_steps_once,
                                             rate_keys_on_every_shape],
                         skip=("Xvfb", "xdotool", "xwd", "ffmpeg")))

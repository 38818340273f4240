#!/usr/bin/env python3
"""The real viewer on a virtual X server, driven by real key presses.

Opens the sample MPO from the command line, presses F9, F7 and X with
xdotool and compares what the screen shows with duoramic-cli's rendering of
the same client area (side by side, Dubois anaglyph, side by side swapped).
Then steps through a folder of two side-by-side pictures with Space and
BackSpace, runs the slideshow with A and checks each picture the screen
shows, and that Esc ends it with status 0 and the settings written.
A second run without arguments must play the demo list beside the
executable.  Exits 77 (skipped) only when Xvfb is not installed.
"""
import os
import shutil
import sys
import time

import numpy as np
from PIL import Image

from xvfb_session import Failure, script_main


def sane(picture):
    """A picture, not a blank or garbled window."""
    lit = (picture.max(axis=2) > 8).mean()
    return 0.05 < lit and picture.std() > 10 and len(
        np.unique(picture.reshape(-1, 3)[::7], axis=0)) > 100


def keys_scenario(s):
    with s.running_viewer("keys", [s.args.sample]) as (viewer, window):
        s.key(window, "F9")
        menu = s.wait_until(window, s.find_client_area,
                            "F9 did not show the two views side by side")
        side_by_side = s.window_picture(window)[menu:]
        s.key(window, "F7")
        s.wait_until(window, s.shows(menu, "DuboisAnaglyph"),
                     "F7 did not show the Dubois anaglyph")
        s.key(window, "F9")
        s.wait_until(window, s.shows(menu), "F9 did not come back")
        s.key(window, "x")
        s.wait_until(window, s.shows(menu, swap=True),
                     "X did not exchange the views")
        # The halves have changed places (the two views differ enough for
        # the comparison to tell them apart).
        swapped = s.window_picture(window)[menu:]
        half = swapped.shape[1] // 2
        left, right = side_by_side[:, :half], side_by_side[:, half:2 * half]
        if s.matches(left, right):
            raise Failure("the sample's two views cannot be told apart")
        if not (s.matches(swapped[:, :half], right) and
                s.matches(swapped[:, half:2 * half], left)):
            raise Failure("after X the halves are not exchanged")

        s.end_viewer(viewer, window)
        conf = os.path.join(viewer.config, "Orlith", "duoramic.conf")
        if not os.path.exists(conf):
            raise Failure("no settings file was written")
        with open(conf) as f:
            settings = f.read().splitlines()
        if "StereoType=0" not in settings:
            raise Failure(f"StereoType is not the last format: {settings}")


def stepping_scenario(s):
    """Space and BackSpace step through the folder of the file opened, A
    runs the slideshow (its note in the title) and stops it."""
    folder = os.path.join(s.work, "pictures")
    os.makedirs(folder)
    first = os.path.join(folder, "a_scene.jps")
    second = os.path.join(folder, "b_scene.jps")
    jps = os.path.join(os.path.dirname(s.args.sample), "scene.jps")
    shutil.copy(jps, first)
    # The second picture: the first with its halves exchanged.
    picture = Image.open(jps).convert("RGB")
    w, h = picture.size
    turned = Image.new("RGB", (w, h))
    turned.paste(picture.crop((w // 2, 0, w, h)), (0, 0))
    turned.paste(picture.crop((0, 0, w // 2, h)), (w - w // 2, 0))
    turned.save(second, "JPEG", quality=95)

    with s.running_viewer("stepping", [first]) as (viewer, window):
        s.key(window, "F9")
        menu = s.wait_until(window, lambda p: s.find_client_area(p, first),
                            "the first picture is not shown")

        def shows(path):
            return s.shows(menu, path=path)

        s.key(window, "space")
        s.wait_until(window, shows(second), "Space did not show the next")
        s.key(window, "space")
        s.wait_until(window, shows(first), "Space did not wrap to the first")
        s.key(window, "BackSpace")
        s.wait_until(window, shows(second),
                     "BackSpace did not wrap to the last")
        s.key(window, "BackSpace")
        s.wait_until(window, shows(first), "BackSpace did not go back")

        # The slideshow advances at once and then every three seconds.
        s.key(window, "a")
        s.wait_until(window, shows(second), "A did not advance the show")
        title = s.window_title(window)
        if "秒間隔でスライドショー中" not in title or "3.0" not in title:
            raise Failure(f"no slideshow note in the title: {title!r}")
        s.wait_until(window, shows(first), "the slideshow did not go on")
        # Stopped, the show stays on the picture it has (after any
        # transition under way has finished).
        s.key(window, "a")
        time.sleep(1.5)
        shown = s.window_picture(window)[menu:]
        time.sleep(4.5)
        if not s.matches(s.window_picture(window)[menu:], shown):
            raise Failure("the slideshow went on after A stopped it")
        s.end_viewer(viewer, window)


def demo_list_scenario(s):
    """Without arguments the viewer plays the list beside its executable."""
    folder = os.path.dirname(os.path.realpath(s.args.viewer))
    with s.running_viewer("demo", []) as (viewer, window):
        s.wait_for_title(window, folder + "/scene",
                         "the demo list did not play")
        s.wait_until(window, sane, "the demo list shows no picture")
        s.end_viewer(viewer, window)


if __name__ == "__main__":
    sys.exit(script_main(("viewer", "cli", "sample"),
                         (keys_scenario, stepping_scenario, demo_list_scenario),
                         skip=("Xvfb",), fail=("xdotool", "xwd")))

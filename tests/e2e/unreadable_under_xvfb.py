#!/usr/bin/env python3
"""What the real viewer tells the user about files and folders it cannot
show, on a virtual X server under openbox.

- A zero-byte JPEG and a text file named .mpo: the canvas shows a band of
  text across its middle (the file's name and why) on black, and the title
  names the file and the reason.  Space and BackSpace step on from such an
  item, and its title follows the item shown.
- A JPEG named .mpo without a second picture (an iPhone picture with a gain
  map, from the test data when present) is shown flat, the reason in the
  title.
- A folder without anything to show says so on the canvas and in the
  title, and asks nothing about movie decoders.

Exits 77 (skipped) when Xvfb or openbox is not installed.
"""
import os
import shutil
import sys

import numpy as np

from xvfb_session import Failure, script_main, wait_for

CANNOT_SHOW = "表示できません"
NOTHING_TO_SHOW = "表示できるファイルがありません"
MOVIE_QUESTION = "動画再生エラー"


def testdata_dir():
    here = os.path.dirname(os.path.abspath(__file__))
    return os.environ.get("DUORAMIC_TESTDATA") or os.path.join(
        here, "..", "..", "..", "shared", "testdata")


def current_window(s, viewer):
    """The viewer's visible window now: full screen gives it a new one."""
    def found():
        ids = s.xdotool("search", "--onlyvisible", "--pid", str(viewer.pid))
        return ids.split()[0] if ids else None
    return wait_for("the viewer has no visible window", found)


def title_of(s, viewer):
    return s.window_title(current_window(s, viewer))


def wait_title(s, viewer, parts, what):
    """Until the title holds every one of `parts`."""
    try:
        wait_for(what, lambda: all(p in title_of(s, viewer) for p in parts))
    except Failure:
        raise Failure(f"{what}; title {title_of(s, viewer)!r}")


def message_band(picture):
    """True when the picture is black but for text in a band across its
    middle: light text pixels there, in several rows and spread across,
    and nothing lit in the top and bottom quarters."""
    grey = picture.max(axis=2)
    h, w = grey.shape
    lit = grey > 96
    middle = lit[h // 4: 3 * h // 4]
    rows = np.flatnonzero(middle.any(axis=1))
    outside = lit[: h // 4].sum() + lit[3 * h // 4:].sum()
    if outside > 0 or len(rows) < 20 or middle.sum() < 400:
        return False
    # Several lines: the lit rows form at least two separate runs.
    runs = 1 + int((np.diff(rows) > 3).sum())
    columns = np.flatnonzero(middle.any(axis=0))
    return runs >= 2 and columns[-1] - columns[0] > w // 10


def picture_shown(picture):
    """A picture fills much of the screen (not a message on black)."""
    grey = picture.max(axis=2)
    return (grey > 8).mean() > 0.2 and picture.std() > 10


def wait_screen(s, viewer, test, what):
    s.wait_until(current_window(s, viewer), test, what)


def press(s, viewer, key):
    s.key(current_window(s, viewer), key)


def unreadable_files_scenario(s):
    folder = os.path.join(s.work, "broken")
    os.makedirs(folder)
    samples = os.path.dirname(s.args.sample)
    empty = os.path.join(folder, "empty.jpg")
    open(empty, "wb").close()
    shutil.copy(os.path.join(samples, "scene.jps"),
                os.path.join(folder, "good.jps"))
    with s.running_viewer("zero-byte", [empty]) as (viewer, _):
        wait_title(s, viewer, ["empty.jpg", CANNOT_SHOW, "Empty input file"],
                   "the title does not say why empty.jpg is not shown")
        wait_screen(s, viewer, message_band,
                    "no message on the canvas for empty.jpg")
        press(s, viewer, "space")
        wait_title(s, viewer, ["good.jps"], "Space did not move on")
        wait_screen(s, viewer, picture_shown, "good.jps is not shown")
        if CANNOT_SHOW in title_of(s, viewer):
            raise Failure("the next picture kept the unreadable's note")
        s.end_viewer(viewer, current_window(s, viewer))

    # Browsing MPO files: one good, one text, one a flat JPEG.
    mpos = os.path.join(s.work, "mpo")
    os.makedirs(mpos)
    shutil.copy(s.args.sample, os.path.join(mpos, "a.mpo"))
    with open(os.path.join(mpos, "b.mpo"), "w") as text:
        text.write("not a picture, only a name ending in .mpo\n")
    gain_map = os.path.join(testdata_dir(), "mpo", "pillow_frame_size.mpo")
    flat = os.path.exists(gain_map)
    if flat:
        shutil.copy(gain_map, os.path.join(mpos, "c.mpo"))
    else:
        print("note: no", gain_map, "- the flat MPO is not checked")
    with s.running_viewer("mpo", [os.path.join(mpos, "a.mpo")]) as (viewer, _):
        wait_title(s, viewer, ["a.mpo"], "a.mpo is not shown")
        wait_screen(s, viewer, picture_shown, "a.mpo shows no picture")
        press(s, viewer, "space")
        wait_title(s, viewer, ["b.mpo", CANNOT_SHOW],
                   "Space did not show why b.mpo cannot be shown")
        wait_screen(s, viewer, message_band, "no message on the canvas for b.mpo")
        if flat:
            press(s, viewer, "space")
            wait_title(s, viewer, ["c.mpo", "2D表示", "no second MPF mark"],
                       "c.mpo is not shown flat with its reason")
            wait_screen(s, viewer, picture_shown, "c.mpo shows no picture")
            press(s, viewer, "BackSpace")
            wait_title(s, viewer, ["b.mpo", CANNOT_SHOW],
                       "BackSpace did not come back to b.mpo")
            wait_screen(s, viewer, message_band,
                        "no message after BackSpace to b.mpo")
        press(s, viewer, "BackSpace")
        wait_title(s, viewer, ["a.mpo"], "BackSpace did not reach a.mpo")
        if CANNOT_SHOW in title_of(s, viewer):
            raise Failure("a.mpo kept the unreadable's note")
        wait_screen(s, viewer, picture_shown, "a.mpo is not shown again")
        s.end_viewer(viewer, current_window(s, viewer))


def empty_folder_scenario(s):
    folder = os.path.join(s.work, "nothing here")
    os.makedirs(folder)
    with open(os.path.join(folder, "notes.doc"), "w") as other:
        other.write("not a picture\n")
    with s.running_viewer("empty-folder", [folder]) as (viewer, _):
        wait_title(s, viewer, [NOTHING_TO_SHOW],
                   "the title does not say the folder has nothing to show")
        wait_screen(s, viewer, message_band,
                    "no message on the canvas for the empty folder")
        asked = s.xdotool("search", "--name", MOVIE_QUESTION)
        if asked:
            raise Failure("the movie decoder question was asked")
        s.end_viewer(viewer, current_window(s, viewer))


if __name__ == "__main__":
    sys.exit(script_main(("viewer", "sample"),
                         (unreadable_files_scenario, empty_folder_scenario),
                         skip=("Xvfb", "openbox"), fail=("xdotool", "xwd"),
                         openbox=True))

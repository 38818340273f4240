#!/usr/bin/env python3
"""The 360-degree viewer as a user reaches it in the shipped executable,
which loads the web engine only when the viewer is first opened.

X11 (Xvfb and openbox):
- a JPS on screen, Ctrl+Alt+P: the viewer shows the sphere (the screen read
  back is neither black nor the picture it left), and Esc brings the
  picture back exactly, the viewer still running;
- a slideshow list whose second entry is a 360 item, reached with Space:
  the sphere, and Esc back to the viewer, still running.
Wayland (a private headless Weston, screenshots by weston-screenshooter):
- a list whose first entry is a 360 item in a running slideshow: the sphere
  shows, then the show moves on to a still by itself, the viewer running.

Exits 77 (skipped) when Xvfb, openbox or xdotool is missing; the Wayland
part is skipped, saying why, without Weston or Qt's Wayland plugin.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

from xvfb_session import (Failure, parse_arguments, missing_tool,
                          run_scenarios, wait_for, with_leak_suppressions)

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.normpath(os.path.join(HERE, "..", "..", "resources",
                                        "samples"))
# The web engine keeps allocations for the life of the process and frees
# some through a base type: not ours to judge.
ENGINE_ASAN = "detect_leaks=0:new_delete_type_mismatch=0:abort_on_error=1"


def shows_sphere(picture, before=None):
    """The 360 page drew its scene: the centre is lit and textured, and it
    is not the picture the viewer showed before."""
    h, w = picture.shape[:2]
    centre = picture[h // 4:3 * h // 4, w // 8:7 * w // 8].astype(np.int16)
    lit = (centre.max(axis=2) > 24).mean()
    colours = len(np.unique(centre.reshape(-1, 3)[::7], axis=0))
    if lit < 0.5 or colours < 50:
        return False
    if before is not None and before.shape == picture.shape:
        same = (np.abs(picture.astype(np.int16) - before).max(axis=2) <= 2)
        if same.mean() > 0.9:
            return False
    return True


def viewer_env(env):
    env = dict(env)
    env["ASAN_OPTIONS"] = ENGINE_ASAN
    # Full stacks for every allocation slow the engine's start by minutes;
    # without the leak check they tell nothing.
    env["LSAN_OPTIONS"] = ":".join(
        o for o in env.get("LSAN_OPTIONS", "").split(":")
        if o and not o.startswith("fast_unwind_on_malloc"))
    return env


def write_list(folder, entries):
    path = os.path.join(folder, "show.txt")
    with open(path, "w", encoding="utf-8") as f:
        f.write("SlideShowList;;\nRepeat;1;;\n")
        for entry in entries:
            f.write(entry + "\n")
    return path


def copy_samples(folder):
    for name in ("scene.jps", "scene.mpo"):
        shutil.copy(os.path.join(SAMPLES, name), folder)


def start(s, name, arguments):
    return s.running_viewer(name, arguments, viewer_env)


def screen(s):
    from xvfb_session import SCREEN
    # xwd fails now and then while a full-screen window is being replaced.
    for _ in range(10):
        dump = subprocess.run(["xwd", "-root", "-silent"], env=s.env,
                              capture_output=True, timeout=60)
        if dump.returncode == 0:
            break
        time.sleep(0.3)
    else:
        raise Failure("xwd: " + dump.stderr.decode(errors="replace")[-300:])
    from xvfb_session import read_xwd
    return read_xwd(dump.stdout)[:SCREEN[1], :SCREEN[0]]


def current_window(s, viewer):
    """The viewer's visible window now: full screen gives it a new one."""
    def found():
        ids = s.xdotool("search", "--onlyvisible", "--pid", str(viewer.pid))
        return ids.split()[0] if ids else None
    return wait_for("the viewer has no visible window", found)


def sphere_and_back(s, viewer, window, open_keys, what):
    wait_for(f"{what}: the picture did not appear",
             lambda: (screen(s).max(axis=2) > 24).mean() > 0.2)
    time.sleep(1)  # the exact pixels after a first look
    before = screen(s)
    for key in open_keys:
        s.key(current_window(s, viewer), key)
    try:
        wait_for(f"{what}: no sphere on the screen",
                 lambda: shows_sphere(screen(s), before))
    except Failure:
        Image.fromarray(screen(s)).save(
            os.path.join(s.args.artifacts, f"viewer360-{what}-failure.png"))
        raise
    if viewer.poll() is not None:
        raise Failure(f"{what}: the viewer ended with {viewer.returncode}")
    # Esc goes to whichever window has the focus: the 360 viewer's.
    if s.xdotool("key", "Escape") is None:
        raise Failure("xdotool could not press Escape")
    wait_for(f"{what}: Esc did not bring the picture back",
             lambda: not shows_sphere(screen(s), before) and
             viewer.poll() is None)
    return before


def from_a_still(s):
    folder = os.path.join(s.work, "still")
    os.makedirs(folder)
    copy_samples(folder)
    with start(s, "still", [os.path.join(folder, "scene.jps")]) as (viewer,
                                                                    window):
        before = sphere_and_back(s, viewer, window, ["ctrl+alt+p"],
                                 "Ctrl+Alt+P")

        def same_picture():
            now = screen(s)
            return bool((np.abs(now.astype(np.int16) - before).max(axis=2)
                         <= 2).mean() > 0.99)
        wait_for("Esc left another picture than the one before", same_picture)
        if viewer.poll() is not None:
            raise Failure(f"the viewer ended with {viewer.returncode}")


def from_a_list_entry(s):
    folder = os.path.join(s.work, "list")
    os.makedirs(folder)
    copy_samples(folder)
    show = write_list(folder, ["11;0;0;0;0;scene.mpo;;;",
                               "30;0;0;0;0;scene.jps;;;"])
    with start(s, "list", [show]) as (viewer, window):
        sphere_and_back(s, viewer, window, ["space"], "list entry")


def weston_part(args):
    """The Wayland scenario; 77 when it cannot run here."""
    if not shutil.which("weston") or not shutil.which("weston-screenshooter"):
        print("SKIPPED (Wayland): weston is not installed")
        return 77
    if not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-*.so"):
        print("SKIPPED (Wayland): Qt's Wayland plugin is missing")
        return 77
    with tempfile.TemporaryDirectory() as work:
        runtime = os.path.join(work, "runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime,
                   XDG_CONFIG_HOME=os.path.join(work, "config"))
        env.pop("DISPLAY", None)
        socket = "duoramic-360"
        weston = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", f"--socket={socket}",
             "--width=1280", "--height=720", "--use-pixman", "--idle-time=0",
             "--debug"], env=env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        viewer = None
        try:
            wait_for("Weston did not start", lambda: os.path.exists(
                os.path.join(runtime, socket)) or None)
            env.update(WAYLAND_DISPLAY=socket, QT_QPA_PLATFORM="wayland")
            env = viewer_env(with_leak_suppressions(env))
            copy_samples(work)
            show = write_list(work, ["SlideShow;1;;",
                                     "30;40;0;0;0;scene.jps;;;",
                                     "11;40;0;0;0;scene.mpo;;;"])
            log = open(os.path.join(work, "viewer.log"), "wb")
            viewer = subprocess.Popen([args.viewer, show], env=env, cwd=work,
                                      stdout=log, stderr=subprocess.STDOUT)
            shots = os.path.join(work, "shots")
            os.makedirs(shots)

            def shot():
                for old in glob.glob(os.path.join(shots, "*.png")):
                    os.remove(old)
                subprocess.run(["weston-screenshooter"], env=env, cwd=shots,
                               capture_output=True, timeout=60)
                found = glob.glob(os.path.join(shots, "*.png"))
                if viewer.poll() is not None:
                    raise Failure(f"the viewer ended with {viewer.returncode}")
                return (np.asarray(Image.open(found[0]).convert("RGB"))
                        if found else None)
            sphere = wait_for("Wayland: no sphere on the screen",
                              lambda: (lambda p: p if p is not None and
                                       shows_sphere(p) else None)(shot()))
            Image.fromarray(sphere).save(
                os.path.join(args.artifacts, "viewer360-wayland.png"))
            print("ok the sphere on Wayland")
            wait_for("Wayland: the show did not leave the 360 viewer",
                     lambda: (lambda p: p is not None and
                              (p.max(axis=2) > 24).mean() > 0.2 and
                              not shows_sphere(p, sphere))(shot()))
            print("ok the show went on to a still")
            return 0
        except Failure as failure:
            print("FAIL (Wayland):", failure)
            if viewer is not None:
                viewer.kill()
                viewer.wait()
                with open(os.path.join(work, "viewer.log"),
                          errors="replace") as f:
                    print(f.read()[-3000:])
            return 1
        finally:
            if viewer is not None and viewer.poll() is None:
                viewer.terminate()
                try:
                    viewer.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    viewer.kill()
            weston.terminate()
            weston.wait()


def main():
    args = parse_arguments("viewer")
    status = missing_tool(skip=("Xvfb", "openbox", "xdotool"))
    if status is not None:
        return status
    status = run_scenarios(args, [from_a_still, from_a_list_entry],
                           openbox=True)
    wayland = weston_part(args)
    if status != 0 or wayland == 1:
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

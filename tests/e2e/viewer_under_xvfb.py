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
import argparse
import os
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

SKIP = 77
SCREEN = (1280, 800)
# Generous: the viewer may be a sanitizer build on a busy machine.
TIMEOUT = 90


class Failure(Exception):
    pass


def read_xwd(data):
    """Pixels of an XWD dump (ZPixmap, 24 or 32 bits) as an RGB array."""
    header = struct.unpack(">25I", data[:100])
    header_size, _, pixmap_format, _, width, height = header[:6]
    byte_order, bits_per_pixel, bytes_per_line = header[7], header[11], header[12]
    masks = header[14:17]
    colours = header[19]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise Failure(f"unexpected XWD layout {header}")
    step = bits_per_pixel // 8
    start = header_size + colours * 12
    rows = np.frombuffer(data, np.uint8, bytes_per_line * height, start)
    rows = rows.reshape(height, bytes_per_line)[:, : width * step]
    rows = rows.reshape(height, width, step).astype(np.uint32)
    order = range(step) if byte_order == 0 else reversed(range(step))
    pixels = sum(rows[:, :, i] << (8 * n) for n, i in enumerate(order))
    channels = []
    for mask in masks:
        shift = (mask & -mask).bit_length() - 1
        channels.append(((pixels & mask) >> shift).astype(np.uint8))
    return np.dstack(channels)


class Session:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.env = None
        self.server = None
        self.references = {}

    # --- the X server -----------------------------------------------------

    def start_server(self):
        # :61 unless something holds it; then a free number further up.
        # Xvfb writes the number to -displayfd once it listens, and only if
        # the number was free, so a server of someone else is never taken
        # for ours.
        for number in [61] + list(range(161, 200)):
            if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(
                f"/tmp/.X11-unix/X{number}"
            ):
                continue
            display = f":{number}"
            ready, notify = os.pipe()
            server = subprocess.Popen(
                ["Xvfb", display, "-screen", "0", "%dx%dx24" % SCREEN,
                 "-nolisten", "tcp", "-displayfd", str(notify)],
                pass_fds=(notify,), stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            os.close(notify)
            answer = b""
            with os.fdopen(ready, "rb") as pipe:
                if select.select([pipe], [], [], TIMEOUT)[0]:
                    answer = pipe.readline()
            if answer.strip() == str(number).encode():
                self.server = server
                self.env = dict(os.environ, DISPLAY=display)
                self.env.pop("WAYLAND_DISPLAY", None)
                return display
            if server.poll() is None:
                server.kill()
            server.wait()
        raise Failure("no X display number was free for Xvfb")

    def stop_server(self):
        if self.server:
            self.server.terminate()
            try:
                self.server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()

    # --- the viewer ---------------------------------------------------------

    def start_viewer(self, name, arguments):
        config = os.path.join(self.work, name, "config")
        runtime = os.path.join(self.work, name, "runtime")
        os.makedirs(config)
        os.makedirs(runtime, mode=0o700)
        env = dict(self.env)
        env["QT_QPA_PLATFORM"] = "xcb"
        env["XDG_CONFIG_HOME"] = config
        env["XDG_RUNTIME_DIR"] = runtime
        # Leaks inside the system's D-Bus library are not ours to mend.
        suppressions = os.path.join(os.path.dirname(__file__), "lsan.supp")
        env["LSAN_OPTIONS"] = ":".join(
            filter(None, [env.get("LSAN_OPTIONS"),
                          "suppressions=" + suppressions,
                          # Full stacks, so that one-time set-up inside
                          # unloaded system modules can be recognised.
                          "fast_unwind_on_malloc=0"]))
        log = open(os.path.join(self.work, name, "viewer.log"), "wb")
        viewer = subprocess.Popen([self.args.viewer] + arguments, env=env,
                                  cwd=self.work, stdout=log,
                                  stderr=subprocess.STDOUT)
        viewer.config = config
        viewer.log = log.name
        return viewer

    def xdotool(self, *words):
        result = subprocess.run(["xdotool", *words], env=self.env,
                                capture_output=True, text=True, timeout=60)
        return result.stdout.strip() if result.returncode == 0 else None

    def wait_for_window(self, viewer):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            if viewer.poll() is not None:
                with open(viewer.log, errors="replace") as log:
                    sys.stdout.write(log.read()[-4000:])
                raise Failure(f"the viewer ended early with {viewer.returncode}")
            found = self.xdotool("search", "--onlyvisible", "--pid",
                                 str(viewer.pid))
            if found:
                window = found.split()[0]
                self.xdotool("windowfocus", "--sync", window)
                return window
            time.sleep(0.2)
        raise Failure("the viewer's window did not appear")

    def key(self, window, name):
        # Without a window manager nothing keeps the focus for us.
        self.xdotool("windowfocus", "--sync", window)
        if self.xdotool("key", name) is None:
            raise Failure(f"xdotool could not press {name}")

    def window_picture(self, window):
        """The window's pixels as the screen shows them."""
        geometry = self.xdotool("getwindowgeometry", "--shell", window)
        if geometry is None:
            raise Failure("the viewer's window is gone")
        g = dict(line.split("=", 1) for line in geometry.splitlines())
        x, y, w, h = (int(g[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        dump = subprocess.run(["xwd", "-root", "-silent"], env=self.env,
                              capture_output=True, timeout=60, check=True)
        screen = read_xwd(dump.stdout)
        return screen[max(y, 0):y + h, max(x, 0):x + w]

    def end_viewer(self, viewer, window):
        self.key(window, "Escape")
        try:
            status = viewer.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            viewer.kill()
            viewer.wait()
            raise Failure("Esc did not end the viewer")
        if status != 0:
            with open(viewer.log, errors="replace") as log:
                sys.stdout.write(log.read()[-4000:])
            raise Failure(f"the viewer ended with status {status}")

    # --- pictures -----------------------------------------------------------

    def reference(self, width, height, fmt, swap=False, path=None):
        """duoramic-cli's rendering of the sample (or `path`) at that client
        size."""
        path = path or self.args.sample
        key = (width, height, fmt, swap, path)
        if key not in self.references:
            out = os.path.join(self.work, "ref-%dx%d-%s-%d-%s.png" % (
                width, height, fmt, swap, os.path.basename(path)))
            command = [self.args.cli, "render", path, "--format",
                       fmt, "--size", f"{width}x{height}", "--screen",
                       "%dx%d" % SCREEN, "-o", out]
            if swap:
                command.append("--swap")
            env = dict(self.env, QT_QPA_PLATFORM="offscreen")
            subprocess.run(command, env=env, check=True, timeout=TIMEOUT,
                           capture_output=True)
            self.references[key] = np.asarray(Image.open(out).convert("RGB"))
        return self.references[key]

    @staticmethod
    def matches(shown, reference):
        if shown.shape != reference.shape:
            return False
        diff = np.abs(shown.astype(np.int16) - reference).max(axis=2)
        # A Python bool: wait_until tells "no answer yet" by identity.
        return bool((diff <= 2).mean() >= 0.99)

    def find_client_area(self, picture, path=None):
        """The menu bar's height, from a side-by-side picture: it is centred
        in the client area, which fills the window below the menu bar."""
        lit = (picture.max(axis=2) > 8).mean(axis=1) > 0.5
        rows = np.flatnonzero(lit)
        if len(rows) == 0:
            return None
        top, height = rows[0], rows[-1] - rows[0] + 1
        guess = 2 * int(top) + int(height) - picture.shape[0]
        h, w = picture.shape[:2]
        for menu in (guess, guess - 1, guess + 1):
            if 0 <= menu < h // 2:
                ref = self.reference(w, h - menu, "SideBySide", path=path)
                if self.matches(picture[menu:], ref):
                    return menu
        return None

    def wait_until(self, window, test, what):
        deadline = time.monotonic() + TIMEOUT
        while True:
            picture = self.window_picture(window)
            result = test(picture)
            if result is not None and result is not False:
                return result
            if time.monotonic() > deadline:
                path = os.path.join(self.args.artifacts,
                                    "viewer_under_xvfb-failure.png")
                Image.fromarray(picture).save(path)
                raise Failure(f"{what} (last screen saved as {path})")
            time.sleep(0.3)


def sane(picture):
    """A picture, not a blank or garbled window."""
    lit = (picture.max(axis=2) > 8).mean()
    return 0.05 < lit and picture.std() > 10 and len(
        np.unique(picture.reshape(-1, 3)[::7], axis=0)) > 100


def keys_scenario(s):
    viewer = s.start_viewer("keys", [s.args.sample])
    try:
        window = s.wait_for_window(viewer)
        s.key(window, "F9")
        menu = s.wait_until(window, s.find_client_area,
                            "F9 did not show the two views side by side")

        def shows(fmt, swap=False):
            def test(picture):
                client = picture[menu:]
                h, w = client.shape[:2]
                return s.matches(client, s.reference(w, h, fmt, swap))
            return test

        side_by_side = s.window_picture(window)[menu:]
        s.key(window, "F7")
        s.wait_until(window, shows("DuboisAnaglyph"),
                     "F7 did not show the Dubois anaglyph")
        s.key(window, "F9")
        s.wait_until(window, shows("SideBySide"), "F9 did not come back")
        s.key(window, "x")
        s.wait_until(window, shows("SideBySide", swap=True),
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
    finally:
        if viewer.poll() is None:
            viewer.kill()
            viewer.wait()


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

    viewer = s.start_viewer("stepping", [first])
    try:
        window = s.wait_for_window(viewer)
        s.key(window, "F9")
        menu = s.wait_until(window, lambda p: s.find_client_area(p, first),
                            "the first picture is not shown")

        def shows(path):
            def test(picture):
                client = picture[menu:]
                h, w = client.shape[:2]
                return s.matches(client, s.reference(w, h, "SideBySide",
                                                     path=path))
            return test

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
        title = s.xdotool("getwindowname", window) or ""
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
    finally:
        if viewer.poll() is None:
            viewer.kill()
            viewer.wait()


def demo_list_scenario(s):
    """Without arguments the viewer plays the list beside its executable."""
    viewer = s.start_viewer("demo", [])
    folder = os.path.dirname(os.path.realpath(s.args.viewer))
    try:
        window = s.wait_for_window(viewer)
        deadline = time.monotonic() + TIMEOUT
        while True:
            title = s.xdotool("getwindowname", window) or ""
            if folder + "/scene" in title:
                break
            if time.monotonic() > deadline:
                raise Failure(f"the demo list did not play; title {title!r}")
            time.sleep(0.1)
        s.wait_until(window, sane, "the demo list shows no picture")
        s.end_viewer(viewer, window)
    finally:
        if viewer.poll() is None:
            viewer.kill()
            viewer.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--viewer", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--artifacts", default=os.getcwd())
    args = parser.parse_args()
    if not shutil.which("Xvfb"):
        print("SKIP: Xvfb is not installed (scripts/setup.sh installs it)")
        return SKIP
    for tool in ("xdotool", "xwd"):
        if not shutil.which(tool):
            print(f"FAIL: {tool} is missing; run scripts/setup.sh")
            return 1
    for name in ("viewer", "cli", "sample"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    with tempfile.TemporaryDirectory() as work:
        s = Session(args, work)
        try:
            print("display", s.start_server())
            for scenario in (keys_scenario, stepping_scenario,
                             demo_list_scenario):
                scenario(s)
                print("ok", scenario.__name__)
        except Failure as failure:
            print("FAIL:", failure)
            return 1
        finally:
            s.stop_server()
    return 0


if __name__ == "__main__":
    sys.exit(main())

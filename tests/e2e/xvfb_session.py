"""What the end-to-end scripts share: a virtual X server (and a window
manager on it), the viewer started there with its own settings and log,
key presses with xdotool, screenshots, duoramic-cli's reference renderings,
and the start-up and clean-up of each run: the arguments, the tools a
script needs (missing ones skip it with exit 77 or fail it), and the
viewer, window manager and server ended whatever happens.
"""
import argparse
import contextlib
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

SKIP = 77  # ctest's SKIP_RETURN_CODE for these scripts
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


def with_leak_suppressions(env):
    """`env` with LeakSanitizer told to pass over leaks inside the system's
    D-Bus library, which are not ours to mend."""
    suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "lsan.supp")
    env["LSAN_OPTIONS"] = ":".join(
        filter(None, [env.get("LSAN_OPTIONS"),
                      "suppressions=" + suppressions,
                      # Full stacks, so that one-time set-up inside
                      # unloaded system modules can be recognised.
                      "fast_unwind_on_malloc=0"]))
    return env


def wait_for(what, probe):
    """probe()'s first answer other than None or False; Failure(what) when
    none comes in time."""
    deadline = time.monotonic() + TIMEOUT
    while True:
        value = probe()
        if value is not None and value is not False:
            return value
        if time.monotonic() > deadline:
            raise Failure(what)
        time.sleep(0.2)


class Session:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.env = None
        self.server = None
        self.manager = None
        self.references = {}
        # Names the screenshot a failed wait_until leaves behind.
        self.script = os.path.splitext(os.path.basename(sys.argv[0]))[0]

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

    def start_window_manager(self, config=None):
        """openbox, once it has announced itself on the root window."""
        command = ["openbox"] + (["--config-file", config] if config else [])
        self.manager = subprocess.Popen(command, env=self.env,
                                        stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

        def running():
            result = subprocess.run(
                ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                capture_output=True, text=True)
            return True if "window id" in result.stdout else None
        wait_for("openbox did not start", running)

    def stop(self):
        """The window manager and the server, whichever were started."""
        if self.manager:
            self.manager.terminate()
            self.manager.wait()
        if self.server:
            self.server.terminate()
            try:
                self.server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()

    # --- the viewer ---------------------------------------------------------

    def start_viewer(self, name, arguments, adjust=None):
        config = os.path.join(self.work, name, "config")
        runtime = os.path.join(self.work, name, "runtime")
        os.makedirs(config)
        os.makedirs(runtime, mode=0o700)
        env = dict(self.env)
        env["QT_QPA_PLATFORM"] = "xcb"
        env["XDG_CONFIG_HOME"] = config
        env["XDG_RUNTIME_DIR"] = runtime
        with_leak_suppressions(env)
        if adjust:
            env = adjust(env)
        log = open(os.path.join(self.work, name, "viewer.log"), "wb")
        viewer = subprocess.Popen([self.args.viewer] + arguments, env=env,
                                  cwd=self.work, stdout=log,
                                  stderr=subprocess.STDOUT)
        viewer.config = config
        viewer.log = log.name
        return viewer

    @contextlib.contextmanager
    def running_viewer(self, name, arguments, adjust=None):
        """The viewer started on `arguments` and its window, once shown, as
        (viewer, window).  A Failure inside shows the end of the viewer's
        log; the viewer is killed if it still runs at the end."""
        viewer = self.start_viewer(name, arguments, adjust)
        try:
            yield viewer, self.wait_for_window(viewer)
        except Failure:
            with open(viewer.log, errors="replace") as log:
                sys.stdout.write(log.read()[-4000:])
            raise
        finally:
            if viewer.poll() is None:
                viewer.kill()
                viewer.wait()

    def xdotool(self, *words):
        result = subprocess.run(["xdotool", *words], env=self.env,
                                capture_output=True, text=True, timeout=60)
        return result.stdout.strip() if result.returncode == 0 else None

    def wait_for_window(self, viewer):
        def shown():
            if viewer.poll() is not None:
                raise Failure(f"the viewer ended early with {viewer.returncode}")
            found = self.xdotool("search", "--onlyvisible", "--pid",
                                 str(viewer.pid))
            return found.split()[0] if found else None
        window = wait_for("the viewer's window did not appear", shown)
        self.xdotool("windowfocus", "--sync", window)
        return window

    def key(self, window, name):
        # Without a window manager nothing keeps the focus for us.
        self.xdotool("windowfocus", "--sync", window)
        if self.xdotool("key", name) is None:
            raise Failure(f"xdotool could not press {name}")

    def window_title(self, window):
        return self.xdotool("getwindowname", window) or ""

    def wait_for_title(self, window, text, what):
        """Until the window's title holds `text`."""
        try:
            wait_for(what, lambda: text in self.window_title(window))
        except Failure:
            raise Failure(f"{what}; title {self.window_title(window)!r}")

    def screen_part(self, x, y, w, h):
        """That rectangle of the screen's pixels."""
        dump = subprocess.run(["xwd", "-root", "-silent"], env=self.env,
                              capture_output=True, timeout=60, check=True)
        return read_xwd(dump.stdout)[max(y, 0):y + h, max(x, 0):x + w]

    def window_picture(self, window):
        """The window's pixels as the screen shows them."""
        geometry = self.xdotool("getwindowgeometry", "--shell", window)
        if geometry is None:
            raise Failure("the viewer's window is gone")
        g = dict(line.split("=", 1) for line in geometry.splitlines())
        return self.screen_part(*(int(g[k]) for k in ("X", "Y", "WIDTH",
                                                      "HEIGHT")))

    def end_viewer(self, viewer, window):
        self.key(window, "Escape")
        try:
            status = viewer.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            viewer.kill()
            viewer.wait()
            raise Failure("Esc did not end the viewer")
        if status != 0:
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

    def shows(self, menu, fmt="SideBySide", swap=False, path=None):
        """A test for wait_until: the client area below a menu bar of
        `menu` rows is duoramic-cli's rendering of the sample (or `path`)."""
        def test(picture):
            client = picture[menu:]
            h, w = client.shape[:2]
            return self.matches(client, self.reference(w, h, fmt, swap, path))
        return test

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
                                    f"{self.script}-failure.png")
                Image.fromarray(picture).save(path)
                raise Failure(f"{what} (last screen saved as {path})")
            time.sleep(0.3)




def parse_arguments(*names):
    """--NAME, required, for each of `names`, and --artifacts (where
    screenshots go).  The viewer, the CLI and the sample are made absolute
    paths, None where the script takes no such argument."""
    parser = argparse.ArgumentParser()
    for name in names:
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--artifacts", default=os.getcwd())
    args = parser.parse_args()
    for name in ("viewer", "cli", "sample"):
        path = getattr(args, name, None)
        setattr(args, name, os.path.abspath(path) if path else None)
    return args


def missing_tool(skip=(), fail=()):
    """The exit status when a tool is missing, after saying which: SKIP for
    one without which the test cannot run here at all, 1 for one that
    scripts/setup.sh installs along with those; None when all are there."""
    for tool in skip:
        if not shutil.which(tool):
            print(f"SKIP: {tool} is not installed "
                  f"(scripts/setup.sh installs it)")
            return SKIP
    for tool in fail:
        if not shutil.which(tool):
            print(f"FAIL: {tool} is missing; run scripts/setup.sh")
            return 1
    return None


def run_scenarios(args, scenarios, openbox=False, openbox_config=None):
    """Each scenario(session) in turn on one new X server (under openbox
    if asked), saying ok and its name when it passes: the exit status, 1
    at the first Failure.  The server and openbox end whatever happens."""
    with tempfile.TemporaryDirectory() as work:
        s = Session(args, work)
        try:
            print("display", s.start_server())
            if openbox:
                s.start_window_manager(openbox_config)
            for scenario in scenarios:
                scenario(s)
                print("ok", scenario.__name__)
        except Failure as failure:
            print("FAIL:", failure)
            return 1
        finally:
            s.stop()
    return 0


def script_main(names, scenarios, skip=(), fail=(), **options):
    """A script's whole run: its arguments (`names`), the tools it needs
    (see missing_tool), then run_scenarios; the exit status."""
    args = parse_arguments(*names)
    status = missing_tool(skip, fail)
    if status is not None:
        return status
    return run_scenarios(args, scenarios, **options)

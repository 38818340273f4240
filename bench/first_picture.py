#!/usr/bin/env python3
"""Time from launch to the first picture on screen, read from the screen.

    bash scripts/setup.sh --bench     # Xvfb, openbox, feh, qimgv, python3-xlib
    /usr/bin/python3 bench/first_picture.py [RUNS]

Starts its own Xvfb (1920x1080, black root) with openbox when there is one,
then launches, in turn, the viewer on a 2 x 12-megapixel camera MPO and the
reference viewers (qimgv, feh; each skipped when not installed) on one view
of the same file, byte for byte as it stands in the MPO.  From the moment of
launch a small patch at the screen's centre is read through Xlib until it
shows picture texture (many distinct colours: an empty window or the root is
one flat colour).  The same is done with the small sample scene.mpo against
its left view.  Runs alternate between the programs so that load on a shared
machine falls on all alike; the medians and the ratios to each reference
are printed.

RUNS (default 9), DUORAMIC_VIEWER (default build/release/duoramic, built
when missing), DUORAMIC_BASELINE (another build of the viewer, e.g. of an
older commit, timed in the same alternation as "baseline"), PHOTOS (a folder holding camera01.mpo and camera01_1.jpg made
by bench/make_camera_mpo.py; made here otherwise).
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
PATCH = 24          # side of the centre patch read on each poll
TEXTURE = 12        # distinct colours that make the patch "a picture"
TIMEOUT = 20.0      # seconds before a launch counts as failed

try:
    from Xlib import X, display as xdisplay
except ImportError:
    sys.exit("first_picture: python3-xlib is missing; run: "
             "bash scripts/setup.sh --bench")


def viewer_program():
    program = os.environ.get("DUORAMIC_VIEWER")
    if program:
        return program
    build = os.path.join(ROOT, "build", "release")
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "duoramic", "-j",
                    os.environ.get("JOBS", "2")], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "duoramic")


def start_server(work):
    """Xvfb on a free display number, and openbox on it when installed."""
    if not shutil.which("Xvfb"):
        sys.exit("first_picture: Xvfb is missing; run: "
                 "bash scripts/setup.sh --bench")
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1920x1080x24",
         "-br", "-nolisten", "tcp"], pass_fds=(write_end,),
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        sys.exit("first_picture: Xvfb did not start")
    os.environ["DISPLAY"] = ":" + number
    children = [server]
    if shutil.which("openbox"):
        children.append(subprocess.Popen(
            ["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        time.sleep(0.5)
    return children


class Screen:
    def __init__(self):
        self.display = xdisplay.Display()
        self.root = self.display.screen().root
        geometry = self.root.get_geometry()
        self.x = geometry.width // 2 - PATCH // 2
        self.y = geometry.height // 2 - PATCH // 2

    def patch(self):
        image = self.root.get_image(self.x, self.y, PATCH, PATCH,
                                    X.ZPixmap, 0xFFFFFFFF)
        data = image.data
        return {bytes(data[i:i + 3]) for i in range(0, len(data), 4)}

    def flat(self):
        return len(self.patch()) < TEXTURE


def time_launch(screen, command, env):
    """Seconds from launch until the screen's centre shows a picture."""
    deadline = time.monotonic() + 5
    while not screen.flat() and time.monotonic() < deadline:
        time.sleep(0.05)  # the previous window still going away
    start = time.perf_counter()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    elapsed = None
    while time.perf_counter() - start < TIMEOUT:
        if not screen.flat():
            elapsed = time.perf_counter() - start
            break
        if process.poll() is not None:
            break
        time.sleep(0.001)
    process.terminate()
    try:
        process.wait(5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    return elapsed


def contestants(work, viewer, stereo, single):
    config = os.path.join(work, "config")
    os.makedirs(os.path.join(config, "Orlith"), exist_ok=True)
    # No transition: the picture is drawn whole at once.
    with open(os.path.join(config, "Orlith", "duoramic.conf"), "w") as f:
        f.write("[General]\nnEFType=0\n")
    env = dict(os.environ, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="xcb")
    programs = [("duoramic", [viewer, stereo], env)]
    baseline = os.environ.get("DUORAMIC_BASELINE")
    if baseline:
        programs.append(("baseline", [baseline, stereo], env))
    # The references run with a fresh configuration of their own as well.
    reference_env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "ref"))
    if shutil.which("qimgv"):
        programs.append(("qimgv", ["qimgv", single], reference_env))
    else:
        print("first_picture: qimgv is not installed; skipped")
    if shutil.which("feh"):
        programs.append(("feh", ["feh", single], reference_env))
    else:
        print("first_picture: feh is not installed; skipped")
    return programs


def run_case(screen, label, programs, runs):
    times = {name: [] for name, _, _ in programs}
    for _ in range(runs):
        for name, command, env in programs:
            elapsed = time_launch(screen, command, env)
            if elapsed is not None:
                times[name].append(elapsed * 1000)
    medians = {}
    print(label)
    for name, values in times.items():
        if not values:
            print("  %-9s no picture seen within %.0f s" % (name, TIMEOUT))
            continue
        medians[name] = statistics.median(values)
        print("  %-9s median %6.1f ms  (min %.1f, max %.1f, %d runs)"
              % (name, medians[name], min(values), max(values), len(values)))
    if "duoramic" in medians:
        for name, value in medians.items():
            if name != "duoramic":
                print("  duoramic / %-6s %.2f" % (name, medians["duoramic"] / value))


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else int(os.environ.get("RUNS", 9))
    viewer = viewer_program()
    work = tempfile.mkdtemp(prefix="first_picture.")
    children = []
    try:
        photos = os.environ.get("PHOTOS")
        if not photos:
            photos = os.path.join(work, "photos")
            subprocess.run([sys.executable,
                            os.path.join(ROOT, "bench", "make_camera_mpo.py"),
                            photos, "1"], check=True)
        samples = os.path.join(ROOT, "resources", "samples")
        children = start_server(work)
        screen = Screen()
        if not screen.flat():
            sys.exit("first_picture: the empty screen is not flat")
        with open("/proc/cpuinfo") as f:
            cpu = next((l.split(":", 1)[1].strip() for l in f
                        if l.startswith("model name")), "unknown processor")
        print("processor: %s, %d runs each" % (cpu, runs))
        run_case(screen, "2 x 12 MP camera MPO (references: its first view)",
                 contestants(work, viewer, os.path.join(photos, "camera01.mpo"),
                             os.path.join(photos, "camera01_1.jpg")), runs)
        run_case(screen, "scene.mpo, 2 x 960x720 (references: scene_L.jpg)",
                 contestants(work, viewer, os.path.join(samples, "scene.mpo"),
                             os.path.join(samples, "scene_L.jpg")), runs)
    finally:
        for child in reversed(children):
            child.terminate()
            child.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

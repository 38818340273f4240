#!/usr/bin/env python3
"""Thumbnails of stereo files through a real file manager's thumbnail service.

Installs the build into a scratch prefix, starts a private D-Bus session bus
and tumbler (the thumbnail service of Thunar and other GTK file managers)
with that prefix in XDG_DATA_DIRS, asks
org.freedesktop.thumbnails.Thumbnailer1 to queue an MPO (under a .jpg name,
as cameras' files are often renamed), a JPS and a PNS, and checks that each
thumbnail appears in $XDG_CACHE_HOME/thumbnails/normal/<md5 of the URI>.png
at tumbler's 128-pixel size showing the left view only (Pillow's reduction
of the left view is the reference).  tumbler reads the thumbnailer's output
through a file it made itself, so a thumbnailer that renames a new file over
it leaves nothing.
Exits 77 (skipped) when tumbler, dbus-daemon or gdbus is missing.
"""
import glob
import hashlib
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

import numpy as np
from PIL import Image

from desktop_files import make_inputs
from xvfb_session import with_leak_suppressions

failures = []


def expect(ok, what):
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def tumblerd():
    found = glob.glob("/usr/lib/*/tumbler-1/tumblerd")
    return found[0] if found else None


def start_bus(work, env):
    """A private session bus; returns (process, address)."""
    bus = subprocess.Popen(
        ["dbus-daemon", "--session", "--nofork", "--nopidfile",
         "--address=unix:path=" + os.path.join(work, "bus"),
         "--print-address=1"],
        stdout=subprocess.PIPE, text=True, env=env)
    address = bus.stdout.readline().strip()
    return bus, address


def gdbus_call(env, *words):
    return subprocess.run(["gdbus", "call", "--session", *words],
                          capture_output=True, text=True, env=env, timeout=60)


def wait_for_service(env, name, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        answer = gdbus_call(env, "--dest", "org.freedesktop.DBus",
                            "--object-path", "/org/freedesktop/DBus",
                            "--method", "org.freedesktop.DBus.NameHasOwner",
                            name)
        if "true" in answer.stdout:
            return True
        time.sleep(0.2)
    return False


def cache_path(env, path):
    uri = "file://" + urllib.parse.quote(os.path.abspath(path))
    name = hashlib.md5(uri.encode()).hexdigest() + ".png"
    return uri, os.path.join(env["XDG_CACHE_HOME"], "thumbnails", "normal",
                             name)


def check_thumbnail(path, left, thumb_path):
    name = os.path.basename(path)
    thumb = Image.open(thumb_path)
    scale = min(1.0, 128 / max(left.size))
    want = (round(left.width * scale), round(left.height * scale))
    expect(max(thumb.size) == max(want) and
           abs(thumb.width - want[0]) <= 1 and
           abs(thumb.height - want[1]) <= 1,
           f"{name}: {thumb.size}, the left view's aspect at {want}")
    got = np.asarray(thumb.convert("RGB"), np.float32)
    reference = np.asarray(left.resize(thumb.size, Image.BOX), np.float32)
    if got.shape == reference.shape:
        difference = float(np.abs(got - reference).mean())
        expect(difference < 6.0, f"{name}: matches Pillow's reduction of the "
               f"left view (mean difference {difference:.2f})")
    expect(bool((got[..., 0] > got[..., 2] + 60).all()),
           f"{name}: no pixel of the right view")


def main():
    import argparse
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    args = parser.parse_args()
    service = tumblerd()
    for tool, have in (("tumblerd (tumbler)", service),
                       ("dbus-daemon (dbus)", _which("dbus-daemon")),
                       ("gdbus (libglib2.0-bin)", _which("gdbus")),
                       ("update-mime-database (shared-mime-info)",
                        _which("update-mime-database"))):
        if not have:
            print(f"SKIPPED: {tool} is not installed")
            return 77
    with tempfile.TemporaryDirectory() as work:
        prefix = os.path.join(work, "prefix")
        installed = subprocess.run(
            ["cmake", "--install", os.path.abspath(args.build), "--prefix",
             prefix], capture_output=True, text=True)
        if installed.returncode != 0:
            print("FAIL: cmake --install:", installed.stderr[-2000:])
            return 1
        share = os.path.join(prefix, "share")
        subprocess.run(["update-mime-database", os.path.join(share, "mime")],
                       check=True, capture_output=True)
        env = with_leak_suppressions(dict(os.environ))
        home = os.path.join(work, "home")
        os.makedirs(home)
        env.update({
            "HOME": home,
            "XDG_CACHE_HOME": os.path.join(work, "cache"),
            "XDG_CONFIG_HOME": os.path.join(work, "config"),
            "XDG_DATA_HOME": os.path.join(work, "data"),
            "XDG_DATA_DIRS": share + os.pathsep +
            env.get("XDG_DATA_DIRS", "/usr/local/share:/usr/share"),
            "PATH": os.path.join(prefix, "bin") + os.pathsep + env["PATH"],
        })
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        files = os.path.join(work, "pictures")
        os.makedirs(files)
        inputs = make_inputs(files)[:3]

        bus, address = start_bus(work, env)
        env["DBUS_SESSION_BUS_ADDRESS"] = address
        log = open(os.path.join(work, "tumblerd.log"), "w+")
        thumbnailer = subprocess.Popen([service], env=env, stdout=log,
                                       stderr=subprocess.STDOUT)
        try:
            name = "org.freedesktop.thumbnails.Thumbnailer1"
            if not wait_for_service(env, name):
                print("FAIL: tumblerd did not take", name)
                return 1
            uris, targets = [], []
            for path, left in inputs:
                uri, target = cache_path(env, path)
                uris.append(uri)
                targets.append(target)
            mimes = ["image/x-mpo", "image/x-jps", "image/x-pns"]
            queued = gdbus_call(
                env, "--dest", name, "--object-path",
                "/org/freedesktop/thumbnails/Thumbnailer1", "--method",
                name + ".Queue", str(uris), str(mimes), "normal", "default",
                "0")
            expect(queued.returncode == 0,
                   f"the service takes the queue ({queued.stderr.strip()})")
            end = time.monotonic() + 120
            while (time.monotonic() < end and
                   not all(os.path.isfile(t) for t in targets)):
                time.sleep(0.25)
            for (path, left), target in zip(inputs, targets):
                made = os.path.isfile(target)
                expect(made, f"{os.path.basename(path)}: tumbler stored a "
                       "thumbnail in the cache")
                if made:
                    check_thumbnail(path, left, target)
        finally:
            thumbnailer.terminate()
            thumbnailer.wait(timeout=30)
            bus.terminate()
            bus.wait(timeout=30)
            if failures:
                log.seek(0)
                print("tumblerd said:\n" + log.read()[-3000:])
            log.close()
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


def _which(program):
    from shutil import which
    return which(program)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""What `cmake --install` gives file managers and software centres.

Installs the build into a scratch prefix, then:
- runs the installed freedesktop thumbnailer as a file manager does, its own
  Exec line with %s, %i and %o filled in and the programs found on PATH, on
  stereo files Pillow writes (an MPO without the .mpo name, a JPS, a PNS, a
  camera-sized MPO), and checks each PNG against Pillow's own reduction of
  the left view; a damaged file fails without leaving a PNG;
- validates the AppStream metainfo with appstreamcli, as installed and as
  written with a homepage (with the screenshots, which must exist), and
  checks that it launches the installed desktop entry and lists its MIME
  types.
Exits 77 (skipped) when appstreamcli is missing.
"""
import configparser
import os
import re
import shlex
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

import numpy as np
from PIL import Image

from xvfb_session import missing_tool, with_leak_suppressions

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "scripts"))
from make_samples import build_mpo  # noqa: E402

STEREO_TYPES = {"image/x-mpo", "image/x-jps", "image/x-pns", "image/heic",
                "image/heif"}
failures = []


def expect(ok, what):
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True,
                          timeout=300, **kwargs)


def view(width, height, red, seed):
    """A textured view, reddish or bluish."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    pixels = np.zeros((height, width, 3), np.float32)
    main, other = (0, 2) if red else (2, 0)
    pixels[..., main] = 170 + 60 * np.sin(x / 37.0) * np.cos(y / 23.0)
    pixels[..., 1] = 40 + 30 * np.sin((x + y) / 50.0)
    pixels[..., other] = 30
    pixels += rng.normal(0, 6, pixels.shape)
    return Image.fromarray(np.clip(pixels, 0, 255).astype(np.uint8))


def side_by_side(left, right):
    whole = Image.new("RGB", (left.width + right.width, left.height))
    whole.paste(left, (0, 0))
    whole.paste(right, (left.width, 0))
    return whole


def jpeg_bytes(image):
    import io
    out = io.BytesIO()
    image.save(out, "JPEG", quality=92)
    return out.getvalue()


def make_inputs(work):
    """(path, left view as Pillow decodes it) for each stereo file."""
    inputs = []
    left, right = view(800, 600, True, 1), view(800, 600, False, 2)
    mpo = os.path.join(work, "camera-file.jpg")  # a camera MPO, renamed
    with open(mpo, "wb") as f:
        f.write(build_mpo(jpeg_bytes(left), jpeg_bytes(right)))
    inputs.append((mpo, Image.open(mpo).convert("RGB")))
    jps = os.path.join(work, "pair.jps")
    side_by_side(view(1001, 700, True, 3), view(1001, 700, False, 4)).save(
        jps, "JPEG", quality=92)
    inputs.append((jps, Image.open(jps).convert("RGB").crop((0, 0, 1001, 700))))
    pns = os.path.join(work, "pair.pns")
    side_by_side(view(300, 500, True, 5), view(300, 500, False, 6)).save(
        pns, "PNG")
    inputs.append((pns, Image.open(pns).convert("RGB").crop((0, 0, 300, 500))))
    big_left, big_right = view(4000, 3000, True, 7), view(4000, 3000, False, 8)
    big = os.path.join(work, "big.mpo")
    with open(big, "wb") as f:
        f.write(build_mpo(jpeg_bytes(big_left), jpeg_bytes(big_right)))
    inputs.append((big, Image.open(big).convert("RGB")))
    return inputs


def exec_argv(entry, size, source, out):
    words = shlex.split(entry["Exec"])
    fill = {"%s": str(size), "%i": source, "%o": out}
    return [fill.get(w, w) for w in words]


def check_thumbnailer(prefix, work, env):
    path = os.path.join(prefix, "share/thumbnailers/duoramic.thumbnailer")
    expect(os.path.isfile(path), "the thumbnailer entry is installed")
    if not os.path.isfile(path):
        return
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(path)
    entry = parser["Thumbnailer Entry"]
    types = set(filter(None, entry["MimeType"].split(";")))
    expect(STEREO_TYPES <= types,
           f"it takes MPO, JPS, PNS and HEIF ({types})")
    expect(os.access(os.path.join(prefix, "bin", entry["TryExec"]), os.X_OK),
           f"its TryExec {entry['TryExec']} is installed")
    for source, left in make_inputs(work):
        for size in (128, 256):
            out = os.path.join(work, f"thumb-{size}.png")
            if os.path.exists(out):
                os.remove(out)
            name = f"{os.path.basename(source)} at {size}"
            result = run(exec_argv(entry, size, source, out), env=env)
            expect(result.returncode == 0 and os.path.isfile(out),
                   f"{name}: the Exec line writes a PNG "
                   f"({result.returncode}: {result.stderr.strip()[:200]})")
            if result.returncode != 0 or not os.path.isfile(out):
                continue
            thumb = Image.open(out)
            scale = min(1.0, size / max(left.size))
            want = (round(left.width * scale), round(left.height * scale))
            expect(thumb.mode == "RGB" and max(thumb.size) == max(want) and
                   abs(thumb.width - want[0]) <= 1 and
                   abs(thumb.height - want[1]) <= 1,
                   f"{name}: {thumb.size} {thumb.mode}, the left view's "
                   f"aspect at {want}")
            got = np.asarray(thumb.convert("RGB"), np.float32)
            reference = np.asarray(left.resize(thumb.size, Image.BOX),
                                   np.float32)
            difference = float(np.abs(got - reference).mean())
            expect(difference < 6.0, f"{name}: matches Pillow's reduction of "
                   f"the left view (mean difference {difference:.2f})")
            expect(bool((got[..., 0] > got[..., 2] + 60).all()),
                   f"{name}: no pixel of the right view")
    broken = os.path.join(work, "broken.jps")
    with open(broken, "wb") as f:
        f.write(b"\xff\xd8\xff\xe0\x00\x10JFIF\x00")
    out = os.path.join(work, "broken.png")
    result = run(exec_argv(entry, 128, broken, out), env=env)
    expect(result.returncode == 1 and not os.path.exists(out) and
           "broken.jps" in result.stderr,
           f"a damaged file fails, named, with no PNG ({result.returncode}: "
           f"{result.stderr.strip()[:200]})")


def validate(path, what):
    result = run(["appstreamcli", "validate", "--no-net", "--strict", path])
    expect(result.returncode == 0,
           f"appstreamcli validate, {what}: {result.stdout.strip()[-400:]}")


def check_metainfo(prefix, work):
    path = os.path.join(prefix, "share/metainfo/org.duoramic.Duoramic.metainfo.xml")
    expect(os.path.isfile(path), "the metainfo is installed")
    if not os.path.isfile(path):
        return
    validate(path, "as installed")
    root = ET.parse(path).getroot()
    launchable = root.findtext("launchable")
    expect(os.path.isfile(os.path.join(prefix, "share/applications",
                                       launchable or "-")),
           f"it launches an installed desktop entry ({launchable})")
    desktop = configparser.ConfigParser(interpolation=None)
    desktop.optionxform = str
    desktop.read(os.path.join(prefix, "share/applications/org.duoramic.Duoramic.desktop"))
    entry_types = set(filter(None, desktop["Desktop Entry"]["MimeType"]
                             .split(";")))
    listed = {m.text for m in root.iter("mediatype")}
    expect(listed == entry_types,
           f"its media types are the desktop entry's ({listed})")
    # With a homepage: the link and the screenshots, which must exist.
    published = os.path.join(work, "published.metainfo.xml")
    made = run(["cmake", "-DMETAINFO_OUT=" + published,
                "-DMETAINFO_HOMEPAGE=https://example.org/duoramic/",
                "-P", os.path.join(SOURCE, "packaging/metainfo.cmake")])
    expect(made.returncode == 0, f"metainfo.cmake runs ({made.stderr[-300:]})")
    if made.returncode != 0:
        return
    validate(published, "with a homepage")
    images = [i.text for i in ET.parse(published).getroot().iter("image")]
    shots = os.path.join(SOURCE, "docs/screenshots")
    want = sorted(n for n in os.listdir(shots) if n.endswith(".png")) \
        if os.path.isdir(shots) else []
    names = sorted(re.sub(r".*/", "", i) for i in images)
    expect(names == want and all(i.startswith(
        "https://example.org/duoramic/docs/screenshots/") for i in images),
        f"every screenshot of docs/screenshots is listed ({names})")


def main():
    import argparse
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    args = parser.parse_args()
    status = missing_tool(skip=("appstreamcli",))
    if status is not None:
        return status
    with tempfile.TemporaryDirectory() as work:
        prefix = os.path.join(work, "prefix")
        installed = run(["cmake", "--install", os.path.abspath(args.build),
                         "--prefix", prefix])
        if installed.returncode != 0:
            print("FAIL: cmake --install:", installed.stderr[-2000:])
            return 1
        # As a file manager runs it: the programs from PATH.
        env = with_leak_suppressions(dict(os.environ))
        env["PATH"] = os.path.join(prefix, "bin") + os.pathsep + env["PATH"]
        check_thumbnailer(prefix, work, env)
        check_metainfo(prefix, work)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

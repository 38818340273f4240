#!/usr/bin/env python3
"""duoramic-cli align and the stereo files it and convert write, as other
programs see them.

A real photograph and a copy of it misaligned by a known transform (made
here with Pillow, the oracle) are measured; the corrected MPO is checked
with exiftool (both pictures typed as a disparity pair, offsets on the
second picture) and Pillow (both frames open), and read back by our own
reader with the views Pillow decodes.  A flat pair is refused and nothing
written; the user's originals are never written over.  Exit 77 (skipped)
when the photograph or exiftool is missing.
"""
import hashlib
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

from xvfb_session import parse_arguments, with_leak_suppressions

PHOTO = "jpeg/ci_oregon_DSC_0307_camera_com_trailing.jpg"
DISPARITY = 10.0


def misaligned(photo, rotation_deg, vertical, scale):
    """The right view: a left point (x, y) lands at the model's height and
    DISPARITY pixels to the right of where the similarity puts it."""
    w, h = photo.size
    cx, cy = w / 2, h / 2  # Pillow's coordinates run over pixel edges
    t = math.radians(rotation_deg)
    c, s = math.cos(t), math.sin(t)
    a, b = c / scale, s / scale
    d, e = -s / scale, c / scale
    x0, y0 = cx + DISPARITY, cy + vertical
    data = (a, b, cx - a * x0 - b * y0, d, e, cy - d * x0 - e * y0)
    return photo.transform(photo.size, Image.AFFINE, data, Image.BICUBIC)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    args = parse_arguments("cli", "testdata")
    env = with_leak_suppressions(dict(os.environ))
    photo_path = os.path.join(args.testdata, PHOTO)
    if not os.path.exists(photo_path):
        print(f"skipped: {photo_path} is missing (set DUORAMIC_TESTDATA)")
        return 77
    if not shutil.which("exiftool"):
        print("skipped: exiftool is missing (bash scripts/setup.sh)")
        return 77
    failures = []

    def expect(ok, what):
        print(("ok: " if ok else "FAILED: ") + what)
        if not ok:
            failures.append(what)

    def run(*cli_args):
        return subprocess.run([args.cli, *cli_args], capture_output=True,
                              text=True, timeout=600, env=env)

    work = tempfile.mkdtemp(prefix="align-cli-")
    # A 12-megapixel camera-like view too (bench/'s generator), as JPEGs:
    # measured without -o, align then decodes them at a quarter of the size.
    bench = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                         "..", "bench", "make_camera_mpo.py")
    subprocess.run([sys.executable, bench, work, "1"], check=True,
                   capture_output=True)
    camera = os.path.join(work, "camera01_1.jpg")
    cases = [(camera, (0.25, -2.0, 1.003)),
             (photo_path, (0.3, 2.5, 1.004)),
             (photo_path, (-0.35, -3.0, 0.995))]
    for source, known in cases:
        photo = Image.open(source).convert("RGB")
        kind = "jpg" if source == camera else "png"
        left = os.path.join(work, "left." + kind)
        right = os.path.join(work, "right." + kind)
        options = {"quality": 95} if kind == "jpg" else {"compress_level": 1}
        photo.save(left, **options)
        rotation, vertical, scale = known
        misaligned(photo, *known).save(right, **options)
        out = os.path.join(work, "aligned.mpo")
        if kind == "jpg":
            # Measured alone (reduced decoding), then measured and written.
            alone = run("align", left, right, "--json")
            with_output = run("align", left, right, "--json", "-o", out)
            if alone.returncode == 0 and with_output.returncode == 0:
                a = json.loads(alone.stdout)
                b = json.loads(with_output.stdout)
                expect(abs(a["rotation_deg"] - b["rotation_deg"]) <= 0.02 and
                       abs(a["vertical_px"] - b["vertical_px"]) <= 0.25 and
                       abs(a["scale"] - b["scale"]) <= 0.001,
                       f"{known}: reduced decoding measures as the full "
                       f"views do ({a} / {b})")
            result = alone
        else:
            result = run("align", left, right, "--json", "-o", out)
        expect(result.returncode == 0, f"align {known}: exit 0 "
               f"({result.returncode}: {result.stderr.strip()})")
        if result.returncode != 0:
            continue
        got = json.loads(result.stdout)
        t = math.radians(rotation)
        expect(abs(got["rotation_deg"] - rotation) <= 0.05,
               f"{known}: rotation {got['rotation_deg']}")
        expect(abs(got["vertical_px"] - vertical) <= 0.5,
               f"{known}: vertical {got['vertical_px']}")
        expect(abs(got["scale"] - scale) <= 0.002,
               f"{known}: scale {got['scale']}")
        expected = DISPARITY * math.cos(t) / scale
        expect(abs(got["disparity_min_px"] - expected) <= 1.5 and
               abs(got["disparity_max_px"] - expected) <= 1.5,
               f"{known}: disparity {got['disparity_min_px']}.."
               f"{got['disparity_max_px']} (made {expected:.2f})")
        expect(got["matches"] >= 24 and 0 < got["confidence"] <= 1,
               f"{known}: {got['matches']} matches, confidence "
               f"{got['confidence']}")

        # The corrected pair measures as aligned.
        again = run("align", out, "--json")
        if again.returncode == 0:
            second = json.loads(again.stdout)
            expect(abs(second["vertical_px"]) < 0.5 and
                   abs(second["rotation_deg"]) < 0.05 and
                   abs(second["scale"] - 1) < 0.002,
                   f"{known}: the corrected pair measures {second}")
        else:
            expect(False, f"{known}: the corrected pair measures")

    out = os.path.join(work, "aligned.mpo")
    tags = json.loads(subprocess.run(
        ["exiftool", "-j", "-a", "-G4", "-MPImageType", "-MPImageStart",
         "-MPImageLength", "-NumberOfImages", out],
        capture_output=True, text=True, check=True).stdout)[0]
    types = [v for k, v in tags.items() if k.endswith(":MPImageType")]
    starts = [int(v) for k, v in tags.items() if k.endswith(":MPImageStart")]
    lengths = [int(v) for k, v in tags.items() if k.endswith(":MPImageLength")]
    expect(types == ["Multi-frame Disparity"] * 2,
           f"exiftool: both pictures typed as a disparity pair ({types})")
    size = os.path.getsize(out)
    with open(out, "rb") as f:
        data = f.read()
    expect(len(starts) == 2 and len(lengths) == 2 and starts[0] == 0 and
           starts[1] == lengths[0] and starts[1] + lengths[1] == size and
           data[starts[1]:starts[1] + 2] == b"\xff\xd8",
           f"exiftool: offsets {starts} and lengths {lengths} cover the "
           f"{size}-byte file")

    mpo = Image.open(out)
    frames = []
    for index in range(getattr(mpo, "n_frames", 1)):
        mpo.seek(index)
        frames.append(np.asarray(mpo.convert("RGB"), dtype=np.int16))
    expect(mpo.format == "MPO" and len(frames) == 2,
           f"Pillow opens an MPO of two frames ({mpo.format}, {len(frames)})")
    split_left = os.path.join(work, "l.png")
    split_right = os.path.join(work, "r.png")
    result = run("split", out, "-l", split_left, "-r", split_right)
    if len(frames) == 2 and result.returncode == 0:
        ours = [np.asarray(Image.open(p).convert("RGB"), dtype=np.int16)
                for p in (split_left, split_right)]
        same = all(a.shape == b.shape and np.abs(a - b).max() <= 2
                   for a, b in zip(ours, frames))
        expect(same, "our reader gives the views Pillow decodes")
    else:
        expect(False, f"split reads the written MPO ({result.stderr.strip()})")

    # convert --to: each kind; a JPS in the common order, the right view in
    # the left half.
    folder = os.path.join(work, "converted")
    result = run("convert", out, "--to", "jps", "-o", folder, "--jobs", "1")
    jps = os.path.join(folder, "aligned.jps")
    expect(result.returncode == 0 and os.path.exists(jps),
           f"convert --to jps writes {jps} ({result.stderr.strip()})")
    if os.path.exists(jps) and len(frames) == 2:
        sbs = np.asarray(Image.open(jps).convert("RGB"), dtype=np.int16)
        w = frames[0].shape[1]
        diff = [np.abs(sbs[:, :w] - frames[k]).mean() for k in (0, 1)]
        expect(sbs.shape[1] == 2 * w and diff[1] < 4 and diff[1] < diff[0],
               f"JPS: right view in the left half ({diff})")
    for kind in ("pns", "mpo"):
        result = run("convert", out, "--to", kind, "-o", folder, "--jobs", "1")
        written = os.path.join(folder, "aligned." + kind)
        expect(result.returncode == 0 and os.path.exists(written),
               f"convert --to {kind} ({result.stderr.strip()})")
        check = run("info", written, "--json")
        expect(check.returncode == 0, f"our reader opens {written}")
    # Into the input's own folder: the input keeps its bytes.
    before = digest(out)
    result = run("convert", out, "--to", "mpo", "-o", work, "--jobs", "1")
    expect(result.returncode == 0 and digest(out) == before and
           os.path.exists(os.path.join(work, "aligned-2.mpo")),
           "convert --to mpo beside the input writes aligned-2.mpo and "
           "leaves the input alone")
    result = run("align", out, "-o", out)
    expect(result.returncode == 1 and digest(out) == before and
           "not overwritten" in result.stderr,
           f"align -o onto its input is refused ({result.stderr.strip()})")

    # The camera's own file as the left view: its Exif goes with the pair.
    right = os.path.join(work, "camera-right.jpg")
    misaligned(Image.open(photo_path).convert("RGB"), 0.3, 2.5, 1.004).save(
        right, quality=95)
    kept = os.path.join(work, "kept.mpo")
    result = run("align", photo_path, right, "-o", kept)
    camera = json.loads(subprocess.run(
        ["exiftool", "-j", "-Make", "-Model", "-DateTimeOriginal", photo_path],
        capture_output=True, text=True, check=True).stdout)[0]
    written = json.loads(subprocess.run(
        ["exiftool", "-j", "-Make", "-Model", "-DateTimeOriginal", kept],
        capture_output=True, text=True).stdout or "[{}]")[0]
    expect(result.returncode == 0 and all(
        written.get(t) == camera.get(t) and t in camera
        for t in ("Make", "Model", "DateTimeOriginal")),
        f"align -o keeps the camera's Exif ({written})")

    # A flat pair: refused, exit 3, nothing written.
    flat = os.path.join(work, "flat.png")
    Image.new("RGB", (800, 600), (90, 120, 150)).save(flat)
    never = os.path.join(work, "never.jps")
    result = run("align", flat, flat, "-o", never)
    expect(result.returncode == 3 and "not aligned" in result.stderr and
           not os.path.exists(never),
           f"a flat pair is left as it is ({result.returncode}: "
           f"{result.stderr.strip()})")

    shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

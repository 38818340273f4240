#!/usr/bin/python3
"""MPO conformance: duoramic-cli split and info against exiftool and Pillow.

Every file under testdata/mpo (and resources/samples/*.mpo of the repository)
is split by duoramic-cli as an MPO (files named otherwise are linked under an
.mpo name, so the MPO reader is what reads them).  A file that the reader's
rule refuses (fewer than two "MPF\\0" marks followed by a byte-order mark,
and, with one mark, no second picture where its MP index points) must make
the CLI exit non-zero naming the file.  Any other file must give:

- left view: the file's first picture as Pillow decodes it;
- right view: the second picture, as exiftool extracts it (-b -MPImage2) and
  Pillow decodes it.  Where exiftool cannot extract it (an MP entry pointing
  past the end, a bad MP directory), the picture found by the MPF scan is
  used instead (the bytes from two ahead of its APP2 marker, begun anew with
  FF D8);
- both cropped by the FujiFilm parallax that exiftool reports in the second
  picture (FujiFilm:Parallax, tag 0xB211, with 0xB212 beside it), when that
  maker note comes before the second MPF mark, where the reader's scan ends:
  ParallaxShiftX = trunc(W x P x -0.01), ParallaxShiftY = trunc(H x V x 0.01)
  with W, H the second picture's size; the left view is cropped by
  (X, Y), the right by (-X, -Y).  Nintendo's maker-note parallax is not a
  FujiFilm one and gives no crop.
"""
import glob
import io
import json
import math
import os
import re
import subprocess
import sys
import warnings

import numpy as np
from PIL import Image

from support import (REPO, SKIPPED, diff_summary, exiftool_second_picture,
                     files_under, fujifilm_parallax, load_rgb, parse_arguments,
                     read, run, run_suite)

# Pillow warns about every MP directory it finds odd; the checks here say more.
warnings.filterwarnings("ignore", category=UserWarning)

MPF_MARK = re.compile(rb"MPF\x00[MI][MI]")
MAKER_NOTE_MARK = b"FILM\x0c\x00"


def second_picture_start(data):
    """start = i - 6 at the second MPF mark, or None."""
    marks = [m.start() for m in MPF_MARK.finditer(data)]
    # finditer does not overlap; a mark cannot overlap another anyway.
    if len(marks) < 2 or marks[1] < 6:
        return None
    return marks[1] - 6


def second_is_a_view(path, second):
    """The MP index types the second picture as half of a stereo pair, or
    it is as large as the first (Pillow types it "undefined"; so do phones
    for a gain map, which is smaller)."""
    types = subprocess.run(["exiftool", "-s3", "-a", "-MPImageType", path],
                           capture_output=True, text=True).stdout.split("\n")
    if len(types) > 1 and types[1].strip() == "Multi-frame Disparity":
        return True
    try:
        return Image.open(io.BytesIO(second)).size == Image.open(path).size
    except Exception:
        return False


def index_picture_start(path, data):
    """Where the second picture exiftool extracts by the MP index lies in
    the file, or None: the reader's way when the file has one MPF mark and
    the indexed picture is a view."""
    if len(MPF_MARK.findall(data)) != 1:
        return None
    second = exiftool_second_picture(path)
    at = data.find(second) if second else -1
    if at <= 0 or not second_is_a_view(path, second):
        return None
    return at


def maker_note_seen(data, scan_end):
    """The reader's scan ends at the second MPF mark (start + 6), or at the
    file's end when the MP index found the picture; only a second FUJIFILM
    maker note met before that is read."""
    first = data.find(MAKER_NOTE_MARK)
    if first < 0:
        return False
    second = data.find(MAKER_NOTE_MARK, first + 1)
    return 0 <= second < scan_end


def decode_rgb(data):
    image = Image.open(io.BytesIO(data))
    image.seek(0)
    image.load()
    return np.asarray(image.convert("RGB"))


def crop(view, dx, dy):
    """CropPicture on a top-down array: negative amounts drop the left
    columns or the bottom rows, positive ones the right columns or the top
    rows."""
    h, w = view.shape[:2]
    x0, x1 = (-dx, w) if dx < 0 else (0, w - dx)
    y0, y1 = (0, h + dy) if dy < 0 else (dy, h)
    return view[y0:y1, x0:x1]


def check(cli, path, scratch):
    """The problems, None when the file conforms (then a note on how it was
    checked is printed)."""
    data = read(path)
    target = path
    if not path.lower().endswith(".mpo"):
        target = os.path.join(scratch, os.path.basename(path) + ".mpo")
        if os.path.lexists(target):
            os.remove(target)
        os.symlink(os.path.abspath(path), target)
    left_png = os.path.join(scratch, "left.png")
    right_png = os.path.join(scratch, "right.png")
    for name in (left_png, right_png):
        if os.path.exists(name):
            os.remove(name)
    split = run(cli, "split", target, "-l", left_png, "-r", right_png)

    start = second_picture_start(data)
    scan_end = None if start is None else start + 6
    if start is None:
        start = index_picture_start(path, data)
        scan_end = len(data)
    if start is None:
        if split.returncode == 0:
            return ("split succeeded, but there is no second MPF mark and "
                    "no second picture in the MP index")
        if target not in split.stderr:
            return f"refused without naming the file: {split.stderr!r}"
        print(f"ok   {path}: refused: no second MPF mark or indexed picture")
        return None
    if split.returncode != 0:
        return f"split refused: {split.stderr.strip()}"

    problems = []
    second_bytes = exiftool_second_picture(path)
    source = "exiftool MPImage2"
    scanned = b"\xff\xd8" + data[start + 2:]
    if second_bytes is None:
        second_bytes = scanned
        source = "MPF scan (exiftool could not extract MPImage2)"
    first = decode_rgb(data)
    second = decode_rgb(second_bytes)
    if source.startswith("exiftool"):
        problems.append(diff_summary(second, decode_rgb(scanned),
                                     "exiftool's MPImage2 against the picture "
                                     "at the second MPF mark"))

    parallax = fujifilm_parallax(second_bytes, scratch)
    unseen = parallax is not None and not maker_note_seen(data, scan_end)
    if unseen:
        parallax = None
    dx = dy = 0
    if parallax:
        h, w = second.shape[:2]
        dx = math.trunc(w * parallax[0] * -0.01)
        dy = math.trunc(h * parallax[1] * 0.01)
    note = f"right view from {source}; shift ({dx}, {dy})"
    if parallax:
        note += f" from FujiFilm parallax P={parallax[0]} V={parallax[1]}"
    if unseen:
        note += " (the maker note follows the MPF mark: not read)"

    problems += [diff_summary(crop(first, dx, dy), load_rgb(left_png),
                              "left view"),
                 diff_summary(crop(second, -dx, -dy), load_rgb(right_png),
                              "right view")]

    info = run(cli, "info", target, "--json")
    if info.returncode != 0:
        problems.append(f"info refused: {info.stderr.strip()}")
    else:
        fields = json.loads(info.stdout)
        got = (fields.get("parallax_shift_x"), fields.get("parallax_shift_y"))
        if got != (dx, dy):
            problems.append(f"info reports parallax shift {got}, expected "
                            f"{(dx, dy)}")
    problems = [p for p in problems if p]  # diff_summary's None: no problem
    if problems:
        return "; ".join(problems)
    print(f"ok   {path}: {note}")
    return None


def collect(testdata):
    samples = os.path.join(REPO, "resources", "samples")
    return sorted(files_under(os.path.join(testdata, "mpo"))
                  + glob.glob(os.path.join(samples, "*.mpo"))
                  + glob.glob(os.path.join(samples, "*.MPO")))


def main():
    args = parse_arguments()
    files = collect(args.testdata)
    if not files:
        print(f"no MPO files under {args.testdata}/mpo")
        return 1 if args.full else SKIPPED
    return run_suite(files, lambda path, scratch: check(args.cli, path,
                                                        scratch))


if __name__ == "__main__":
    sys.exit(main())

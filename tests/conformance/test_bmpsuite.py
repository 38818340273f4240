#!/usr/bin/python3
"""bmpsuite through duoramic-cli.

g/ files must decode to the pixels of the suite's reference rendering (or of
Pillow); q/, x/ and extra/ files must not crash and must either match a
reference or Pillow, or sit in one of the lists below; b/ files must be
refused or decoded without crashing, as listed.  A refused file makes the
command exit non-zero and name the file.
"""
import os
import sys

import numpy as np
from PIL import Image

from support import check_each, decode, parse_arguments

# Files that share another file's reference rendering.
ALIASES = {
    "pal1wb": "pal1", "pal4rle": "pal4", "pal8-0": "pal8", "pal8os2": "pal8",
    "pal8rle": "pal8", "pal8topdown": "pal8", "pal8v4": "pal8",
    "pal8v5": "pal8", "rgb16bfdef": "rgb16", "rgb16-565pal": "rgb16-565",
    "rgb24pal": "rgb24", "rgb32": "rgb24", "rgb32bf": "rgb24",
    "rgb32bfdef": "rgb24", "pal8offs": "pal8", "pal8os2-hs": "pal8",
    "pal8os2-sz": "pal8", "pal8os2sp": "pal8", "pal8os2v2": "pal8",
    "pal8os2v2-16": "pal8", "pal8os2v2-40sz": "pal8", "pal8os2v2-sz": "pal8",
    "pal8oversizepal": "pal8", "rgb24largepal": "rgb24",
    "rgb24lprof": "rgb24", "rgb24prof": "rgb24", "rgb24prof2": "rgb24",
    "rgb32-xbgr": "rgb24", "rgb32fakealpha": "rgb24", "rgb32h52": "rgb24",
    "rgba32-1": "rgba32", "rgba32-2": "rgba32", "rgba32abf": "rgba32",
    "rgba32h56": "rgba32", "rgb32-111110": "rgb24",
}

# Refused on purpose: compressions and depths the viewer does not decode,
# and files whose header cannot describe a picture.
REFUSED = {
    "q/pal1huffmsb.bmp": "OS/2 Huffman coding",
    "q/rgb24jpeg.bmp": "JPEG inside BMP",
    "q/rgb24png.bmp": "PNG inside BMP",
    "q/rgb24rle24.bmp": "OS/2 24-bit run-length coding",
    "q/rgba64.bmp": "64 bits per pixel",
    "x/ba-bm.bmp": "OS/2 bitmap array, not a bitmap",
    "b/badbitcount.bmp": "impossible depth",
    "b/badwidth.bmp": "negative width",
    "b/reallybig.bmp": "size beyond the pixel limit",
    "b/rletopdown.bmp": "run-length data cannot be top-down",
}

# Decoded, but nothing here can decode them independently; their pixels
# are pinned by the reader's own tests.
UNCHECKED = {
    "extra/ci_rle4.bmp", "extra/ci_rle4deltaXY.bmp", "extra/ci_rle8.bmp",
}

# Bad files that decode to something sound (the faults are mended or
# harmless) rather than being refused.
B_DECODED = {
    "b/badbitssize.bmp", "b/badheadersize.bmp", "b/baddens1.bmp", "b/baddens2.bmp",
    "b/badfilesize.bmp", "b/badpalettesize.bmp", "b/badplanes.bmp",
    "b/badrle.bmp", "b/badrle4.bmp", "b/badrle4bis.bmp", "b/badrle4ter.bmp",
    "b/badrlebis.bmp", "b/badrleter.bmp", "b/pal8badindex.bmp",
    "b/rgb16-880.bmp", "b/shortfile.bmp",
}


def rgb(path):
    """RGB pixels and a mask of those that are not fully transparent: the
    viewer ignores alpha, so a reference's hidden colours do not count."""
    try:
        with Image.open(path) as image:
            image.load()
            rgba = np.asarray(image.convert("RGBA"))
            return rgba[:, :, :3], rgba[:, :, 3] > 0
    except Exception:
        return None


def candidates(testdata, rel):
    stem = os.path.splitext(os.path.basename(rel))[0]
    refdir = os.path.join(testdata, "bmpsuite", "ref-png")
    found = []
    for base in {stem, ALIASES.get(stem, stem)}:
        for suffix in ("", "-0", "-b", "-e", "-v"):
            path = os.path.join(refdir, base + suffix + ".png")
            if os.path.exists(path):
                found.append(("ref " + base + suffix, rgb(path)))
    found.append(("Pillow", rgb(os.path.join(testdata, "bmpsuite", rel))))
    return [(name, pixels) for name, pixels in found if pixels is not None]


def matches(ours, reference):
    # Channels of fewer than 8 bits scale to 8 bits with rounding;
    # references made by other scalers may be one step off.
    pixels, visible = reference
    if ours.shape != pixels.shape:
        return False
    diff = np.abs(ours.astype(int) - pixels.astype(int)).max(axis=2)
    return diff[visible].max(initial=0) <= 1


def check(cli, testdata, rel, scratch):
    path = os.path.join(testdata, "bmpsuite", rel)
    out = os.path.join(scratch, rel.replace("/", "_") + ".png")
    ours, failure = decode(cli, path, out)
    folder = rel.split("/")[0]
    if ours is None:
        if rel in REFUSED or (folder == "b" and rel not in B_DECODED):
            return None
        return f"refused ({failure})"
    if rel in REFUSED:
        return "decoded but listed as refused"
    if rel in UNCHECKED:
        return None
    if folder == "b":
        return None if rel in B_DECODED else "decoded, not listed"
    options = candidates(testdata, rel)
    if any(matches(ours, pixels) for _, pixels in options):
        return None
    names = ", ".join(name for name, _ in options) or "nothing to compare"
    return f"pixels differ from {names}"


def main():
    args = parse_arguments()
    root = os.path.join(args.testdata, "bmpsuite")
    files = sorted(
        os.path.join(folder, name)
        for folder in ("g", "q", "b", "x", "extra")
        if os.path.isdir(os.path.join(root, folder))
        for name in os.listdir(os.path.join(root, folder))
        if name.endswith(".bmp"))
    problems = check_each(
        files, lambda rel, scratch: check(args.cli, args.testdata, rel, scratch))
    print(f"{len(files)} files, {len(problems)} problems")
    return 1 if problems or not files else 0


if __name__ == "__main__":
    sys.exit(main())

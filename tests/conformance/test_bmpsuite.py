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

from support import decode, files_under, parse_arguments, run_suite

# Files that share another file's reference rendering.
ALIASES = {alias: base for base, aliases in {
    "pal1": "pal1wb", "pal4": "pal4rle", "rgb16": "rgb16bfdef",
    "rgb16-565": "rgb16-565pal",
    "pal8": "pal8-0 pal8os2 pal8rle pal8topdown pal8v4 pal8v5 pal8offs "
            "pal8os2-hs pal8os2-sz pal8os2sp pal8os2v2 pal8os2v2-16 "
            "pal8os2v2-40sz pal8os2v2-sz pal8oversizepal",
    "rgb24": "rgb24pal rgb32 rgb32bf rgb32bfdef rgb24largepal rgb24lprof "
             "rgb24prof rgb24prof2 rgb32-xbgr rgb32fakealpha rgb32h52 "
             "rgb32-111110",
    "rgba32": "rgba32-1 rgba32-2 rgba32abf rgba32h56",
}.items() for alias in aliases.split()}

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
UNCHECKED = {"extra/ci_rle4.bmp", "extra/ci_rle4deltaXY.bmp",
             "extra/ci_rle8.bmp"}

# Bad files that decode to something sound (the faults are mended or
# harmless) rather than being refused.
B_DECODED = {f"b/{name}.bmp" for name in (
    "badbitssize badheadersize baddens1 baddens2 badfilesize badpalettesize "
    "badplanes badrle badrle4 badrle4bis badrle4ter badrlebis badrleter "
    "pal8badindex rgb16-880 shortfile").split()}


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
    files = [os.path.relpath(path, root) for path in files_under(
        *(os.path.join(root, f) for f in ("g", "q", "b", "x", "extra")))
        if path.endswith(".bmp")]
    return run_suite(files, lambda rel, scratch: check(
        args.cli, args.testdata, rel, scratch))


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""JPEG and JPS conformance: duoramic-cli against Pillow.

Every file under testdata/jpeg (recursively) and testdata/sbs either decodes
to exactly the pixels Pillow gives (Debian's Pillow drives the same
libjpeg-turbo) or is listed in REFUSED and must make `duoramic-cli decode`
exit non-zero naming the file.

Grey pictures come out with red = green = blue; CMYK pictures are checked
against the viewer's CMYK rule applied to the samples libjpeg delivers
(Pillow hands them over inverted, as "CMYK;I").
"""
import os
import sys

import numpy as np
from PIL import Image, ImageFile

from support import (SKIPPED, decoded_as_expected, files_under,
                     parse_arguments, run_suite)

# Files the viewer must refuse, with the reason.
REFUSED = {
    "jpeg/broken_billcosta_00-empty-file.jpg": "empty file",
    "jpeg/jpegsuite/baseline/32x32x8_dnl.jpg": "height given by DNL",
    "jpeg/jpegsuite/extended_huffman/32x32x8_dnl.jpg": "height given by DNL",
    "jpeg/jpegsuite/progressive_huffman/32x32x8_dnl.jpg": "height given by DNL",
    "jpeg/jpegsuite/unsupported_codings/jpegls_32x32x8_grayscale.jpg": "JPEG-LS",
    "jpeg/jpegsuite/unsupported_codings/jpegls_32x32x8_rgb.jpg": "JPEG-LS",
    "jpeg/jpegsuite/unsupported_codings/lossless_arithmetic_32x32x8_grayscale.jpg":
        "lossless",
    "jpeg/jpegsuite/unsupported_codings/lossless_huffman_32x32x8_ycbcr.jpg":
        "lossless",
}
for _coding in ("extended_huffman", "progressive_huffman"):
    for _name in ("32x32x12_grayscale", "32x32x12_ycbcr",
                  "32x32x12_ycbcr_interleaved", "8x8x12_grayscale_black",
                  "8x8x12_grayscale_check", "8x8x12_grayscale_gray",
                  "8x8x12_grayscale_white"):
        REFUSED[f"jpeg/jpegsuite/{_coding}/{_name}.jpg"] = "12-bit samples"

# Cut off in the middle of a scan: libjpeg fills the rest and warns; Pillow
# does the same once told to accept truncated files.
TRUNCATED = {"jpeg/broken_pillow_truncated_jpeg.jpg"}

# Junk bytes between segments: libjpeg skips them with a warning, Pillow's
# own marker parser gives up, so Pillow decodes the file with the junk cut.
JUNK_BETWEEN_SEGMENTS = {"jpeg/broken_ci_0x00-to-0xFF-between-segments.jpg"}


def strip_junk_between_segments(data):
    """The segments before the first scan as libjpeg finds them (it skips
    to the next 0xFF, over fill bytes and stuffed zeros), then the rest."""
    out = bytearray(data[:2])
    p = 2
    while p < len(data):
        while p < len(data) and data[p] != 0xFF:
            p += 1
        while p + 1 < len(data) and data[p + 1] == 0xFF:
            p += 1
        if p + 1 >= len(data):
            break
        code = data[p + 1]
        if code == 0x00:
            p += 2
            continue
        if code == 0xDA or code == 0xD9:
            out += data[p:]
            break
        length = data[p + 2] << 8 | data[p + 3]
        out += data[p:p + 2 + length]
        p += 2 + length
    return bytes(out)


def expected_pixels(path, rel):
    """Pillow's decode as an RGB array, top row first."""
    if rel in JUNK_BETWEEN_SEGMENTS:
        import io
        with open(path, "rb") as f:
            image = Image.open(io.BytesIO(strip_junk_between_segments(f.read())))
    else:
        image = Image.open(path)
    ImageFile.LOAD_TRUNCATED_IMAGES = rel in TRUNCATED
    try:
        image.load()
    finally:
        ImageFile.LOAD_TRUNCATED_IMAGES = False
    a = np.asarray(image)
    if image.mode == "L":
        return np.stack([a, a, a], axis=-1)
    if image.mode == "RGB":
        return a
    if image.mode == "CMYK":
        s = 255 - a.astype(np.int32)  # the samples as libjpeg delivers them
        k = (255 - s[..., 3]) // 3
        rgb = 255 - np.minimum((255 - s[..., :3]) + k[..., None], 255)
        return rgb.astype(np.uint8)
    raise RuntimeError(f"unexpected Pillow mode {image.mode}")


def check(cli, testdata, rel, scratch):
    path = os.path.join(testdata, rel)
    return decoded_as_expected(cli, path, os.path.join(scratch, "out.png"),
                               REFUSED.get(rel),
                               lambda: expected_pixels(path, rel))


def main():
    args = parse_arguments()
    files = [os.path.relpath(f, args.testdata) for f in files_under(
        os.path.join(args.testdata, "jpeg"), os.path.join(args.testdata, "sbs"))]
    if not files:
        print(f"no files under {args.testdata}/jpeg or sbs")
        return 1 if args.full else SKIPPED
    missing = [(rel, "listed here but missing from the test data")
               for rel in sorted(set(REFUSED) | TRUNCATED |
                                 JUNK_BETWEEN_SEGMENTS)
               if args.full and rel not in files]
    return run_suite(files, lambda rel, scratch: check(
        args.cli, args.testdata, rel, scratch), found=missing)


if __name__ == "__main__":
    sys.exit(main())

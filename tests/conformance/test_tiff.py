#!/usr/bin/python3
"""The TIFF set through duoramic-cli, checked pixel by pixel.

Every file either decodes to the picture the viewer must show or is in
REFUSED and makes the tool fail naming the file.  The expected picture is
Pillow's, converted to RGB, except where the viewer's own rules give a
different picture on purpose; there it is computed from Pillow's samples
with those rules: CMYK by (255 - c) x (255 - k) / 255, 16-bit samples by
their high byte, 12-bit samples by their high 8 bits, palettes through
the colour map scaled by 255/65535 when it holds 16-bit values, and alpha
samples ignored.  Multi-page files show their first page.
"""
import os
import struct
import sys

import numpy as np
from PIL import Image

from support import decoded_as_expected, parse_arguments, run_suite

REFUSED = {
    # Codecs the viewer does not read.
    "ci_TestJpegStrips_ycbcr_jpeg.tiff": "JPEG (7), YCbCr",
    "libtiff_quad-tile.jpg.tiff": "JPEG (7), tiled YCbCr",
    "pillow_hopper_jpg.tif": "JPEG (7)",
    "pillow_tiff_strip_cmyk_jpeg.tif": "JPEG (7), CMYK",
    "pillow_tiff_strip_ycbcr_jpeg_2x2_sampling.tif": "JPEG (7), YCbCr",
    "libtiff_ojpeg_zackthecat_subsamp22_single_strip.tiff": "old JPEG (6)",
    "libtiff_logluv-3c-16b.tiff": "LogLuv (34676)",
    "pillow_hopper_g4.tif": "CCITT Group 4 (4)",
    # RGB in separate planes: a scanline holds one 2-byte sample a pixel.
    "pillow_tiff_strip_planar_16bit_RGB.tiff": "planar RGB",
    # Broken on purpose.
    "broken_pillow_crash-2020-10-test.tif": "YCbCr (6) fuzz file",
    "broken_pillow_libtiff_segfault.tif": "65535 samples a pixel",
    "broken_pillow_oom-225817ca0f8c663be7ab4b9e717b02c661e66834.tif":
        "303169682 samples a pixel, no strips",
    "libtiff_testfax3_bug54_1dnoEOL.tif": "fax data libtiff cannot decode",
    "libtiff_testfax3_bug_513.tiff": "fax line overflowing its width",
}

# Broken files whose first image is sound: they decode like any other.
#   broken_ci_bad-offsets-lengths.tiff: only a text tag points outside.
#   broken_libtiff_test_ifd_loop_*: the loop is in the chain of later IFDs.


def cmyk_to_rgb(cmyk):
    c, m, y, k = (cmyk[:, :, i].astype(np.int64) for i in range(4))
    return np.stack([(255 - c) * (255 - k) // 255,
                     (255 - m) * (255 - k) // 255,
                     (255 - y) * (255 - k) // 255], axis=2)


def palette_rgb(im):
    """The colour map as the viewer scales it, indexed by Pillow's indices."""
    colormap = im.tag_v2[320]
    n = len(colormap) // 3
    wide = max(colormap) >= 256
    level = [(v * 255 // 65535) if wide else (v & 0xFF) for v in colormap]
    table = np.array([level[0:n], level[n:2 * n], level[2 * n:]]).T
    return table[np.array(im).astype(np.int64)]


def straight_samples(im, mode, rawmode):
    """Pillow's decode with the alpha left as stored (no unpremultiply)."""
    decoder, box, offset, args = im.tile[0]
    args = (rawmode,) + tuple(args[1:]) if isinstance(args, tuple) else rawmode
    im.tile = [(decoder, box, offset, args)] + im.tile[1:]
    im.mode = mode
    im.load()
    return np.array(im).astype(np.int64)


def grey(level):
    return np.repeat(level[:, :, None], 3, axis=2)


def read_ifd(data):
    """Tags of the first IFD of a classic TIFF: {tag: [values]}."""
    order = "<" if data[:2] == b"II" else ">"
    sizes = {1: "B", 3: "H", 4: "I"}
    (first,) = struct.unpack(order + "I", data[4:8])
    (count,) = struct.unpack(order + "H", data[first:first + 2])
    tags = {}
    for i in range(count):
        entry = data[first + 2 + 12 * i:first + 14 + 12 * i]
        tag, kind, n = struct.unpack(order + "HHI", entry[:8])
        if kind not in sizes:
            continue
        fmt = order + "%d%s" % (n, sizes[kind])
        size = struct.calcsize(fmt)
        if size <= 4:
            raw = entry[8:8 + size]
        else:
            (where,) = struct.unpack(order + "I", entry[8:12])
            raw = data[where:where + size]
        tags[tag] = list(struct.unpack(fmt, raw))
    return tags


def unpackbits(data):
    out, i = bytearray(), 0
    while i < len(data):
        n = data[i] - 256 if data[i] > 127 else data[i]
        i += 1
        if n >= 0:
            out += data[i:i + n + 1]
            i += n + 1
        elif n != -128:
            out += bytes([data[i]]) * (1 - n)
            i += 1
    return bytes(out)


def first_plane_by_hand(path):
    """For a file Pillow cannot open (grey and alpha in separate planes):
    the grey plane, from the strips read by hand."""
    data = open(path, "rb").read()
    tags = read_ifd(data)
    width, height = tags[256][0], tags[257][0]
    rows = tags.get(278, [height])[0]
    strips = (height + rows - 1) // rows
    plane = b""
    for offset, count in list(zip(tags[273], tags[279]))[:strips]:
        chunk = data[offset:offset + count]
        plane += unpackbits(chunk) if tags[259][0] == 32773 else chunk
    level = np.frombuffer(plane[:width * height], dtype=np.uint8)
    return grey(level.reshape(height, width).astype(np.int64))


def expected_picture(path):
    name = os.path.basename(path)
    if name == "libtiff_minisblack-2c-8b-alpha.tiff":
        return first_plane_by_hand(path)
    im = Image.open(path)
    if 322 in im.tag_v2:
        # Pillow pastes every tile listed; ci_IndexColorPaletteTiled lists
        # six for four places and two overwrite the top row.  Only the
        # first tiles across x down are the image's, as libtiff reads it.
        across = -(-im.width // im.tag_v2[322])
        down = -(-im.height // im.tag_v2[323])
        im.tile = im.tile[:across * down]
    rawmode = im.tile[0][3][0] if isinstance(im.tile[0][3], tuple) \
        else im.tile[0][3]
    if im.mode == "P":
        return palette_rgb(im)
    if im.mode == "CMYK":
        return cmyk_to_rgb(np.array(im))
    if im.mode.startswith("I;16") or im.mode == "I":
        level = np.array(im).astype(np.int64)
        bits = im.tag_v2[258][0]
        return grey(level >> (bits - 8))
    if rawmode.startswith("RGBa"):
        straight = "RGBA;16N" if "16" in rawmode else "RGBA"
        return straight_samples(im, "RGBA", straight)[:, :, :3]
    return np.array(im.convert("RGB")).astype(np.int64)


def check_file(cli, path, out_png):
    return decoded_as_expected(cli, path, out_png,
                               REFUSED.get(os.path.basename(path)),
                               lambda: expected_picture(path))


def main():
    args = parse_arguments()
    folder = os.path.join(args.testdata, "tiff")
    names = sorted(os.listdir(folder))
    failures = [(n, "listed as refused but missing")
                for n in sorted(REFUSED) if args.full and n not in names]
    return run_suite(names, lambda name, scratch: check_file(
        args.cli, os.path.join(folder, name), os.path.join(scratch, "out.png")),
        found=failures, minimum=40 if args.full else 0)


if __name__ == "__main__":
    sys.exit(main())

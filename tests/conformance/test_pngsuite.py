#!/usr/bin/python3
"""PngSuite through duoramic-cli, checked pixel by pixel.

Every file either decodes to the picture the viewer must show or is in
REFUSED and makes the tool fail naming the file.  The samples are read
by a small decoder below, which is first checked against Pillow on every
file; the expected picture is then computed from them the way the viewer
shows PNGs: display gamma 2.2 applied as libpng applies it, palette
entries blended with white by their alpha, alpha channels blended with
white, a transparent grey level or colour shown white, and 16-bit
samples reduced to their high byte.
"""
import json
import math
import os
import struct
import sys
import zlib

import numpy as np
from PIL import Image

from support import (decode_as_listed, diff_summary, parse_arguments, run,
                     run_suite)

# Deliberately corrupted files: each must be refused.
REFUSED = {
    "xc1n0g08.png",  # colour type 1
    "xc9n2c08.png",  # colour type 9
    "xcrn0g04.png",  # signature mangled by CR -> CRLF
    "xcsn0g01.png",  # IDAT CRC wrong
    "xd0n2c08.png",  # bit depth 0
    "xd3n2c08.png",  # bit depth 3
    "xd9n2c08.png",  # bit depth 99
    "xdtn0g01.png",  # no IDAT chunk
    "xhdn0g08.png",  # IHDR CRC wrong
    "xlfn0g04.png",  # signature mangled by LF -> CRLF
    "xs1n0g01.png",  # signature byte 1 wrong
    "xs2n0g01.png",  # signature byte 2 wrong
    "xs4n0g01.png",  # signature byte 4 wrong
    "xs7n0g01.png",  # signature byte 7 wrong
}

SCREEN_GAMMA = 220000
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4),
         (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


# --- the file's chunks and samples -------------------------------------------

def chunks(data):
    pos = 8
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        yield pos, kind, data[pos + 8:pos + 8 + length]
        pos += 12 + length


def parse(data):
    info = {"idat": b"", "text": [], "trns": None, "plte": None,
            "gamma": None, "sbit": None}
    seen_idat = False
    for pos, kind, body in chunks(data):
        if kind == b"IHDR":
            (info["width"], info["height"], info["depth"], info["ctype"],
             _, _, info["interlace"]) = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            info["plte"] = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"tRNS":
            info["trns"] = body
        elif kind == b"gAMA":
            info["gamma"] = struct.unpack(">I", body)[0]
        elif kind == b"sBIT":
            info["sbit"] = max(body)
        elif kind == b"IDAT":
            info["idat"] += body
            seen_idat = True
        elif kind in (b"tEXt", b"zTXt", b"iTXt") and not seen_idat:
            info["text"].append((pos, kind, body))
    return info


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def unfilter(raw, pos, rowbytes, rows, bpp):
    out, prev = [], bytearray(rowbytes)
    for _ in range(rows):
        ftype = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + rowbytes])
        pos += 1 + rowbytes
        for i in range(rowbytes):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[ftype]
            line[i] = (line[i] + pred) & 0xFF
        out.append(line)
        prev = line
    return out, pos


def unpack(line, width, depth, channels):
    count = width * channels
    if depth == 16:
        return list(struct.unpack(">%dH" % count, bytes(line[:2 * count])))
    if depth == 8:
        return list(line[:count])
    per = 8 // depth
    mask = (1 << depth) - 1
    return [(line[i // per] >> (8 - depth * (i % per + 1))) & mask
            for i in range(count)]


def samples(info):
    """All samples as an int array (height, width, channels)."""
    w, h, depth = info["width"], info["height"], info["depth"]
    ch = CHANNELS[info["ctype"]]
    raw = zlib.decompress(info["idat"])
    bpp = max(1, depth * ch // 8)
    img = np.zeros((h, w, ch), dtype=np.int64)
    passes = ADAM7 if info["interlace"] else [(0, 0, 1, 1)]
    pos = 0
    for x0, y0, dx, dy in passes:
        pw, ph = (w - x0 + dx - 1) // dx, (h - y0 + dy - 1) // dy
        if pw <= 0 or ph <= 0:
            continue
        rows, pos = unfilter(raw, pos, (pw * depth * ch + 7) // 8, ph, bpp)
        for r, line in enumerate(rows):
            vals = np.array(unpack(line, pw, depth, ch)).reshape(pw, ch)
            img[y0 + r * dy, x0::dx][:pw] = vals
    return img


def check_against_pillow(path, info, img):
    """The sample decoder must agree with Pillow before it is trusted."""
    pil = np.array(Image.open(path)).astype(np.int64)
    depth, ctype = info["depth"], info["ctype"]
    mine = img if img.shape[2] > 1 else img[:, :, 0]
    if depth == 16 and ctype != 0:
        mine = mine >> 8
    if ctype == 4 and depth == 16:  # Pillow widens 16-bit grey-alpha to RGBA
        mine = mine[:, :, [0, 0, 0, 1]]
    elif depth < 8 and ctype == 0:
        mine = mine * (255 // ((1 << depth) - 1))
        if depth == 1:
            pil = pil * 255 if pil.max() <= 1 else pil
    return pil.shape == mine.shape and np.array_equal(pil, mine)


# --- what the viewer shows -------------------------------------------------------

def gamma_significant(file_gamma):
    product = math.floor(file_gamma * SCREEN_GAMMA * 1e-5 + .5)
    return product < 95000 or product > 105000


def reciprocal(file_gamma):
    return math.floor(1e15 / file_gamma / SCREEN_GAMMA + .5) * 1e-5


def correct(v, exponent, top=255):
    if 0 < v < top:
        return math.floor(top * math.pow(v / top, exponent) + .5)
    return v


def table8(info):
    g = info["gamma"]
    if not g or not gamma_significant(g):
        return np.arange(256)
    e = reciprocal(g)
    return np.array([correct(v, e) for v in range(256)])


def sbit_shift(info):
    """How far libpng shifts 16-bit samples for their significant bits;
    None when the gamma is not significant (no table is built)."""
    g = info["gamma"]
    if not g or not gamma_significant(g):
        return None
    sbit = info["sbit"] or 0
    return 16 - sbit if 0 < sbit < 16 else 0


def table16_high(info):
    """libpng's 16-bit gamma, then the high byte of each result."""
    g, shift = info["gamma"], sbit_shift(info)
    if shift is None:
        return np.arange(65536) >> 8
    top = (1 << (16 - shift)) - 1
    e = reciprocal(g)
    return np.array([math.floor(65535 * math.pow((v >> shift) / top, e) + .5)
                     if (v >> shift) else 0 for v in range(65536)]) >> 8


def table16_stripped(info):
    """libpng's gamma when 16-bit samples are also cut to 8 bits."""
    g, shift = info["gamma"], sbit_shift(info)
    if shift is None:
        return np.arange(65536) >> 8
    shift = max(shift, 5)
    top = (1 << (16 - shift)) - 1
    product = math.floor(g * SCREEN_GAMMA * 1e-5 + .5) * 1e-5
    out, last = [0] * (top + 1), 0
    for i in range(255):
        bound = correct(i * 257 + 128, product, 65535)
        bound = (bound * top + 32768) // 65535 + 1
        while last < bound and last <= top:
            out[last] = i
            last += 1
    while last <= top:
        out[last] = 255
        last += 1
    return np.array([out[v >> shift] for v in range(65536)])


def over_white(colour, alpha):
    x = alpha * colour + (255 - alpha) * 255 + 128
    return (x + (x >> 8)) >> 8


def expected_palette(info, img):
    t = table8(info)
    plte = info["plte"] or []
    alpha = list(info["trns"] or b"")
    lut = np.zeros((256, 3), dtype=np.int64)
    for k, rgb in enumerate(plte[:256]):
        a = alpha[k] if k < len(alpha) else 255
        lut[k] = [t[c] * a // 255 + (255 - a) for c in rgb]
    return lut[img[:, :, 0]]


def expected_grey(info, img):
    depth = info["depth"]
    level = img[:, :, 0]
    if depth == 16:
        return np.repeat(table16_high(info)[level][:, :, None], 3, axis=2)
    # The low depths go through the ramp k * 255 / (entries - 1).
    level = level * 255 // ((1 << depth) - 1)
    return np.repeat(table8(info)[level][:, :, None], 3, axis=2)


def expected_with_alpha(info, img):
    depth, ctype = info["depth"], info["ctype"]
    if ctype in (0, 2):  # transparent grey level or colour
        key = struct.unpack(">%dH" % (len(info["trns"]) // 2), info["trns"])
        opaque = ~np.all(img == np.array(key), axis=2)
        colour = img if ctype == 2 else np.repeat(img, 3, axis=2)
        if depth == 16:
            colour = table16_stripped(info)[colour]
        else:
            if depth < 8:
                colour = colour * 255 // ((1 << depth) - 1)
            colour = table8(info)[colour]
        alpha = np.where(opaque, 255, 0)
    else:
        colour = img[:, :, :-1]
        if ctype == 4:
            colour = np.repeat(colour, 3, axis=2)
        alpha = img[:, :, -1]
        if depth == 16:
            colour, alpha = table16_high(info)[colour], alpha >> 8
        else:
            colour = table8(info)[colour]
    a = alpha[:, :, None]
    blended = over_white(colour, a)
    return np.where(a == 255, colour, np.where(a == 0, 255, blended))


def expected_picture(info, img):
    ctype = info["ctype"]
    if ctype == 3:
        return expected_palette(info, img)
    if ctype in (4, 6) or info["trns"] is not None:
        return expected_with_alpha(info, img)
    if ctype == 0:
        return expected_grey(info, img)
    if info["depth"] == 16:
        return table16_high(info)[img]
    return table8(info)[img]


def expected_comment(data, info):
    """The first text chunk before the image data, unless it is long; a
    compressed text chunk starting in the first 1000 bytes is dropped."""
    dropped = None
    z = data[:1000].rfind(b"zTXt")
    if z >= 4 and any(pos == z - 4 for pos, _, _ in chunks(data)):
        dropped = z - 4
    texts = [(p, k, b) for p, k, b in info["text"] if p != dropped]
    if not texts:
        return ""
    _, kind, body = texts[0]
    key, rest = body.split(b"\0", 1)
    if kind == b"zTXt":
        text = zlib.decompress(rest[1:])
    elif kind == b"iTXt":
        flag, rest = rest[0], rest[2:]
        text = rest.split(b"\0", 2)[2]
        text = zlib.decompress(text) if flag else text
    else:
        text = rest
    return text.decode("utf-8") if len(text) < 250 else ""


# --- driving the tool -------------------------------------------------------------

def check_file(cli, path, out_png):
    name = os.path.basename(path)
    problem, got = decode_as_listed(
        cli, path, out_png, "corrupted on purpose" if name in REFUSED else None)
    if problem or got is None:
        return problem
    data = open(path, "rb").read()
    info = parse(data)
    img = samples(info)
    if not check_against_pillow(path, info, img):
        return "test decoder disagrees with Pillow"
    problem = diff_summary(expected_picture(info, img), got)
    if problem:
        return problem
    if info["text"] or name.startswith("ct"):
        shown = json.loads(run(cli, "info", path, "--json").stdout)["comment"]
        want_comment = expected_comment(data, info)
        if shown != want_comment:
            return "comment %r, expected %r" % (shown, want_comment)
    return None


def main():
    args = parse_arguments()
    folder = os.path.join(args.testdata, "pngsuite")
    names = sorted(n for n in os.listdir(folder) if n.endswith(".png"))
    failures = [(n, "corrupted file missing from the refusal list")
                for n in names if n.startswith("x") and n not in REFUSED]
    return run_suite(names, lambda name, scratch: check_file(
        args.cli, os.path.join(folder, name), os.path.join(scratch, "out.png")),
        found=failures, minimum=100)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""GIF files through duoramic-cli.

The viewer shows the last image of a file (at most the 100th) at its own
size, without compositing it onto the logical screen, and its transparent
colour as white.  Every file is checked against Pillow: the last image is
cut out into a GIF of its own whose colour table numbers the indices, so
Pillow's decoding of the LZW data and the interlacing gives the colour
index of every pixel, which the file's colour tables then turn into the
expected colours.  The pygif suite's files are also checked against the
suite's own last reference frame, over the last image's rectangle, for the
pixels that are not transparent; files it calls invalid must be refused.
Comments are checked by the reader's own tests (the command-line tool's
info needs a picture wide enough to split into two views).
"""
import configparser
import os
import struct
import sys

import numpy as np
from PIL import Image, ImageFile

from support import decode, parse_arguments, run_suite

ImageFile.LOAD_TRUNCATED_IMAGES = True

# Where the viewer's rules and the pygif suite's expectations part.
SUITE_DIFFERS = {
    # The suite shows the empty logical screen; the viewer has no image.
    "no-data.gif": "refused",
    "image-zero-width.gif": "refused",
    "image-zero-height.gif": "refused",
    "image-zero-size.gif": "refused",
    # The plain text block is skipped and the image after it is shown.
    "plain-text.gif": "decoded",
    # An index beyond the colour table shows black rather than failing.
    "invalid-colors.gif": "decoded",
}

# Files whose only image cannot be shown (beyond the size limits).
REFUSED = {
    "broken_pillow_decompression_bomb.gif",
    "broken_pillow_zero_width.gif",
}


def sub_blocks_end(data, pos):
    while pos < len(data):
        n = data[pos]
        pos += 1 + n
        if n == 0:
            return pos
    return len(data)


def walk(data):
    """The images of a GIF as the viewer walks its blocks."""
    if data[:4] != b"GIF8" or len(data) < 13:
        return None
    packed = data[10]
    screen = {"bits": (packed & 7) + 1, "global": b""}
    pos = 13
    if packed & 0x80:
        n = 3 << screen["bits"]
        if pos + n > len(data):
            return screen, []
        screen["global"] = data[pos:pos + n]
        pos += n
    images, transparent = [], None
    while pos < len(data):
        kind = data[pos]
        pos += 1
        if kind == 0x21 and pos < len(data):
            label = data[pos]
            pos += 1
            if label == 0xF9 and pos + 5 <= len(data) and data[pos] >= 4:
                transparent = data[pos + 4] if data[pos + 1] & 1 else None
            pos = sub_blocks_end(data, pos)
        elif kind == 0x2C and len(images) < 100 and pos + 9 <= len(data):
            left, top, width, height, flags = struct.unpack(
                "<HHHHB", data[pos:pos + 9])
            pos += 9
            local = b""
            if flags & 0x80:
                n = 3 << ((flags & 7) + 1)
                if pos + n > len(data):
                    break
                local = data[pos:pos + n]
                pos += n
            if pos >= len(data):
                break
            end = sub_blocks_end(data, pos + 1)
            images.append({"rect": (left, top, width, height),
                           "interlaced": bool(flags & 0x40), "local": local,
                           "lzw": data[pos:end], "transparent": transparent})
            transparent = None
            pos = end
        else:
            break
    return screen, images


def pillow_indices(image, scratch):
    """Colour indices of one image, decoded by Pillow from a GIF of its own
    with a 256-entry table that tells the indices apart."""
    _, _, width, height = image["rect"]
    table = b"".join(bytes((i, 255 - i, 7)) for i in range(256))
    lzw = image["lzw"]
    if not lzw.endswith(b"\x00"):
        lzw += b"\x00"
    flags = 0x40 if image["interlaced"] else 0
    gif = (b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0) +
           table + b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, flags)
           + lzw + b"\x3b")
    path = os.path.join(scratch, "one-image.gif")
    with open(path, "wb") as f:
        f.write(gif)
    try:
        with Image.open(path) as im:
            im.load()
            if im.mode != "P":
                return None
            return np.asarray(im).copy()
    except Exception:
        return None


def expected_colours(screen, image, indices):
    table = np.zeros((256, 3), np.uint8)
    for colours in (screen["global"], image["local"]):
        entries = np.frombuffer(colours, np.uint8).reshape(-1, 3)
        table[:len(entries)] = entries
    rgb = table[indices]
    if image["transparent"] is not None:
        rgb[indices == image["transparent"]] = 255
    return rgb


def check_against_pillow(path, ours, scratch):
    with open(path, "rb") as f:
        screen, images = walk(f.read())
    for image in reversed(images):
        indices = pillow_indices(image, scratch)
        if indices is not None and indices.size:
            expected = expected_colours(screen, image, indices)
            if ours.shape != expected.shape:
                return f"size {ours.shape[1::-1]}, Pillow's image " \
                       f"{expected.shape[1::-1]}"
            wrong = np.argwhere((ours != expected).any(axis=2))
            if len(wrong):
                y, x = wrong[0]
                return (f"{len(wrong)} pixels differ from Pillow, first at "
                        f"({x}, {y}): {ours[y, x]} != {expected[y, x]}")
            return None
    return "Pillow decodes no image"


def suite_reference(conf, folder, frame):
    name = conf[frame]["pixels"]
    width, height = int(conf["config"]["width"]), int(conf["config"]["height"])
    raw = os.path.join(folder, name)
    if os.path.exists(raw):
        data = np.fromfile(raw, np.uint8)
        return data.reshape(height, width, 4)
    with Image.open(os.path.splitext(raw)[0] + ".png") as image:
        return np.asarray(image.convert("RGBA"))


def check_against_suite(path, conf, ours, scratch):
    """The last reference frame over the last image's rectangle, where the
    image is not transparent; transparent pixels must be white."""
    frames = [f for f in conf["config"]["frames"].split(",") if f.strip()]
    reference = suite_reference(conf, os.path.dirname(path), frames[-1].strip())
    with open(path, "rb") as f:
        _, images = walk(f.read())
    image = images[-1]
    left, top, width, height = image["rect"]
    indices = pillow_indices(image, scratch)
    if indices is None:
        return "Pillow cannot tell the transparent pixels"
    h = max(0, min(height, reference.shape[0] - top))
    w = max(0, min(width, reference.shape[1] - left))
    want = reference[top:top + h, left:left + w, :3].copy()
    want[indices[:h, :w] == image["transparent"]] = 255
    if ours[:h, :w].shape != want.shape:
        return f"size {ours.shape[1::-1]}, the image's {want.shape[1::-1]}"
    problems = int((ours[:h, :w] != want).any(axis=2).sum())
    return f"{problems} pixels differ from the suite" if problems else None


def check_pygif(cli, path, scratch):
    name = os.path.basename(path)
    conf = configparser.ConfigParser(interpolation=None)
    conf.read(os.path.splitext(path)[0] + ".conf")
    ours, _ = decode(cli, path, os.path.join(scratch, "out.png"))
    valid = bool(conf["config"]["frames"].strip())
    expected = SUITE_DIFFERS.get(name, "decoded" if valid else "refused")
    if ours is None:
        return None if expected == "refused" else "refused"
    if expected == "refused":
        return "decoded, expected no image"
    problems = [check_against_pillow(path, ours, scratch)]
    if valid and name not in SUITE_DIFFERS:
        problems.append(check_against_suite(path, conf, ours, scratch))
    return "; ".join(p for p in problems if p) or None


def check_plain(cli, path, scratch):
    ours, _ = decode(cli, path, os.path.join(scratch, "out.png"))
    if os.path.basename(path) in REFUSED:
        return None if ours is None else "decoded, expected refusal"
    if ours is None:
        return "refused"
    return check_against_pillow(path, ours, scratch)


def main():
    args = parse_arguments()
    root = os.path.join(args.testdata, "gif")
    files = []
    for folder in ("", "suite-peterdn", "suite-pygif"):
        directory = os.path.join(root, folder)
        if not os.path.isdir(directory):  # the bundled part lacks pygif's
            print(f"{directory}: absent, not checked")
            continue
        files += [os.path.join(folder, name)
                  for name in sorted(os.listdir(directory))
                  if name.endswith(".gif")]
    return run_suite(files, lambda rel, scratch: (
        check_pygif if rel.startswith("suite-pygif") else check_plain)(
            args.cli, os.path.join(root, rel), scratch))


if __name__ == "__main__":
    sys.exit(main())

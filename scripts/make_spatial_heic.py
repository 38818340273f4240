#!/usr/bin/env python3
"""Makes a spatial (stereo) HEIC from a left and a right picture.

heif-enc (libheif-examples) encodes both pictures as two images of one file;
libheif cannot write entity groups, so a `grpl` box with a `ster` group
(left item first) is then put at the end of `meta`, the boxes around it
grown and the item data offsets behind it moved.  Optionally adds a
horizontal disparity adjustment property to both items.

    make_spatial_heic.py LEFT RIGHT OUT.heic [--disparity N] [--swap]
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

DISPARITY_UUID = bytes.fromhex("de22508536cb436587432f8705e7c78a")


def box(kind, body):
    return struct.pack(">I", 8 + len(body)) + kind + body


def find(data, path, start=0, end=None):
    """Start of the box at `path` (outermost first)."""
    end = len(data) if end is None else end
    at, found = start, None
    for kind in path:
        found = None
        while at + 8 <= end:
            size = struct.unpack(">I", data[at:at + 4])[0]
            if data[at + 4:at + 8] == kind:
                found = at
                end = at + size
                at += 12 if kind == b"meta" else 8
                break
            at += size
        if found is None:
            sys.exit("no %s box" % b"/".join(path).decode())
    return found


def shift_offsets(data, after, delta):
    at = find(data, [b"meta", b"iloc"]) + 8
    version = data[at]
    at += 4
    offset_size, length_size = data[at] >> 4, data[at] & 15
    base_size, index_size = data[at + 1] >> 4, (data[at + 1] & 15) if version else 0
    at += 2

    def read(n):
        return int.from_bytes(data[at:at + n], "big")

    count_size = 2 if version < 2 else 4
    items = read(count_size)
    at += count_size
    for _ in range(items):
        at += count_size
        method = 0
        if version:
            method = read(2) & 15
            at += 2
        at += 2
        base = read(base_size)
        if method == 0 and base_size and base >= after:
            data[at:at + base_size] = (base + delta).to_bytes(base_size, "big")
        at += base_size
        extents = read(2)
        at += 2
        for _ in range(extents):
            at += index_size
            offset = read(offset_size)
            if method == 0 and not base and offset >= after:
                data[at:at + offset_size] = (offset + delta).to_bytes(offset_size, "big")
            at += offset_size + length_size


def insert(data, path, content):
    start = find(data, path)
    end = start + struct.unpack(">I", data[start:start + 4])[0]
    data[end:end] = content
    for depth in range(1, len(path) + 1):
        at = find(data, path[:depth])
        size = struct.unpack(">I", data[at:at + 4])[0]
        data[at:at + 4] = struct.pack(">I", size + len(content))
    shift_offsets(data, end, len(content))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("left")
    parser.add_argument("right")
    parser.add_argument("out")
    parser.add_argument("--disparity", type=int, help="1/10,000 of the width")
    parser.add_argument("--swap", action="store_true",
                        help="store the right picture first (group order kept)")
    args = parser.parse_args()
    first, second = (args.right, args.left) if args.swap else (args.left, args.right)
    with tempfile.TemporaryDirectory() as scratch:
        plain = os.path.join(scratch, "two.heic")
        subprocess.run(["heif-enc", "-q", "92", first, second, "-o", plain],
                       check=True, stdout=subprocess.DEVNULL)
        data = bytearray(open(plain, "rb").read())
        # Item ids as heif-info lists the top-level images, in encoding
        # order (small pictures are stored as derived images, not items 1, 2).
        listing = subprocess.run(["heif-info", plain], check=True,
                                 capture_output=True, text=True).stdout
        ids = [int(i) for i in re.findall(r"^image: .*\(id=(\d+)\)", listing, re.M)]
    if len(ids) != 2:
        sys.exit("heif-enc wrote %d images, not 2" % len(ids))
    left_id, right_id = (ids[1], ids[0]) if args.swap else (ids[0], ids[1])
    group = struct.pack(">IIIII", 0, 1, 2, left_id, right_id)
    insert(data, [b"meta"], box(b"grpl", box(b"ster", group)))
    if args.disparity is not None:
        ipco = find(data, [b"meta", b"iprp", b"ipco"])
        # The new property's index: one past the boxes ipco holds.
        at, end, count = ipco + 8, ipco + struct.unpack(">I", data[ipco:ipco + 4])[0], 0
        while at < end:
            at += struct.unpack(">I", data[at:at + 4])[0]
            count += 1
        prop = box(b"uuid", DISPARITY_UUID + struct.pack(">i", args.disparity))
        insert(data, [b"meta", b"iprp", b"ipco"], prop)
        # A second association list (version 1: 32-bit ids, 15-bit indexes).
        entries = b"".join(struct.pack(">IBH", item, 1, count + 1)
                           for item in ids)
        ipma = box(b"ipma", struct.pack(">II", 0x01000001, 2) + entries)
        insert(data, [b"meta", b"iprp"], ipma)
    open(args.out, "wb").write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes stereo-camera-like MPO files for the timing scripts.

    make_camera_mpo.py OUT_FOLDER [COUNT]

Each NAME.mpo holds two 4000 x 3000 views at JPEG quality 92 (about 4 MB
each) with camera-like texture: soft light, objects with edges, fine grain
and sensor noise; the second view is the first seen from a little to the
side.  Beside each file its two pictures are written as NAME_1.jpg and
NAME_2.jpg, byte for byte as they stand in the MPO, for a plain JPEG decoder
to time against.
"""
import io
import os
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "scripts"))
from make_samples import build_mpo  # noqa: E402

WIDTH, HEIGHT = 4000, 3000
QUALITY = 92


def scene(seed):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float32)
    # Soft light across the frame.
    base = np.stack([
        90 + 60 * np.sin(x / 700 + seed) * np.cos(y / 900),
        100 + 50 * np.cos(x / 1100 - y / 800),
        80 + 40 * np.sin((x + y) / 1300 + seed),
    ], axis=-1)
    # Objects: discs and bars of their own colour, sharp edges.
    for _ in range(60):
        cx, cy = rng.uniform(0, WIDTH), rng.uniform(0, HEIGHT)
        r = rng.uniform(40, 400)
        colour = rng.uniform(-80, 80, 3)
        if rng.random() < 0.5:
            mask = (x - cx) ** 2 + (y - cy) ** 2 < r * r
        else:
            mask = (abs(x - cx) < r) & (abs(y - cy) < r / 4)
        base[mask] += colour
    # Fine texture (foliage, fabric) and sensor noise.
    grain = rng.normal(0, 10, (HEIGHT // 4, WIDTH // 4, 1)).astype(np.float32)
    grain = np.repeat(np.repeat(grain, 4, axis=0), 4, axis=1)
    base += grain + rng.normal(0, 3, base.shape).astype(np.float32)
    return np.clip(base, 0, 255).astype(np.uint8)


def jpeg(pixels):
    out = io.BytesIO()
    Image.fromarray(pixels).save(out, "JPEG", quality=QUALITY)
    return out.getvalue()


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    folder = argv[1]
    count = int(argv[2]) if len(argv) > 2 else 1
    os.makedirs(folder, exist_ok=True)
    for n in range(count):
        left = scene(2 * n + 1)
        # The other eye: the scene moved 40 columns, its grain its own.
        right = np.roll(left, -40, axis=1)
        noise = np.random.default_rng(2 * n + 2).normal(0, 3, right.shape)
        right = np.clip(right + noise, 0, 255).astype(np.uint8)
        mpo = build_mpo(jpeg(left), jpeg(right))
        second = mpo.index(b"\xff\xd8", 2)
        while mpo[second + 2:second + 4] != b"\xff\xe1":
            second = mpo.index(b"\xff\xd8", second + 2)
        name = os.path.join(folder, "camera%02d" % (n + 1))
        with open(name + ".mpo", "wb") as f:
            f.write(mpo)
        with open(name + "_1.jpg", "wb") as f:
            f.write(mpo[:second])
        with open(name + "_2.jpg", "wb") as f:
            f.write(mpo[second:])


if __name__ == "__main__":
    main(sys.argv)

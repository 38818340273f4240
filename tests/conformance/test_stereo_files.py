#!/usr/bin/python3
"""Stereo files in and out as other programs make and read them, each
judged by a program that is not ours (exiftool, Pillow):

- a JPS that declares over/under is cut into its upper and lower views;
  one that declares the right view first gives its right half as the left
  view; our own JPS says (to exiftool) side by side, right view first, and
  reads back to the views it was written from;
- convert --to mpo/jps keeps the camera's Exif (Make, Model, dates) with
  the size tags of the new pictures;
- scene_L/scene_R given together, or beside each other in a folder, are one
  pair; views of two widths are centred in halves of the wider width;
- thumbnail, render, split and decode refuse to write over their input;
- an MPO with its MP index in the first picture only (as Pillow writes
  them) gives the picture the index points at as its right view."""
import io
import os
import shutil
import sys
import tempfile
import warnings

import numpy as np
from PIL import Image

from support import (Checks, exiftool_json, exiftool_second_picture, load_rgb,
                     parse_arguments, read, run)

# Pillow warns about the MP segment of a picture taken out of an MPO.
warnings.filterwarnings("ignore", category=UserWarning)

JPS_MARK = b"_JPSJPS_"


def rgb(image):
    return np.asarray(image.convert("RGB"), dtype=np.int16)


def mean_diff(a, b):
    if a.shape != b.shape:
        return 999.0
    return float(np.abs(a.astype(np.int16) - b.astype(np.int16)).mean())


def view(width, height, seed):
    """Smooth ramps JPEG keeps well, a different blue for each seed."""
    y, x = np.mgrid[0:height, 0:width]
    pixels = np.stack([40 + 150 * x // width, 40 + 150 * y // height,
                       np.full(x.shape, (60 + 40 * seed) % 256)], axis=2)
    return Image.fromarray(pixels.astype(np.uint8), "RGB")


def with_descriptor(jpeg, flags, layout):
    """The JPEG with an APP3 stereo descriptor after its SOI."""
    body = JPS_MARK + bytes([0, 4, 0, flags, layout, 1, 0, 0])
    segment = b"\xff\xe3" + (len(body) + 2).to_bytes(2, "big") + body
    return jpeg[:2] + segment + jpeg[2:]


def jpeg_bytes(image, **options):
    out = io.BytesIO()
    image.save(out, "JPEG", quality=95, **options)
    return out.getvalue()


def split(cli, path, work):
    left, right = os.path.join(work, "l.png"), os.path.join(work, "r.png")
    result = run(cli, "split", path, "-l", left, "-r", right)
    if result.returncode != 0:
        return None, None, result.stderr.strip()
    return load_rgb(left).astype(np.int16), load_rgb(right).astype(np.int16), ""


def check_descriptors(c, cli, testdata, work):
    sample = os.path.join(testdata, "sbs", "exiftool_ExifTool_overunder.jps")
    if os.path.exists(sample):
        tags = exiftool_json(sample)
        whole = rgb(Image.open(sample))
        left, right, why = split(cli, sample, work)
        c.expect(tags.get("JPSLayout") == 3 and left is not None and
                 mean_diff(left, whole[:4]) < 1 and
                 mean_diff(right, whole[4:8]) < 1,
                 f"exiftool's over/under JPS: upper view left, lower right {why}")
    # Pillow's side-by-side JPEG with a descriptor: right view first.
    a, b = view(96, 64, 1), view(96, 64, 2)
    frame = Image.new("RGB", (192, 64))
    frame.paste(b, (0, 0))
    frame.paste(a, (96, 0))
    path = os.path.join(work, "crossed.jps")
    with open(path, "wb") as f:
        f.write(with_descriptor(jpeg_bytes(frame), 0, 2))
    c.expect(exiftool_json(path).get("JPSFlags") == 0,
             "exiftool reads the right-first descriptor")
    decoded = rgb(Image.open(path))
    left, right, why = split(cli, path, work)
    c.expect(left is not None and mean_diff(left, decoded[:, 96:]) < 1 and
             mean_diff(right, decoded[:, :96]) < 1,
             f"a right-first JPS gives its right half as the left view {why}")
    # Over/under, left first, as the viewer's renderer is given it.
    frame = Image.new("RGB", (96, 128))
    frame.paste(a, (0, 0))
    frame.paste(b, (0, 64))
    path = os.path.join(work, "stacked.jps")
    with open(path, "wb") as f:
        f.write(with_descriptor(jpeg_bytes(frame), 4, 3))
    out = os.path.join(work, "stacked-render.png")
    result = run(cli, "render", path, "--format", "SideBySide", "--size",
                 "192x64", "--screen", "96x64", "-o", out)
    decoded = rgb(Image.open(path))
    rendered = load_rgb(out).astype(np.int16) if result.returncode == 0 else None
    c.expect(rendered is not None and rendered.shape == (64, 192, 3) and
             mean_diff(rendered[:, :96], decoded[:64]) < 4 and
             mean_diff(rendered[:, 96:], decoded[64:]) < 4,
             f"the viewer shows an over/under JPS's views side by side "
             f"({result.stderr.strip()})")


def check_written_files(c, cli, testdata, work):
    source = os.path.join(testdata, "mpo", "pillow_sugarshack.mpo")
    if not os.path.exists(source):
        print(f"skip: {source} absent")
        return
    camera = exiftool_json(source)
    mpo = Image.open(source)
    frames = []
    for k in range(2):
        mpo.seek(k)
        frames.append(rgb(mpo))
    out = os.path.join(work, "written")
    result = run(cli, "convert", source, "--to", "jps", "-o", out, "--jobs", "1")
    jps = os.path.join(out, "pillow_sugarshack.jps")
    c.expect(result.returncode == 0 and os.path.exists(jps),
             f"convert --to jps ({result.stderr.strip()})")
    if not os.path.exists(jps):
        return
    tags = exiftool_json(jps)
    w, h = frames[0].shape[1], frames[0].shape[0]
    c.expect(tags.get("JPSLayout") == 2 and tags.get("JPSFlags") == 0 and
             tags.get("JPSType") == 1,
             f"exiftool: side by side, right view first, stereo "
             f"({tags.get('JPSLayout')}, {tags.get('JPSFlags')})")
    for tag in ("Make", "Model", "DateTimeOriginal", "Software"):
        c.expect(tags.get(tag) == camera.get(tag) and tag in camera,
                 f"JPS keeps the camera's {tag} ({tags.get(tag)})")
    c.expect(tags.get("ExifImageWidth") == 2 * w and
             tags.get("ExifImageHeight") == h,
             f"JPS size tags are the frame's ({tags.get('ExifImageWidth')})")
    sbs = rgb(Image.open(jps))
    c.expect(mean_diff(sbs[:, :w], frames[1]) < 4 and
             mean_diff(sbs[:, w:], frames[0]) < 4,
             "Pillow sees the right view in the left half")
    left, right, why = split(cli, jps, work)
    c.expect(left is not None and mean_diff(left, frames[0]) < 4 and
             mean_diff(right, frames[1]) < 4,
             f"our reader reads our JPS back to the views {why}")

    result = run(cli, "convert", source, "--to", "mpo", "-o", out, "--jobs", "1")
    written = os.path.join(out, "pillow_sugarshack.mpo")
    c.expect(result.returncode == 0, f"convert --to mpo ({result.stderr.strip()})")
    tags = exiftool_json(written)
    c.expect(all(tags.get(t) == camera.get(t) for t in
                 ("Make", "Model", "DateTimeOriginal")) and
             tags.get("ExifImageWidth") == w,
             f"MPO keeps the camera's Exif ({tags.get('Make')}, "
             f"{tags.get('Model')}, {tags.get('DateTimeOriginal')})")
    second = exiftool_second_picture(written)
    part2 = os.path.join(work, "part2.jpg")
    with open(part2, "wb") as f:
        f.write(second or b"")
    tags = exiftool_json(part2) if second else {}
    c.expect(tags.get("Model") == camera.get("Model") and
             tags.get("ExifImageWidth") == frames[1].shape[1],
             f"the second picture carries the camera's Exif too "
             f"({tags.get('Model')})")


def check_pairs(c, cli, work):
    folder = os.path.join(work, "pairs")
    os.makedirs(folder)
    left, right = view(120, 80, 3), view(100, 80, 4)
    left.save(os.path.join(folder, "scene_L.png"))
    right.save(os.path.join(folder, "scene_R.png"))
    view(160, 80, 5).save(os.path.join(folder, "lone.png"))
    out = os.path.join(work, "paired")
    result = run(cli, "convert", os.path.join(folder, "scene_L.png"),
                 os.path.join(folder, "scene_R.png"), "--to", "mpo", "-o", out,
                 "--jobs", "1")
    made = sorted(os.listdir(out)) if os.path.isdir(out) else []
    c.expect(result.returncode == 0 and made == ["scene_L.mpo"],
             f"two files given together are one pair: {made} "
             f"({result.stderr.strip()})")
    if made == ["scene_L.mpo"]:
        # Pillow gives every frame the first one's size: the second picture
        # is taken out by exiftool, then decoded.
        written = os.path.join(out, "scene_L.mpo")
        first = rgb(Image.open(written))
        second = exiftool_second_picture(written)
        second = rgb(Image.open(io.BytesIO(second))) if second else None
        c.expect(second is not None and mean_diff(first, rgb(left)) < 3 and
                 mean_diff(second, rgb(right)) < 3,
                 "the MPO's pictures are the left and right files")
    out = os.path.join(work, "folder")
    result = run(cli, "convert", folder, "--to", "jps", "-o", out, "--jobs", "1")
    made = sorted(os.listdir(out)) if os.path.isdir(out) else []
    c.expect(made == ["lone.jps", "scene_L.jps"],
             f"in a folder, the named pair is one item: {made}")
    jps = os.path.join(out, "scene_L.jps")
    if os.path.exists(jps):
        sbs = rgb(Image.open(jps))
        # Halves 120 wide: the 100-wide right view is centred in the left one.
        c.expect(sbs.shape == (80, 240, 3) and
                 mean_diff(sbs[:, 10:110], rgb(right)) < 3 and
                 mean_diff(sbs[:, 120:], rgb(left)) < 3 and
                 np.abs(sbs[:, :8]).mean() < 6 and
                 np.abs(sbs[:, 112:120]).mean() < 6,
                 f"views of two widths: the narrower centred on black "
                 f"({sbs.shape})")


def check_inputs_refused(c, cli, testdata, work):
    photo = os.path.join(work, "photo.jps")
    shutil.copy(os.path.join(os.path.dirname(__file__), "..", "..",
                             "resources", "samples", "scene.jps"), photo)
    before = read(photo)
    link = os.path.join(work, "link.jps")
    os.symlink(photo, link)
    for words in (["thumbnail", photo, photo],
                  ["thumbnail", photo, link],
                  ["render", photo, "--format", "0", "-o", link],
                  ["split", photo, "-l", os.path.join(work, "x.png"), "-r", photo],
                  ["decode", photo, "-o", photo]):
        result = run(cli, *words)
        c.expect(result.returncode == 1 and read(photo) == before and
                 "not overwritten" in result.stderr,
                 f"{words[0]} onto its input is refused "
                 f"({result.returncode}: {result.stderr.strip()})")


def check_pillow_mpo(c, cli, work):
    a, b = view(64, 48, 6), view(64, 48, 7)
    path = os.path.join(work, "pillow.mpo")
    a.save(path, "MPO", save_all=True, append_images=[b], quality=95)
    data = read(path)
    if data.count(b"MPF\x00") != 1:
        print("skip: this Pillow writes an MP segment in each picture")
        return
    mpo = Image.open(path)
    frames = []
    for k in range(2):
        mpo.seek(k)
        frames.append(rgb(mpo))
    left, right, why = split(cli, path, work)
    c.expect(left is not None and mean_diff(left, frames[0]) < 1 and
             mean_diff(right, frames[1]) < 1,
             f"an MPO with the MP index in its first picture only {why}")


def main():
    args = parse_arguments()
    c = Checks()
    with tempfile.TemporaryDirectory() as work:
        check_descriptors(c, args.cli, args.testdata, work)
        check_written_files(c, args.cli, args.testdata, work)
        check_pairs(c, args.cli, work)
        check_inputs_refused(c, args.cli, args.testdata, work)
        check_pillow_mpo(c, args.cli, work)
    return c.status()


if __name__ == "__main__":
    sys.exit(main())

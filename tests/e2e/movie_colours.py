#!/usr/bin/env python3
"""Movie colours as the stream declares them, against FFmpeg's own RGB
decode of the same stream (and the --rgb path, GStreamer's videoconvert):

- a full-range MJPEG AVI (yuvj420p, as 3D cameras record, one stream or
  two merged side by side) keeps its blacks and whites: a grey ramp is not
  stretched as studio range;
- a BT.709 HD movie is converted with the BT.709 matrix;
- an SD movie that declares nothing keeps BT.601 studio range;
- an interlaced 4:2:0 movie whose two fields differ in colour gives each
  row its own field's colour.

Each movie holds a grey ramp over its upper half and flat colour blocks
below; only the blocks' insides are compared, away from edges where chroma
upsampling may differ.  Exits 77 (skipped) when ffmpeg is missing."""
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

from xvfb_session import missing_tool, parse_arguments, with_leak_suppressions

COLOURS = [(200, 40, 40), (40, 180, 60), (50, 60, 210), (230, 210, 40)]


def source_picture(width, height, fields=False):
    """The ramp and blocks; with `fields`, odd rows of the blocks in another
    colour, so that the two fields differ."""
    pixels = np.zeros((height, width, 3), np.uint8)
    ramp = (np.arange(width) * 255 // (width - 1)).astype(np.uint8)
    pixels[: height // 2] = ramp[None, :, None]
    block = width // len(COLOURS)
    for k, colour in enumerate(COLOURS):
        pixels[height // 2:, k * block:(k + 1) * block] = colour
        if fields:
            other = COLOURS[(k + 2) % len(COLOURS)]
            pixels[height // 2 + 1::2, k * block:(k + 1) * block] = other
    return Image.fromarray(pixels, "RGB")


def ffmpeg(*words):
    subprocess.run(["ffmpeg", "-v", "error", "-y", *words], check=True,
                   timeout=300)


def insides(width, height):
    """The rows and columns compared: the ramp's middle rows (all columns
    but the edges) and the blocks' insides."""
    rows = list(range(height // 8, height // 2 - height // 8))
    rows += list(range(height // 2 + height // 8, height - height // 8))
    block = width // len(COLOURS)
    columns = [x for k in range(len(COLOURS))
               for x in range(k * block + block // 4, (k + 1) * block - block // 4)]
    return np.ix_(rows, columns)


def ours(cli, env, movie, width, height, work, *extra):
    out = os.path.join(work, "ours-" + os.path.basename(movie) +
                       "".join(extra))
    subprocess.run([cli, "movie", movie, "--format", "SideBySide",
                    "--size", f"{width}x{height}", "--screen",
                    f"{width}x{height}", "--frames", "1", "-o", out, *extra],
                   env=env, check=True, capture_output=True, timeout=300)
    return np.asarray(Image.open(os.path.join(out, "frame-0001.png"))
                      .convert("RGB"), np.int16)


def oracle(movie, scale, work):
    out = os.path.join(work, "ffmpeg-" + os.path.basename(movie) + ".png")
    ffmpeg("-i", movie, "-frames:v", "1", "-vf", scale + ",format=rgb24",
           "-sws_flags", "accurate_rnd+full_chroma_int", out)
    return np.asarray(Image.open(out).convert("RGB"), np.int16)


def compare(name, got, want, width, height, failures, most=4, mean=1.5):
    if got.shape != want.shape:
        failures.append(f"{name}: size {got.shape} against {want.shape}")
        return
    d = np.abs(got - want)[insides(width, height)]
    verdict = d.max() <= most and d.mean() <= mean
    print(("ok   " if verdict else "FAIL ") +
          f"{name}: max {d.max()}, mean {d.mean():.2f} levels apart")
    if not verdict:
        failures.append(name)


def main():
    args = parse_arguments("cli")
    status = missing_tool(skip=("ffmpeg",))
    if status is not None:
        return status
    env = with_leak_suppressions(dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    failures = []
    with tempfile.TemporaryDirectory(prefix="duoramic-colours-") as work:
        def still(width, height, fields=False):
            path = os.path.join(work, f"source-{width}-{fields}.png")
            source_picture(width, height, fields).save(path)
            return ["-loop", "1", "-framerate", "5", "-i", path, "-t", "0.6"]

        # Full range: MJPEG in AVI as cameras write it.
        movie = os.path.join(work, "camera.avi")
        ffmpeg(*still(128, 64), "-vf", "scale=out_range=pc,format=yuvj420p",
               "-c:v", "mjpeg", "-q:v", "1", movie)
        compare("full-range MJPEG", ours(args.cli, env, movie, 128, 64, work),
                oracle(movie, "scale=in_range=pc", work), 128, 64, failures)

        # A 3D camera's AVI: two full-range MJPEG streams, merged side by
        # side (the same picture in both, so no parallax to allow for).
        movie = os.path.join(work, "two-streams.avi")
        ffmpeg(*still(128, 64), *still(128, 64), "-map", "0", "-map", "1",
               "-vf", "scale=out_range=pc,format=yuvj420p", "-c:v", "mjpeg",
               "-q:v", "1", movie)
        one = oracle(movie, "scale=in_range=pc", work)
        merged = ours(args.cli, env, movie, 256, 64, work)
        for side, view in (("left", merged[:, :128]), ("right", merged[:, 128:])):
            compare(f"two full-range MJPEG streams, {side} view", view, one,
                    128, 64, failures)

        # BT.709, studio range, HD.
        movie = os.path.join(work, "hd.mp4")
        ffmpeg(*still(1280, 720), "-vf",
               "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p",
               "-c:v", "libx264", "-qp", "0", "-colorspace", "bt709",
               "-color_primaries", "bt709", "-color_trc", "bt709",
               "-color_range", "tv", movie)
        hd = ours(args.cli, env, movie, 1280, 720, work)
        compare("BT.709 HD", hd,
                oracle(movie, "scale=in_color_matrix=bt709:in_range=tv", work),
                1280, 720, failures)
        # videoconvert rounds more coarsely than FFmpeg's accurate mode.
        compare("BT.709 HD against --rgb", hd,
                ours(args.cli, env, movie, 1280, 720, work, "--rgb"),
                1280, 720, failures, most=6, mean=3)

        # SD that declares nothing: BT.601 studio range, as before.
        movie = os.path.join(work, "sd.avi")
        ffmpeg(*still(320, 240), "-vf",
               "scale=out_color_matrix=bt601:out_range=tv,format=yuv420p",
               "-c:v", "mpeg2video", "-q:v", "1", movie)
        compare("undeclared SD", ours(args.cli, env, movie, 320, 240, work),
                oracle(movie, "scale=in_color_matrix=bt601:in_range=tv", work),
                320, 240, failures)

        # Interlaced 4:2:0: the fields' colours differ row by row.
        movie = os.path.join(work, "interlaced.mp4")
        ffmpeg(*still(640, 480, fields=True), "-vf",
               "scale=out_color_matrix=bt601:out_range=tv:interl=1,"
               "format=yuv420p,setfield=tff", "-c:v", "libx264", "-qp", "0",
               "-flags", "+ilme+ildct", "-x264opts", "tff=1",
               "-colorspace", "smpte170m", "-color_range", "tv", movie)
        compare("interlaced 4:2:0",
                ours(args.cli, env, movie, 640, 480, work),
                oracle(movie, "scale=in_color_matrix=bt601:in_range=tv:interl=1",
                       work), 640, 480, failures)
    if failures:
        print("FAILED: " + ", ".join(failures))
        return 1
    print("movie colours: range, matrix and fields as the stream declares")
    return 0


if __name__ == "__main__":
    sys.exit(main())

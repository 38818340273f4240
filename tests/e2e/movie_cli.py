#!/usr/bin/env python3
"""duoramic-cli info and movie on a movie made by ffmpeg.

Frame n of the movie is red n x 10 all over (green 200), so a written frame
tells which movie frame it shows.  Checks the JSON of `info` (also of an over/under Matroska movie and of
a VR180 MP4 whose spherical boxes the test adds), that `movie
--start 0.5 --frames 3 -o DIR` writes frames 5, 6 and 7, that --bench
prints its figures, and that a movie stopping on an error after some frames
exits 1 with the reason.  Exits 77 (skipped) when ffmpeg is missing.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image

from xvfb_session import missing_tool, parse_arguments, with_leak_suppressions


def run(command, env):
    result = subprocess.run(command, env=env, capture_output=True, text=True,
                            timeout=300)
    if result.returncode != 0:
        raise SystemExit(f"FAILED: {' '.join(command)}: {result.stderr}")
    return result.stdout


def box(kind, body):
    return struct.pack(">I", 8 + len(body)) + kind + body


def full_box(kind, *fields):
    return box(kind, bytes(4) + b"".join(struct.pack(">I", f) for f in fields))


def add_to_video_entry(path, children):
    """Appends boxes to the first sample entry of an MP4 whose moov follows
    its mdat (FFmpeg's layout: no chunk offset moves), growing its parents."""
    data = bytearray(open(path, "rb").read())
    at, end, parents = 0, len(data), []
    for kind in (b"moov", b"trak", b"mdia", b"minf", b"stbl", b"stsd"):
        while data[at + 4:at + 8] != kind:
            at += struct.unpack(">I", data[at:at + 4])[0]
            if at + 8 > end:
                raise SystemExit(f"FAILED: no {kind} in {path}")
        parents.append(at)
        end = at + struct.unpack(">I", data[at:at + 4])[0]
        at += 16 if kind == b"stsd" else 8
    parents.append(at)
    insert = at + struct.unpack(">I", data[at:at + 4])[0]
    data[insert:insert] = children
    for start in parents:
        size = struct.unpack(">I", data[start:start + 4])[0]
        data[start:start + 4] = struct.pack(">I", size + len(children))
    open(path, "wb").write(bytes(data))


def check_vr180_info(cli, env, work):
    """A VR180 movie (st3d left-right, equirectangular over the front half)
    reports its projection and field of view."""
    movie = os.path.join(work, "vr180.mp4")
    subprocess.run(
        ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
         "testsrc2=s=64x32:r=10:d=1", "-c:v", "libx264", movie],
        check=True, timeout=300)
    quarter = 0x40000000
    proj = box(b"proj", full_box(b"prhd", 0, 0, 0) +
               full_box(b"equi", 0, 0, quarter, quarter))
    add_to_video_entry(movie, box(b"st3d", bytes(4) + b"\x02") +
                       box(b"sv3d", box(b"svhd", bytes(5)) + proj))
    info = json.loads(run([cli, "info", movie, "--json"], env))
    expected = {"shape": "side-by-side", "right_first": False,
                "projection": "equirectangular", "horizontal_fov_deg": 180.0,
                "vertical_fov_deg": 180.0}
    for key, value in expected.items():
        if info.get(key) != value:
            raise SystemExit(f"FAILED: VR180 info {key} = {info.get(key)}, "
                             f"expected {value}")


def check_error_after_frames(cli, env, work):
    """A movie that plays some frames and then stops on an error fails,
    saying why: frames already written do not make it a success.  The MP4's
    sample table gives its frame at 4.5 s 48 MiB, which the demuxer refuses
    when it gets there (well after the first frame, which the queue of one
    second ahead holds back while the movie is opened)."""
    movie = os.path.join(work, "broken.mp4")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=s=32x16:r=10:d=6", "-c:v", "mjpeg", movie],
                   check=True, timeout=300)
    with open(movie, "rb") as f:
        data = bytearray(f.read())
    sizes = data.find(b"stsz") + 16  # after version, flags, size and count
    if sizes < 16 or int.from_bytes(data[sizes - 8:sizes - 4], "big") != 0:
        raise SystemExit("FAILED: the MP4 has no table of sample sizes")
    data[sizes + 45 * 4:sizes + 46 * 4] = (48 << 20).to_bytes(4, "big")
    with open(movie, "wb") as f:
        f.write(data)
    out = os.path.join(work, "broken-frames")
    result = subprocess.run([cli, "movie", movie, "--format", "SideBySide",
                             "--size", "32x16", "-o", out], env=env,
                            capture_output=True, text=True, timeout=300)
    written = len(os.listdir(out)) if os.path.isdir(out) else 0
    if written == 0:
        raise SystemExit(f"FAILED: no frame before the error: {result.stderr}")
    if result.returncode != 1 or "playback stopped after" not in result.stderr:
        raise SystemExit(f"FAILED: an error after {written} frames exits "
                         f"{result.returncode}: {result.stderr.strip()!r}")


def main():
    args = parse_arguments("cli")
    status = missing_tool(skip=("ffmpeg",))
    if status is not None:
        return status
    env = with_leak_suppressions(dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    with tempfile.TemporaryDirectory(prefix="duoramic-movie-cli-") as work:
        movie = os.path.join(work, "count.avi")
        subprocess.run(
            ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
             "color=c=black:s=32x16:r=10:d=2,format=gbrp,"
             "geq=r='N*10':g='200':b='0',format=bgr24",
             "-c:v", "rawvideo", "-pix_fmt", "bgr24", movie],
            check=True, timeout=300)

        info = json.loads(run([args.cli, "info", movie, "--json"], env))
        expected = {"shape": "side-by-side", "width": 32, "height": 16,
                    "fps": 10.0, "duration_ms": 2000, "video_streams": 1,
                    "parallax_x": 0, "parallax_y": 0}
        for key, value in expected.items():
            if info.get(key) != value:
                raise SystemExit(f"FAILED: info {key} = {info.get(key)}, "
                                 f"expected {value}")

        # Matroska's StereoMode (bottom-top: over/under, right view first).
        over_under = os.path.join(work, "over_under.mkv")
        subprocess.run(
            ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
             "testsrc2=s=32x32:r=10:d=1", "-c:v", "libx264", "-metadata:s:v",
             "stereo_mode=bottom_top", over_under], check=True, timeout=300)
        info = json.loads(run([args.cli, "info", over_under, "--json"], env))
        expected = {"shape": "over-under", "right_first": True,
                    "view_width": 32, "view_height": 16,
                    "projection": "rectilinear"}
        for key, value in expected.items():
            if info.get(key) != value:
                raise SystemExit(f"FAILED: over/under info {key} = "
                                 f"{info.get(key)}, expected {value}")

        check_vr180_info(args.cli, env, work)

        out = os.path.join(work, "frames")
        run([args.cli, "movie", movie, "--format", "SideBySide", "--size",
             "32x16", "--start", "0.5", "--frames", "3", "-o", out], env)
        names = sorted(os.listdir(out))
        if names != ["frame-0001.png", "frame-0002.png", "frame-0003.png"]:
            raise SystemExit(f"FAILED: wrote {names}")
        for index, name in enumerate(names):
            red, green, _ = Image.open(os.path.join(out, name)).convert(
                "RGB").getpixel((8, 8))
            if (red, green) != ((5 + index) * 10, 200):
                raise SystemExit(f"FAILED: {name} shows red {red} green "
                                 f"{green}, not frame {5 + index}")

        bench = run([args.cli, "movie", movie, "--bench", "--format",
                     "DuboisAnaglyph", "--size", "64x32"], env)
        for line in ("decoded fps:", "presented fps:", "presentation share:",
                     "presentation cpu share:"):
            if line not in bench:
                raise SystemExit(f"FAILED: --bench printed no '{line}'")
        check_error_after_frames(args.cli, env, work)
    print("duoramic-cli info and movie: figures, seek, frames, bench and "
          "an error after frames")
    return 0


if __name__ == "__main__":
    sys.exit(main())

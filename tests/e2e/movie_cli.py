#!/usr/bin/env python3
"""duoramic-cli info and movie on a movie made by ffmpeg.

Frame n of the movie is red n x 10 all over (green 200), so a written frame
tells which movie frame it shows.  Checks the JSON of `info`, that `movie
--start 0.5 --frames 3 -o DIR` writes frames 5, 6 and 7, and that --bench
prints its figures.  Exits 77 (skipped) when ffmpeg is missing.
"""
import json
import os
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
    print("duoramic-cli info and movie: figures, seek, frames and bench")
    return 0


if __name__ == "__main__":
    sys.exit(main())

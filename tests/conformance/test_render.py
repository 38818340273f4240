#!/usr/bin/python3
"""duoramic-cli render: the client area the viewer shows, checked from outside.

The bundled side-by-side sample (1920 x 720, two 960 x 720 views) rendered on
a 960 x 720 screen needs no scaling, so what each format shows can be
predicted from Pillow's decoding of the file:

- SideBySide in a 1920 x 720 client is the file itself, and --swap exchanges
  the halves; OverUnder in 960 x 1440 stacks left over right;
- DuboisAnaglyph in 960 x 720 is the Dubois matrix product of the views
  (within rounding of the fixed-point tables);
- a floating offset of 10 moves the left view 96 columns right inside its
  picture and leaves the right view at column 0 (black strips beside them);
- a comment band 5 % of the picture's height sits under each view, black
  with light grey (192) text, only while the comment is on;
- a left/right pair of files is fitted to the --screen size: on a 480 x 360
  screen both 960 x 720 files are halved (area averaging, within rounding of
  Pillow's box filter; their comment band is switched off);
- the help overlay puts white text in the top-left corner only when asked;
- a numeric code renders like the format's name; an unknown name, a missing
  file and a bad size fail with a message naming the problem.
"""
import os
import sys
import tempfile

import numpy as np
from PIL import Image

from support import REPO, Checks, load_rgb, parse_arguments, run

SAMPLE = os.path.join(REPO, "resources", "samples", "scene.jps")
SCREEN = ["--screen", "960x720"]

DUBOIS = np.array([
    [0.4561, 0.500484, 0.176381, -0.0434706, -0.0879388, -0.00155529],
    [-0.0400822, -0.0378246, -0.0157589, 0.378476, 0.73364, -0.0184503],
    [-0.0152161, -0.0205971, -0.00546856, -0.0721527, -0.112961, 1.2264],
])


def expect_close(got, want, tolerance, what):
    if got.shape != want.shape:
        raise AssertionError(f"{what}: shape {got.shape}, wanted {want.shape}")
    worst = int(np.abs(got - want).max())
    if worst > tolerance:
        raise AssertionError(f"{what}: differs by up to {worst}")


def main():
    args = parse_arguments(corpus=False)  # the samples are enough
    source = load_rgb(SAMPLE).astype(int)
    left, right = source[:, :960], source[:, 960:]

    with tempfile.TemporaryDirectory() as scratch:
        def render(*words, expect=0):
            """The rendering as an int array, or the message of a run that
            must fail with `expect`."""
            out = os.path.join(scratch, "out.png")
            if os.path.exists(out):
                os.remove(out)
            result = run(args.cli, "render", *words, "-o", out)
            if result.returncode != expect:
                raise AssertionError(f"exit {result.returncode}, wanted "
                                     f"{expect}: {result.stderr.strip()}")
            return result.stderr if expect else load_rgb(out).astype(int)

        def side_by_side():
            expect_close(render(SAMPLE, "--format", "SideBySide",
                                  "--size", "1920x720", *SCREEN),
                         source, 0, "side by side")
            swapped = render(SAMPLE, "--format", "sidebyside", "--swap",
                               "--size", "1920x720", *SCREEN)
            expect_close(swapped, np.hstack([right, left]), 0, "swapped")

        def over_under():
            expect_close(render(SAMPLE, "--format", "OverUnder",
                                  "--size", "960x1440", *SCREEN),
                         np.vstack([left, right]), 0, "over/under")

        def dubois():
            got = render(SAMPLE, "--format", "DuboisAnaglyph",
                           "--size", "960x720", *SCREEN)
            mixed = np.concatenate([left, right], axis=2) @ DUBOIS.T
            expect_close(got, np.clip(np.floor(mixed), 0, 255), 2, "Dubois")
            by_code = render(SAMPLE, "--format", "15", "--size", "960x720",
                               *SCREEN)
            expect_close(by_code, got, 0, "code 15")

        def floating_window():
            got = render(SAMPLE, "--format", "SideBySide", "--float", "10",
                           "--size", "2112x720", *SCREEN)
            expect_close(got[:, :96], np.zeros((720, 96, 3)), 0, "left strip")
            expect_close(got[:, 96:1056], left, 0, "shifted left view")
            expect_close(got[:, 1056:2016], right, 0, "right view")
            expect_close(got[:, 2016:], np.zeros((720, 96, 3)), 0,
                         "right strip")

        def comment_band():
            commented = os.path.join(scratch, "commented.jps")
            with open(SAMPLE, "rb") as f:
                data = f.read()
            text = "立体写真のコメント".encode()
            segment = b"\xff\xfe" + (len(text) + 2).to_bytes(2, "big") + text
            with open(commented, "wb") as f:
                f.write(data[:2] + segment + data[2:])
            # 756 rows of screen leave 720 for the picture and 36 for the band.
            on = render(commented, "--format", "SideBySide",
                          "--size", "1920x756", "--screen", "960x756")
            expect_close(on[:720], source, 0, "picture above the band")
            for half in (on[720:, :960], on[720:, 960:]):
                grey = half[(half != 0).any(axis=2)]
                if len(grey) < 200:
                    raise AssertionError(f"band has {len(grey)} lit pixels")
                if not (grey == grey[:, :1]).all() or grey.max() != 192:
                    raise AssertionError("band text is not light grey")
            off = render(commented, "--format", "SideBySide", "--comment",
                           "off", "--size", "1920x720", "--screen", "960x720")
            expect_close(off, source, 0, "comment off")

        def pair_fitted_to_screen():
            files = [os.path.join(REPO, "resources", "samples", name)
                     for name in ("scene_L.jpg", "scene_R.jpg")]
            got = render(*files, "--format", "SideBySide", "--comment", "off",
                           "--size", "960x360", "--screen", "480x360")
            for half, name in ((got[:, :480], files[0]), (got[:, 480:], files[1])):
                want = np.asarray(Image.open(name).convert("RGB").resize(
                    (480, 360), Image.BOX)).astype(int)
                expect_close(half, want, 2, os.path.basename(name))

        def help_overlay():
            dark = os.path.join(scratch, "dark.png")
            Image.new("RGB", (640, 240), (40, 40, 40)).save(dark)
            plain = render(dark, "--format", "SideBySide", "--size", "640x400")
            helped = render(dark, "--format", "SideBySide", "--size",
                              "640x400", "--help-overlay")
            white = (helped >= 250).all(axis=2)
            rows = np.nonzero(white.any(axis=1))[0]
            if (plain >= 250).all(axis=2).any() or len(rows) == 0:
                raise AssertionError("white text only with the overlay")
            # 18 help lines, then the 4 second-key lines.
            if rows.min() < 21 or rows.max() > 23 + 20 * 21 + 20:
                raise AssertionError(f"white rows {rows.min()}..{rows.max()}")
            if white[:, :3].any():
                raise AssertionError("white left of the second pass's x")

        def failures():
            err = render(SAMPLE, "--format", "Bogus", expect=2)
            if "Bogus" not in err or "DuboisAnaglyph" not in err:
                raise AssertionError(f"unhelpful message: {err}")
            missing = os.path.join(scratch, "missing.jpg")
            err = render(missing, "--format", "0", expect=1)
            if missing not in err:
                raise AssertionError(f"file not named: {err}")
            render(SAMPLE, "--format", "0", "--size", "0x100", expect=2)
            render(SAMPLE, "--format", "0", "--width-mode", "3", expect=2)

        checks = Checks()
        for fn in (side_by_side, over_under, dubois, floating_window,
                   comment_band, pair_fitted_to_screen, help_overlay,
                   failures):
            checks.run(fn.__name__.replace("_", " "), fn)
        return checks.status()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Spatial HEIC photos and VR photos through duoramic-cli, against other
programs' readings of the same files.

A spatial HEIC is made from two pictures with heif-enc and
scripts/make_spatial_heic.py (both stereo orders); each view `split` gives
must be what heif-convert (libheif's own tool) decodes from that item.
`convert --to mpo` must give a file exiftool reads as a two-picture
disparity pair with both views at full size.  A VR photo made by exiftool
(the right JPEG in Extended XMP) must split into the left JPEG and the
embedded right JPEG, and `info --json` must give the panorama's fields of
view.  Our own PNG writer carries the pixels of both sides, so equal
pixels give equal files.  Exit 77 (skipped) without the tools.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile
import zlib

from xvfb_session import missing_tool, parse_arguments, with_leak_suppressions

HERE = os.path.dirname(os.path.abspath(__file__))
MAKER = os.path.join(HERE, "..", "..", "scripts", "make_spatial_heic.py")
failures = []


def expect(ok, what):
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def write_png(path, width, height, seed):
    rows = b"".join(
        b"\0" + bytes(v for x in range(width)
                      for v in ((x * 5 + seed * 70) % 256, (y * 7) % 256,
                                (x + y + seed * 90) % 256))
        for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def main():
    args = parse_arguments("cli")
    status = missing_tool(skip=("heif-enc", "heif-convert", "exiftool", "ffmpeg"))
    if status is not None:
        return status
    env = with_leak_suppressions(dict(os.environ, QT_QPA_PLATFORM="offscreen"))

    def cli(*words):
        return subprocess.run([args.cli, *words], capture_output=True,
                              text=True, env=env)

    def same_pixels(a, b, what):
        # Both through our PNG writer: equal pixels, equal bytes.
        ra, rb = (cli("decode", p, "-o", p + ".ours.png") for p in (a, b))
        expect(ra.returncode == 0 and rb.returncode == 0 and
               open(a + ".ours.png", "rb").read() ==
               open(b + ".ours.png", "rb").read(), what)

    with tempfile.TemporaryDirectory() as work:
        left, right = os.path.join(work, "left.png"), os.path.join(work, "right.png")
        write_png(left, 96, 64, 1)
        write_png(right, 96, 64, 2)
        for swap in (False, True):
            heic = os.path.join(work, "swapped.heic" if swap else "spatial.heic")
            subprocess.run([sys.executable, MAKER, left, right, heic] +
                           (["--swap"] if swap else []), check=True)
            # heif-convert writes the top-level images in file order.
            oracle = os.path.join(work, "oracle.png")
            subprocess.run(["heif-convert", heic, oracle], check=True,
                           capture_output=True)
            stored = [os.path.join(work, f"oracle-{i}.png") for i in (1, 2)]
            first_left = stored if not swap else stored[::-1]
            views = [os.path.join(work, n) for n in ("l.png", "r.png")]
            done = cli("split", heic, "-l", views[0], "-r", views[1])
            expect(done.returncode == 0, f"split {heic} ({done.stderr.strip()})")
            for view, item, eye in zip(views, first_left, ("left", "right")):
                same_pixels(view, item, f"{os.path.basename(heic)}: the {eye} "
                                        f"view is libheif's decode of its item")
        info = json.loads(cli("info", "--json", os.path.join(work, "spatial.heic")).stdout)
        expect(info["format"] == "HEIF" and info["left"] == {"width": 96, "height": 64}
               and info["right"] == {"width": 96, "height": 64},
               f"info --json gives both views' sizes ({info})")

        out = os.path.join(work, "mpo")
        done = cli("convert", os.path.join(work, "spatial.heic"), "--to", "mpo", "-o", out)
        mpo = os.path.join(out, "spatial.mpo")
        expect(done.returncode == 0 and os.path.exists(mpo),
               f"convert --to mpo ({done.stderr.strip()})")
        tags = json.loads(subprocess.run(
            ["exiftool", "-j", "-a", "-MPImageType", "-NumberOfImages", mpo],
            capture_output=True, text=True).stdout or "[{}]")[0]
        kinds = tags.get("MPImageType")
        kinds = kinds if isinstance(kinds, list) else [kinds]
        expect(tags.get("NumberOfImages") == 2 and
               all(k == "Multi-frame Disparity" for k in kinds),
               f"exiftool reads the MPO as a disparity pair ({tags})")
        info = json.loads(cli("info", "--json", mpo).stdout)
        expect(info.get("right") == {"width": 96, "height": 64},
               f"the MPO keeps both views at full size ({info})")

        # A VR photo: exiftool puts the right JPEG into Extended XMP.
        jpegs = []
        for name, source in (("vl.jpg", "testsrc"), ("vr.jpg", "testsrc2")):
            path = os.path.join(work, name)
            subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi",
                            "-i", f"{source}=size=160x96", "-frames:v", "1",
                            path], check=True)
            jpegs.append(path)
        photo = os.path.join(work, "photo.vr.jpg")
        subprocess.run(["exiftool", "-q", "-o", photo,
                        f"-XMP-GImage:ImageData<={jpegs[1]}",
                        "-XMP-GImage:ImageMimeType=image/jpeg",
                        "-XMP-GPano:ProjectionType=equirectangular",
                        "-XMP-GPano:FullPanoWidthPixels=640",
                        "-XMP-GPano:FullPanoHeightPixels=320",
                        "-XMP-GPano:CroppedAreaImageWidthPixels=160",
                        "-XMP-GPano:CroppedAreaImageHeightPixels=96",
                        "-XMP-GPano:CroppedAreaLeftPixels=240",
                        "-XMP-GPano:CroppedAreaTopPixels=112", jpegs[0]],
                       check=True)
        info = json.loads(cli("info", "--json", photo).stdout)
        expect(info.get("format") == "VR photo" and
               info.get("projection") == "equirectangular" and
               abs(info.get("horizontal_fov_deg", 0) - 90) < 1e-3 and
               abs(info.get("vertical_fov_deg", 0) - 54) < 1e-3,
               f"info --json gives the VR photo's projection ({info})")
        views = [os.path.join(work, n) for n in ("vl.png", "vr.png")]
        done = cli("split", photo, "-l", views[0], "-r", views[1])
        expect(done.returncode == 0, f"split the VR photo ({done.stderr.strip()})")
        same_pixels(views[0], jpegs[0], "the VR photo's left view is its JPEG")
        same_pixels(views[1], jpegs[1], "its right view is the embedded JPEG")
    print("PASSED" if not failures else f"{len(failures)} FAILED")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

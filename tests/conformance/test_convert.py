#!/usr/bin/python3
"""duoramic-cli convert: a folder with one broken file converts the rest,
names the broken one and exits 1; each output is what `render` gives for
that item; a list gives its entries; plain progress lines when stderr is
not a terminal and a bar when it is; bad usage exits 2 before any work."""
import contextlib
import os
import pty
import shutil
import subprocess
import sys
import tempfile

from support import REPO, Checks, parse_arguments, read, run

SAMPLES = os.path.join(REPO, "resources", "samples")
OPTIONS = ["--format", "DuboisAnaglyph", "--size", "160x90"]


def convert(cli, *words):
    return run(cli, "convert", *words, timeout=300)


def main():
    args = parse_arguments(corpus=False)  # the samples are enough
    c = Checks()
    with tempfile.TemporaryDirectory() as work:
        folder = os.path.join(work, "in")
        os.makedirs(folder)
        for name in ("scene.mpo", "scene.jps", "scene.pns", "scene_L.jpg"):
            shutil.copy(os.path.join(SAMPLES, name), folder)
        broken = os.path.join(folder, "broken.jpg")
        with open(broken, "wb") as f:
            f.write(b"\xff\xd8\xff\xe0 not really a picture")
        out = os.path.join(work, "out")
        result = convert(args.cli, folder, *OPTIONS, "-o", out, "--jobs", "2")
        c.expect(result.returncode == 1,
                 f"one broken file: exit 1 ({result.returncode})")
        c.expect(broken in result.stderr and "1 failed" in result.stderr,
                 "the broken file is named in the report")
        made = sorted(os.listdir(out)) if os.path.isdir(out) else []
        # Two pictures named "scene": the second gets a number.
        c.expect(made == ["scene-2.png", "scene-3.png", "scene.png",
                          "scene_L.png"], f"the rest are converted: {made}")
        c.expect(result.stderr.count("\n[") + result.stderr.startswith("[") == 5,
                 "one progress line per item when not on a terminal")
        # Sorted input order decides the names: scene.jps, .mpo, .pns.
        for name, source in (("scene.png", "scene.jps"),
                             ("scene-2.png", "scene.mpo"),
                             ("scene-3.png", "scene.pns")):
            reference = os.path.join(work, "ref.png")
            subprocess.run([args.cli, "render", os.path.join(folder, source),
                            *OPTIONS, "-o", reference], check=True, timeout=120)
            c.expect(os.path.exists(os.path.join(out, name)) and
                     read(os.path.join(out, name)) == read(reference),
                     f"{name} is render's picture of {source}")

        lists = os.path.join(work, "lists")
        result = convert(args.cli, os.path.join(SAMPLES, "duoramic.txt"),
                      "--format", "RowInterlace", "--size", "64x48", "-o", lists)
        entries = run(args.cli, "list", os.path.join(SAMPLES, "duoramic.txt"),
                      "--json")
        made = sorted(os.listdir(lists)) if os.path.isdir(lists) else []
        c.expect(result.returncode == 0 and len(made) >= 2 and
                 all(n.startswith("duoramic-") for n in made) and
                 entries.stdout.count('"number"') == len(made),
                 f"a list converts each entry: {made} ({result.stderr.strip()})")

        # On a terminal: one bar redrawn in place.
        leader, follower = pty.openpty()
        bar = subprocess.Popen([args.cli, "convert",
                                os.path.join(SAMPLES, "scene.jps"), *OPTIONS,
                                "-o", os.path.join(work, "tty")],
                               stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=follower)
        os.close(follower)
        shown = b""
        with contextlib.suppress(OSError):  # EIO once the tool has ended
            while chunk := os.read(leader, 4096):
                shown += chunk
        bar.wait(timeout=120)
        c.expect(b"\r" in shown and b"[" + b"#" * 30 + b"] 1/1" in shown,
                 f"a progress bar on a terminal: {shown[-200:]!r}")

        for words, what in ((["--format", "NoSuchFormat", "-o", out, folder],
                             "an unknown format"),
                            (["--format", "0", folder], "no -o"),
                            (["--format", "0", "--zoom", "0", "-o",
                              os.path.join(work, "z"), folder],
                             "a render option every item refuses")):
            result = convert(args.cli, *words)
            c.expect(result.returncode == 2,
                     f"{what}: exit 2 ({result.returncode})")
    return c.status()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""duoramic-cli convert: a folder with one broken file converts the rest,
names the broken one and exits 1; each output is what `render` gives for
that item; a list gives its entries; plain progress lines when stderr is
not a terminal and a bar when it is; bad usage exits 2 before any work;
no output is written over an input."""
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


def rendered(cli, source, work, *options):
    """render's picture of `source` (read before any convert touched it)."""
    reference = os.path.join(work, "reference.png")
    subprocess.run([cli, "render", source, *options, "-o", reference],
                   check=True, timeout=120)
    return read(reference)


def check_inputs_kept(cli, c, work):
    """An output never takes the place of an input, however the input is
    named: another spelling of its path, a link in the output folder, a file
    a list shows.  Each output is written whole and renamed into place, so
    an old file under its name keeps its bytes under any other name."""
    small = ["--format", "0", "--size", "320x120"]
    same = os.path.join(work, "same")
    os.makedirs(same)
    shutil.copy(os.path.join(SAMPLES, "scene.jps"), os.path.join(same, "trip.jps"))
    shutil.copy(os.path.join(SAMPLES, "scene.pns"), os.path.join(same, "trip.png"))
    photo = read(os.path.join(same, "trip.png"))
    want = {"trip-2.png": rendered(cli, os.path.join(same, "trip.jps"), work,
                                   *small),
            "trip-3.png": rendered(cli, os.path.join(same, "trip.png"), work,
                                   *small)}
    result = subprocess.run([cli, "convert", "trip.jps", "./trip.png", *small,
                             "-o", ".", "--jobs", "2"], cwd=same,
                            capture_output=True, text=True, timeout=300)
    c.expect(result.returncode == 0, f"into the inputs' folder: exit 0 "
             f"({result.returncode}: {result.stderr.strip()})")
    c.expect(read(os.path.join(same, "trip.png")) == photo,
             "trip.png, an input, keeps its bytes")
    for name, picture in want.items():
        c.expect(os.path.exists(os.path.join(same, name)) and
                 read(os.path.join(same, name)) == picture,
                 f"{name} is render's picture of its input")

    # Links in the output folder to inputs elsewhere, and a list whose entry
    # has the name its first output would take.
    inputs = os.path.join(work, "inputs")
    linked = os.path.join(work, "linked")
    os.makedirs(inputs)
    os.makedirs(linked)
    for name in ("soft.png", "hard.png", "listed-1.png"):
        shutil.copy(os.path.join(SAMPLES, "scene.pns"), os.path.join(inputs, name))
    os.symlink(os.path.join(inputs, "soft.png"), os.path.join(linked, "soft.png"))
    os.link(os.path.join(inputs, "hard.png"), os.path.join(linked, "hard.png"))
    shutil.copy(os.path.join(inputs, "listed-1.png"), linked)
    listing = os.path.join(linked, "listed.txt")
    with open(listing, "w") as f:
        f.write("SlideShowList;;\n11;0;0;0;0;listed-1.png;;;\n")
    # A file under an output's name that is no input: replaced, not written
    # through, so its other name keeps the old bytes.
    shutil.copy(os.path.join(SAMPLES, "scene.jps"), os.path.join(inputs, "other.jps"))
    kept = os.path.join(work, "kept.png")
    with open(kept, "wb") as f:
        f.write(b"not to be written through")
    os.link(kept, os.path.join(linked, "other.png"))
    result = convert(cli, os.path.join(inputs, "soft.png"),
                     os.path.join(inputs, "hard.png"), listing,
                     os.path.join(inputs, "other.jps"), *small, "-o", linked,
                     "--jobs", "3")
    c.expect(result.returncode == 0,
             f"beside links: exit 0 ({result.returncode}: {result.stderr.strip()})")
    for name in ("soft.png", "hard.png", "listed-1.png"):
        c.expect(read(os.path.join(inputs, name)) == photo,
                 f"{name}, an input, keeps its bytes")
    c.expect(read(os.path.join(linked, "listed-1.png")) == photo,
             "the file the list shows keeps its bytes")
    made = sorted(os.listdir(linked))
    c.expect(made == ["hard-2.png", "hard.png", "listed-1-2.png",
                      "listed-1.png", "listed.txt", "other.png", "soft-2.png",
                      "soft.png"],
             f"outputs take the next free names, no temporary is left: {made}")
    c.expect(read(kept) == b"not to be written through" and
             read(os.path.join(linked, "other.png")) ==
             rendered(cli, os.path.join(inputs, "other.jps"), work, *small),
             "an output replaces the old file under its name")


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
        check_inputs_kept(args.cli, c, work)
    return c.status()


if __name__ == "__main__":
    sys.exit(main())

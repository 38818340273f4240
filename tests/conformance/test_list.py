#!/usr/bin/python3
"""duoramic-cli list: slideshow lists as the viewer plays them.

- the bundled resources/samples/duoramic.txt lists its four items, each
  resolving to a file beside the list, with the settings of its header;
- a list saved on Windows (CP932, CR LF, "\\" between folders) names files
  that exist, and its comment comes out as UTF-8; makelist adds to it only
  what it can write in CP932;
- render --item N shows entry N as the viewer would: the MPO entry renders
  like the file given directly, with the list's comment in the band (the
  file has none of its own); an entry's width field holds unless the
  command line gives one; past the last entry it fails;
- a list that cannot be opened prints the viewer's message naming the file
  and exits with 1; bad usage exits with 2.
"""
import json
import os
import sys
import tempfile

import numpy as np
from PIL import Image

from support import REPO, Checks, load_rgb, parse_arguments, run as run_cli

SAMPLE_LIST = os.path.join(REPO, "resources", "samples", "duoramic.txt")
CANNOT_OPEN = "スライドショーリストを開けません"


def run(cli, *args):
    return run_cli(cli, "list", *args)


def check_sample(cli, checks):
    result = run(cli, SAMPLE_LIST, "--json")
    if not checks.expect(result.returncode == 0,
                         f"the sample list reads ({result.stderr.strip()})"):
        return
    listing = json.loads(result.stdout)
    entries = listing["entries"]
    checks.expect(listing["SlideShowList"] == 1 and listing["ItemCount"] == 4
                  and len(entries) == 4, "four items in a slideshow list")
    checks.expect(listing["SlideShowOn"] == 1 and listing["ListRepeat"] == 1
                  and listing["nEFType"] == 1 and listing["BgmPath"] == "",
                  "the header turns the slideshow and repeat on, no music")
    checks.expect([e["kind"] for e in entries] == [1, 1, 1, 11]
                  and all(e["found"] and e["interval"] == 50 for e in entries),
                  "three single files and a pair, 5 s each")
    names = [n for e in entries for n in (e["left"], e["right"])]
    checks.expect(all(os.path.isfile(n) for n in names),
                  "every name resolves to a file beside the list")
    pair = entries[3]
    checks.expect(pair["left"].endswith("scene_L.jpg")
                  and pair["right"].endswith("scene_R.jpg")
                  and pair["comment"] == "",
                  "the pair names left then right and has no list comment")
    checks.expect(entries[0]["comment"]
                  == "MPO: two pictures, parallax from the maker note",
                  "a list comment loses its trailing semicolons only")
    text = run(cli, SAMPLE_LIST).stdout.splitlines()
    checks.expect([l.split(":")[0] for l in text if l[:1].isdigit()]
                  == ["1", "2", "3", "4"], "the text form has a line per item")


def check_windows_list(cli, checks):
    with tempfile.TemporaryDirectory() as folder:
        os.makedirs(os.path.join(folder, "写真"))
        for name in ("左.jpg", "右.jpg"):
            open(os.path.join(folder, "写真", name), "wb").close()
        lines = ["SlideShowList;;", "Font;ＭＳ ゴシック;;",
                 "21;0;0;0;0;写真\\左.jpg;写真\\右.jpg;表示;テスト;;"]
        path = os.path.join(folder, "windows.txt")
        with open(path, "wb") as f:
            f.write("\r\n".join(lines).encode("cp932") + b"\r\n")
        result = run(cli, path, "--json")
        if not checks.expect(result.returncode == 0, "a CP932 list reads"):
            return
        listing = json.loads(result.stdout)
        entry = listing["entries"][0]
        checks.expect(os.path.isfile(entry["left"])
                      and os.path.isfile(entry["right"]),
                      f"CP932 names with \\ separators resolve ({entry['left']})")
        checks.expect(entry["comment"] == "表示;テスト"
                      and listing["FontFace"] == "ＭＳ ゴシック",
                      "CP932 comment and font face come out as UTF-8")


def check_makelist_on_windows_list(cli, checks):
    """makelist on a CP932 list: a name without a CP932 form refuses the
    add, naming it, and leaves the list as it was; names and a comment with
    one are appended in CP932 and `list` reads them back as given."""
    with tempfile.TemporaryDirectory() as folder:
        for name in ("café.jps", "風景.jps"):
            open(os.path.join(folder, name), "wb").close()
        path = os.path.join(folder, "show.txt")
        old = "SlideShowList;;\r\n11;0;0;0;0;写真.jpg;古い;;\r\n".encode("cp932")
        with open(path, "wb") as f:
            f.write(old)
        made = run_cli(cli, "makelist", path, os.path.join(folder, "café.jps"),
                       os.path.join(folder, "風景.jps"), "--comment", "新しい")
        with open(path, "rb") as f:
            after = f.read()
        checks.expect(made.returncode == 1 and "café.jps" in made.stderr
                      and after == old,
                      f"a name without a CP932 form is refused and named, the "
                      f"list unchanged ({made.returncode}: {made.stderr.strip()})")
        made = run_cli(cli, "makelist", path, os.path.join(folder, "風景.jps"),
                       "--comment", "新しい")
        result = run(cli, path, "--json")
        entries = json.loads(result.stdout)["entries"] if result.stdout else []
        checks.expect(made.returncode == 0 and
                      [(os.path.basename(e["left"]), e["comment"])
                       for e in entries] == [("写真.jpg", "古い"),
                                             ("風景.jps", "新しい")],
                      f"names with a CP932 form are appended and read back "
                      f"({made.stderr.strip()}; {entries})")


def check_failures(cli, checks):
    missing = os.path.join(tempfile.gettempdir(), "duoramic-no-such-list.txt")
    result = run(cli, missing)
    checks.expect(result.returncode == 1 and CANNOT_OPEN in result.stderr
                  and missing in result.stderr and result.stdout == "",
                  "a missing list prints the message naming the file, exit 1")
    checks.expect(run(cli).returncode == 2
                  and run(cli, SAMPLE_LIST, "--bogus").returncode == 2,
                  "bad usage exits with 2")


def render(cli, *args, out):
    return run_cli(cli, "render", *args, "--size", "960x360",
                   "--screen", "480x360", "-o", out)


def render_all(cli, checks, tmp, commands, *extra):
    """{name: picture as an int array} of each render, `extra` added to
    every one; None (a failed check) when one of them fails."""
    shown = {}
    for name, args in commands.items():
        out = os.path.join(tmp, name + ".png")
        result = render(cli, *args, *extra, out=out)
        if not checks.expect(result.returncode == 0,
                             f"render {name} ({result.stderr.strip()})"):
            return None
        shown[name] = load_rgb(out).astype(int)
    return shown


def check_render_items(cli, checks):
    mpo = os.path.join(os.path.dirname(SAMPLE_LIST), "scene.mpo")
    with tempfile.TemporaryDirectory() as tmp:
        shown = render_all(cli, checks, tmp, {
            "item": [SAMPLE_LIST, "--item", "1"],
            "files": [mpo, "--format", "SideBySide"],
            "no-band": [SAMPLE_LIST, "--item", "1", "--comment", "off"],
            "files-no-band": [mpo, "--format", "SideBySide", "--comment",
                              "off"]})
        if shown is None:
            return
        checks.expect(np.array_equal(shown["no-band"], shown["files-no-band"]),
                      "the MPO entry without band renders like the file itself")
        def band_rows(picture):
            # Rows near the foot that are black but for light grey text.
            rows = picture[picture.shape[0] * 9 // 10:]
            black = (rows == 0).all(axis=2).mean(axis=1)
            grey = ((rows > 150) & (rows < 230)).all(axis=2).sum(axis=1)
            return int(((black > 0.5) & (grey > 0)).sum())
        checks.expect(band_rows(shown["item"]) > 3
                      and band_rows(shown["files"]) == 0,
                      "the band shows the list's comment; the file has none")
        result = render(cli, SAMPLE_LIST, "--item", "5",
                        out=os.path.join(tmp, "none.png"))
        checks.expect(result.returncode == 1 and "no entry 5" in result.stderr,
                      "an entry past the end fails with a reason")


def check_entry_fields(cli, checks):
    """An entry's width field holds in render --item unless --width-mode is
    given: width 2 renders like the file in double width."""
    with tempfile.TemporaryDirectory() as tmp:
        picture = np.zeros((100, 400, 3), np.uint8)
        picture[:, :, 0] = np.arange(400)[None, :] * 255 // 400
        picture[:, 200:, 2] = 200
        Image.fromarray(picture).save(os.path.join(tmp, "sbs.png"))
        listing = os.path.join(tmp, "widths.txt")
        with open(listing, "w") as f:
            f.write("SlideShowList;;\n11;0;0;0;2;sbs.png;;;\n"
                    "11;0;0;0;0;sbs.png;;;\n")
        shown = render_all(cli, checks, tmp, {
            "entry": [listing, "--item", "1"],
            "plain": [listing, "--item", "2"],
            "given": [listing, "--item", "1", "--width-mode", "0"],
            "double": [os.path.join(tmp, "sbs.png"), "--format",
                       "SideBySide", "--width-mode", "5"]}, "--comment", "off")
        if shown is None:
            return
        checks.expect(np.array_equal(shown["entry"], shown["double"])
                      and not np.array_equal(shown["entry"], shown["plain"]),
                      "an entry of width 2 renders in double width")
        checks.expect(np.array_equal(shown["given"], shown["plain"]),
                      "--width-mode on the command line wins over the entry")


def main():
    args = parse_arguments(corpus=False)
    checks = Checks()
    check_sample(args.cli, checks)
    check_windows_list(args.cli, checks)
    check_makelist_on_windows_list(args.cli, checks)
    check_failures(args.cli, checks)
    check_render_items(args.cli, checks)
    check_entry_fields(args.cli, checks)
    return checks.status()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""duoramic-cli list: slideshow lists as the viewer plays them.

- the bundled resources/samples/duoramic.txt lists its four items, each
  resolving to a file beside the list, with the settings of its header;
- a list saved on Windows (CP932, CR LF, "\\" between folders) names files
  that exist, and its comment comes out as UTF-8;
- a list that cannot be opened prints the viewer's message naming the file
  and exits with 1; bad usage exits with 2.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SAMPLE_LIST = os.path.join(REPO, "resources", "samples", "duoramic.txt")
CANNOT_OPEN = "スライドショーリストを開けません"


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, condition, what):
        print(("ok:   " if condition else "FAIL: ") + what)
        if not condition:
            self.failures.append(what)
        return condition


def run(cli, *args):
    return subprocess.run([cli, "list", *args], capture_output=True,
                          text=True, timeout=60)


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


def check_failures(cli, checks):
    missing = os.path.join(tempfile.gettempdir(), "duoramic-no-such-list.txt")
    result = run(cli, missing)
    checks.expect(result.returncode == 1 and CANNOT_OPEN in result.stderr
                  and missing in result.stderr and result.stdout == "",
                  "a missing list prints the message naming the file, exit 1")
    checks.expect(run(cli).returncode == 2
                  and run(cli, SAMPLE_LIST, "--bogus").returncode == 2,
                  "bad usage exits with 2")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--testdata", required=False)
    args = parser.parse_args()
    checks = Checks()
    check_sample(args.cli, checks)
    check_windows_list(args.cli, checks)
    check_failures(args.cli, checks)
    if checks.failures:
        print(f"{len(checks.failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

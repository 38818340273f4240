"""What the conformance scripts share: their arguments and test data, a
pass/fail tally, duoramic-cli's runs and its decoding judged as a refusal or
a picture, a loop over the files of a suite with its verdict, and a readable
description of where two pictures differ."""
import argparse
import json
import os
import subprocess
import tempfile

import numpy as np
from PIL import Image

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUNDLED = os.path.join(REPO, "tests", "data")
SKIPPED = 77  # ctest's SKIP_RETURN_CODE for these scripts


def locate_testdata(configured):
    """The folder of conformance files and whether it is the whole corpus:
    $DUORAMIC_TESTDATA if set, else the configured folder; when that is
    absent, the part bundled in tests/data (checks that name files of the
    whole corpus then stand down)."""
    candidate = os.environ.get("DUORAMIC_TESTDATA") or configured
    if candidate and os.path.isdir(candidate):
        return candidate, True
    print(f"conformance corpus not found at {candidate} (set "
          f"DUORAMIC_TESTDATA); checking the files bundled in tests/data")
    return BUNDLED, False


def parse_arguments(corpus=True):
    """--cli and --testdata, as ctest passes them.  With `corpus` the test
    data is located: args.testdata is the folder to read and args.full
    tells whether it is the whole corpus.  Without, --testdata is optional
    and unused."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--testdata", required=corpus)
    args = parser.parse_args()
    if corpus:
        args.testdata, args.full = locate_testdata(args.testdata)
    return args


def run(cli, *words, timeout=120):
    """duoramic-cli with `words`, its output captured as text."""
    return subprocess.run([cli, *words], capture_output=True, text=True,
                          timeout=timeout)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def load_rgb(path):
    with Image.open(path) as image:
        return np.asarray(image.convert("RGB"))


def files_under(*folders):
    """Every file under the folders, sorted."""
    return sorted(os.path.join(root, name) for folder in folders
                  for root, _, names in os.walk(folder) for name in names)


def exiftool_json(*words):
    """exiftool's tags (-j -n) of the file `words` end with; {} if none."""
    result = subprocess.run(["exiftool", "-j", "-n", *words],
                            capture_output=True, text=True, timeout=60)
    return json.loads(result.stdout)[0] if result.stdout.strip() else {}


def exiftool_second_picture(path):
    """The MP format's second picture as exiftool extracts it, or None."""
    result = subprocess.run(["exiftool", "-b", "-MPImage2", path],
                            capture_output=True, timeout=60)
    return result.stdout if result.returncode == 0 and result.stdout else None


def fujifilm_parallax(jpeg_bytes, scratch):
    """(P, V) from the FujiFilm maker note of one picture, or None."""
    name = os.path.join(scratch, "second.jpg")
    with open(name, "wb") as f:
        f.write(jpeg_bytes)
    tags = exiftool_json("-u", "-G1", "-FujiFilm:Parallax",
                         "-FujiFilm:FujiFilm_0xb212", name)
    p = tags.get("FujiFilm:Parallax")
    v = tags.get("FujiFilm:FujiFilm_0xb212")
    return None if p is None or v is None else (float(p), float(v))


def decode(cli, path, out):
    """duoramic-cli's decoding of `path`, written to `out`: (pixels, "") as
    an RGB array, or (None, its message) when it refuses the file.  A crash
    (a signal, an exit status above 1, a sanitizer report) or a refusal
    that does not name the file raises AssertionError."""
    if os.path.exists(out):
        os.remove(out)
    result = run(cli, "decode", path, "-o", out)
    if (result.returncode < 0 or result.returncode > 1 or
            "Sanitizer" in result.stderr or "runtime error" in result.stderr):
        raise AssertionError(f"{path}: crashed ({result.returncode}): "
                             f"{result.stderr[-400:]}")
    if result.returncode != 0:
        if path not in result.stderr:
            raise AssertionError(f"{path}: refusal does not name the file: "
                                 f"{result.stderr.strip()!r}")
        return None, result.stderr.strip()
    return load_rgb(out), ""


def decode_as_listed(cli, path, out, refused):
    """decode() of a file that must be refused, `refused` saying why, or
    that must decode (`refused` None): (problem, pixels), the problem None
    when the tool did as listed."""
    try:
        pixels, message = decode(cli, path, out)
    except AssertionError as error:
        return str(error), None
    if refused is not None:
        if pixels is not None:
            return f"decoded, but must be refused ({refused})", None
        return None, None
    if pixels is None:
        return f"refused: {message}", None
    return None, pixels


def decoded_as_expected(cli, path, out, refused, expected):
    """decode_as_listed(), then a decoded picture compared with the RGB
    array expected() gives: the problem, None when there is none."""
    problem, pixels = decode_as_listed(cli, path, out, refused)
    if problem or pixels is None:
        return problem
    return diff_summary(expected(), pixels)


def check_each(items, check, label=str, found=()):
    """check(item, scratch) for each item, all sharing one scratch folder.
    Whatever problem it returns, or exception it raises (a crash of a
    reference decoder is a failure too), is printed and kept: a list of
    (label(item), problem), after those `found` before (printed first)."""
    failures = list(found)
    for name, problem in failures:
        print(f"FAIL {name}: {problem}")
    with tempfile.TemporaryDirectory() as scratch:
        for item in items:
            try:
                problem = check(item, scratch)
            except Exception as e:
                problem = f"{type(e).__name__}: {e}"
            if problem:
                failures.append((label(item), problem))
                print(f"FAIL {label(item)}: {problem}")
    return failures


def run_suite(files, check, label=str, found=(), minimum=1):
    """check_each() over a suite's files, then its verdict: the exit
    status, 1 when a file failed or fewer than `minimum` were found."""
    failures = check_each(files, check, label, found)
    print(f"{len(files)} files, {len(failures)} failed")
    return 1 if failures or len(files) < minimum else 0


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, condition, what):
        print(("ok:   " if condition else "FAIL: ") + what)
        if not condition:
            self.failures.append(what)
        return condition

    def run(self, name, check):
        """check(), which raises AssertionError to fail, as one check."""
        try:
            check()
            problem = None
        except AssertionError as e:
            problem = str(e)
        self.expect(problem is None, name + (f": {problem}" if problem else ""))

    def status(self):
        print(f"{len(self.failures)} check(s) failed")
        return 1 if self.failures else 0


def diff_summary(expected, actual, what=None):
    """None when the two RGB arrays are equal, else where they differ."""
    prefix = f"{what}: " if what else ""
    if expected.shape != actual.shape:
        return (f"{prefix}size differs: expected {expected.shape[1]}x"
                f"{expected.shape[0]}, got {actual.shape[1]}x{actual.shape[0]}")
    d = np.abs(expected.astype(np.int32) - actual.astype(np.int32))
    bad = np.argwhere(d.max(axis=-1) > 0)
    if len(bad) == 0:
        return None
    y, x = bad[0]
    return (f"{prefix}{len(bad)} of {d.shape[0] * d.shape[1]} pixels differ, "
            f"max difference {d.max()}; first at x={x} y={y}: expected RGB "
            f"{tuple(int(v) for v in expected[y, x])}, got "
            f"{tuple(int(v) for v in actual[y, x])}")

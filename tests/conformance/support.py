"""What the conformance scripts share: their arguments and test data, a
pass/fail tally, duoramic-cli's decoding judged as a refusal or a picture,
a loop over the files of a suite, and a readable description of where two
pictures differ."""
import argparse
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


def decode(cli, path, out):
    """duoramic-cli's decoding of `path`, written to `out`: (pixels, "") as
    an RGB array, or (None, its message) when it refuses the file.  A crash
    (a signal, an exit status above 1, a sanitizer report) or a refusal
    that does not name the file raises AssertionError."""
    if os.path.exists(out):
        os.remove(out)
    run = subprocess.run([cli, "decode", path, "-o", out],
                         capture_output=True, text=True, timeout=120)
    if (run.returncode < 0 or run.returncode > 1 or
            "Sanitizer" in run.stderr or "runtime error" in run.stderr):
        raise AssertionError(f"{path}: crashed ({run.returncode}): "
                             f"{run.stderr[-400:]}")
    if run.returncode != 0:
        if path not in run.stderr:
            raise AssertionError(f"{path}: refusal does not name the file: "
                                 f"{run.stderr.strip()!r}")
        return None, run.stderr.strip()
    with Image.open(out) as image:
        return np.asarray(image.convert("RGB")), ""


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


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, condition, what):
        print(("ok:   " if condition else "FAIL: ") + what)
        if not condition:
            self.failures.append(what)
        return condition


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

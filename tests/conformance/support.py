"""What the conformance scripts share: a pass/fail tally and a readable
description of where two pictures differ."""
import os

import numpy as np

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

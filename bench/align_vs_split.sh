#!/usr/bin/env bash
# Aligning a camera MPO as a user times it: the whole `duoramic-cli align`
# process (decoding both views, measuring) against `duoramic-cli split` of
# the same file (decoding both views) in the same run, alternating, and
# `align -o OUT.mpo` (measuring, correcting and writing) beside them.
# Prints the medians and the ratio align / split (target: at most 1.5).
#
#   bash bench/align_vs_split.sh
#
# RUNS (default 7) and DUORAMIC_CLI (a built duoramic-cli; default:
# build/release, built here when missing) change the defaults.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-7}
python=${PYTHON:-/usr/bin/python3}

source "$root/bench/common.sh"
require align_vs_split "$python"

cli=${DUORAMIC_CLI:-$(release_program duoramic-cli)}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$python" "$root/bench/make_camera_mpo.py" "$work" 1
mpo="$work/camera01.mpo"

"$python" - "$cli" "$mpo" "$runs" "$work/out.mpo" <<'PY'
import statistics, subprocess, sys, time
cli, mpo, runs, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
commands = {"split": [cli, "split", mpo], "align": [cli, "align", mpo],
            "align -o": [cli, "align", mpo, "-o", out]}
times = {name: [] for name in commands}
for run in range(runs + 1):
    for name, command in commands.items():
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        if run:  # the first round warms the caches
            times[name].append(time.perf_counter() - start)
median = {name: statistics.median(t) for name, t in times.items()}
for name, value in median.items():
    print("%-9s median %.1f ms" % (name, 1000 * value))
print("align / split: ratio %.2f (target <= 1.50)"
      % (median["align"] / median["split"]))
print("align -o / split: ratio %.2f" % (median["align -o"] / median["split"]))
PY

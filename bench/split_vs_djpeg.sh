#!/usr/bin/env bash
# Splitting a camera MPO as a user times it: the whole `duoramic-cli split`
# process against two plain `djpeg` runs, one after the other, of the same
# two pictures (libjpeg-turbo's own tool; both decode only, neither writes
# a picture).  hyperfine runs the two commands in one call; prints both
# medians and the ratio ours / djpeg (target: at most 0.8).
#
#   bash scripts/setup.sh --bench      # hyperfine, djpeg
#   bash bench/split_vs_djpeg.sh
#
# RUNS (default 9) and DUORAMIC_CLI (a built duoramic-cli; default:
# build/release, built here when missing) change the defaults.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-9}
python=${PYTHON:-/usr/bin/python3}

source "$root/bench/common.sh"
require split_vs_djpeg hyperfine djpeg "$python"

cli=${DUORAMIC_CLI:-$(release_program duoramic-cli)}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$python" "$root/bench/make_camera_mpo.py" "$work" 1
mpo="$work/camera01.mpo"

hyperfine --warmup 2 --runs "$runs" --export-json "$work/times.json" \
  -n ours "$cli split $mpo" \
  -n djpeg "djpeg -outfile /dev/null $work/camera01_1.jpg && djpeg -outfile /dev/null $work/camera01_2.jpg"

"$python" - "$work/times.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
ours, djpeg = results["ours"], results["djpeg"]
cpu = lambda r: r["user"] + r["system"]
print("split median %.1f ms, two djpeg median %.1f ms: ratio %.2f (target <= 0.80)"
      % (1000 * ours["median"], 1000 * djpeg["median"],
         ours["median"] / djpeg["median"]))
print("cpu (user + system, mean): ratio %.2f" % (cpu(ours) / cpu(djpeg)))
PY

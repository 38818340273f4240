#!/usr/bin/env bash
# A file manager's thumbnail of a camera MPO (two 4000 x 3000 views): the
# whole `duoramic-cli thumbnail -s 256` process, as the thumbnailer entry
# runs it, against libjpeg-turbo's own `djpeg -scale 1/8` of the first
# picture alone (a reduced decode and nothing else) and a full `djpeg` of
# it.  hyperfine runs the three in one call; prints the medians and the
# ratios (target: ours under 100 ms, and at most 2x the reduced djpeg).
#
#   bash scripts/setup.sh --bench      # hyperfine, djpeg
#   bash bench/thumbnail_mpo.sh
#
# RUNS (default 15) and DUORAMIC_CLI (a built duoramic-cli; default:
# build/release, built here when missing) change the defaults.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-15}
python=${PYTHON:-/usr/bin/python3}

source "$root/bench/common.sh"
require thumbnail_mpo hyperfine djpeg "$python"

cli=${DUORAMIC_CLI:-$(release_program duoramic-cli)}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$python" "$root/bench/make_camera_mpo.py" "$work" 1
mpo="$work/camera01.mpo"

shielded hyperfine --warmup 3 --runs "$runs" --export-json "$work/times.json" \
  -n ours "$cli thumbnail -s 256 $mpo $work/thumb.png" \
  -n djpeg-scaled "djpeg -scale 1/8 -outfile /dev/null $work/camera01_1.jpg" \
  -n djpeg-full "djpeg -outfile /dev/null $work/camera01_1.jpg"

"$python" - "$work/times.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
ours = results["ours"]["median"]
scaled = results["djpeg-scaled"]["median"]
full = results["djpeg-full"]["median"]
print("thumbnail median %.1f ms (target < 100); djpeg 1/8 %.1f ms, "
      "full djpeg of one view %.1f ms" % (1000 * ours, 1000 * scaled, 1000 * full))
print("ratio ours / djpeg 1/8: %.2f (target <= 2.0); ours / full djpeg: %.2f"
      % (ours / scaled, ours / full))
PY

#!/usr/bin/env bash
# The viewer as a user times it: a folder of 2 x 12-megapixel camera MPOs
# on a 1920x1080 screen, Space pressed once a second (more than a second
# on each picture), the time from the step to the new picture on screen
# read from the viewer's timing log (DUORAMIC_TIMING), with reading ahead
# and without it (DUORAMIC_PREFETCH=0).  Transitions are off so that the
# step shows the whole picture at once.  Prints the median and worst step
# of each run (target with reading ahead: at most 50 ms) and the viewer's
# peak memory beside the bytes of the pictures it holds.
#
#   bash scripts/setup.sh --bench      # (Xvfb, openbox, xdotool are there)
#   bash bench/viewer_steps.sh
#
# COUNT (files, default 6), STEPS (default 10), DWELL (seconds on each
# picture, default 1.2), PHOTOS (a folder of such
# files made already, e.g. by bench/make_camera_mpo.py) and DUORAMIC_VIEWER
# (a built viewer; default build/release/duoramic, built here when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${COUNT:-6}
steps=${STEPS:-10}
python=${PYTHON:-/usr/bin/python3}

source "$root/bench/common.sh"
require viewer_steps Xvfb xdotool "$python"

viewer=${DUORAMIC_VIEWER:-$(release_program duoramic)}

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [[ -n "${KEEP_LOGS:-}" ]]; then cp "$work"/*.log "$KEEP_LOGS"/ || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
if [[ -n "${PHOTOS:-}" ]]; then
  mkdir -p "$work/photos"
  cp "$PHOTOS"/*.mpo "$work/photos/"
else
  "$python" "$root/bench/make_camera_mpo.py" "$work/photos" "$count"
  rm -f "$work/photos"/*.jpg
fi

exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
read -r -t 30 -u "$fd" number
export DISPLAY=":$number"
if command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
fi

run() {  # LABEL PREFETCH
  local label=$1 config="$work/config-$1"
  mkdir -p "$config/Orlith"
  printf '[General]\nnEFType=0\n' >"$config/Orlith/duoramic.conf"
  XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=xcb DUORAMIC_TIMING=1 \
    DUORAMIC_PREFETCH=$2 "$viewer" "$work/photos/camera01.mpo" \
    2>"$work/$label.log" &
  local pid=$!
  local window=""
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1) || true
    [[ -n "$window" ]] && break
    sleep 0.2
  done
  [[ -n "$window" ]] || { echo "viewer_steps: no viewer window" >&2; exit 1; }
  sleep 2
  for _ in $(seq "$steps"); do
    xdotool windowfocus --sync "$window" key space
    sleep "${DWELL:-1.2}"
  done
  grep VmHWM "/proc/$pid/status" | awk '{print $2}' >"$work/$label.peak"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

run ahead 1
run direct 0

"$python" - "$work" "$count" <<'PY'
import re, statistics, sys
work, count = sys.argv[1], int(sys.argv[2])
# The pictures a viewer holds: the two views on display (fitted) and, while
# reading ahead, one camera file decoded whole (2 x 4000 x 3000 x 3 bytes).
decoded = 2 * 4000 * 3000 * 3
for label in ("ahead", "direct"):
    times = [float(m.group(1)) for m in
             re.finditer(r"next to pixels ([0-9.]+) ms", open(f"{work}/{label}.log").read())]
    peak = int(open(f"{work}/{label}.peak").read()) * 1024
    if not times:
        print(f"{label}: no timing lines"); continue
    print("%-6s steps %d: median %.1f ms, worst %.1f ms; peak memory %.0f MB "
          "(%.2f x one decoded camera file)"
          % (label, len(times), statistics.median(times), max(times),
             peak / 1e6, peak / decoded))
PY

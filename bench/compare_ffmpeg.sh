#!/usr/bin/env bash
# Converting a batch of side-by-side JPEGs into stereo PNGs: duoramic-cli
# render against FFmpeg's stereo3d filter, timed with hyperfine.  One timed
# run is the whole batch, one process per picture, as a user's shell loop
# would do it; the client size given to duoramic-cli is the size FFmpeg
# writes for that format.  Prints, per format, both means and the ratio
# ours / FFmpeg (below 1: duoramic-cli is faster), in wall time and in CPU
# time (user + system, steadier on a busy machine).
#
#   bash scripts/setup.sh --bench      # FFmpeg and hyperfine
#   bash bench/compare_ffmpeg.sh
#
# COUNT (pictures, default 20), RUNS (timed runs, default 5), FORMATS (a
# subset of the names below) and DUORAMIC_CLI (a built duoramic-cli; default:
# build/release, built here when missing) change the defaults.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${COUNT:-20}
runs=${RUNS:-5}

for tool in ffmpeg hyperfine python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "compare_ffmpeg: $tool is missing; run: bash scripts/setup.sh --bench" >&2
    exit 2
  fi
done

cli=${DUORAMIC_CLI:-}
if [[ -z "$cli" ]]; then
  build="$root/build/release"
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target duoramic-cli -j "${JOBS:-$(nproc)}" >/dev/null
  cli="$build/duoramic-cli"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/ours" "$work/ffmpeg"

# The bundled sample scene stretched to two 1920 x 1080 views, with fresh
# grain and a drifting hue in every frame so that no two pictures are alike.
ffmpeg -v error -y -loop 1 -i "$root/resources/samples/scene.jps" \
  -vf "scale=3840:1080,noise=alls=6:allf=t+u,hue=H=t*0.5" \
  -frames:v "$count" -q:v 3 "$work/in/sbs_%02d.jpg"

# duoramic-cli format, FFmpeg stereo3d output, FFmpeg's output size for a
# 3840 x 1080 side-by-side input.  FFmpeg keeps every row or column of both
# views in its interlaced and checkerboard outputs (twice the view size);
# duoramic-cli fits the pair into that client as the viewer would, leaving
# black margins where the aspect differs.
table=(
  "DuboisAnaglyph arcd 1920x1080"
  "AnaglyphRedCyan arcg 1920x1080"
  "ColorAnaglyphRedCyan arcc 1920x1080"
  "AnaglyphYellowBlue aybg 1920x1080"
  "RowInterlace irl 1920x2160"
  "ColumnInterlace icl 3840x1080"
  "DlpCheckerboard chl 3840x1080"
  "SideBySide sbsl 3840x1080"
  "OverUnder abl 1920x2160"
)

printf -v qcli %q "$cli"
printf -v qwork %q "$work"
printf '%-22s %-6s %-10s %10s %10s %7s %9s %9s %7s %8s %8s\n' \
  format ffmpeg size "ours s" "ffmpeg s" ratio "ours cpu" "ff cpu" "cpu r" \
  "ours KB" "ff KB"
for row in "${table[@]}"; do
  read -r format code size <<<"$row"
  if [[ -n "${FORMATS:-}" && " $FORMATS " != *" $format "* ]]; then continue; fi
  rm -f "$work"/ours/* "$work"/ffmpeg/*
  ours="for f in $qwork/in/*.jpg; do $qcli render \"\$f\" --format $format"
  ours+=" --size $size -o $qwork/ours/\$(basename \"\$f\" .jpg).png || exit 1; done"
  theirs="for f in $qwork/in/*.jpg; do ffmpeg -v error -y -i \"\$f\""
  theirs+=" -vf stereo3d=sbsl:$code $qwork/ffmpeg/\$(basename \"\$f\" .jpg).png || exit 1; done"
  # hyperfine's advice about outliers would break up the table; its errors
  # are shown when a run fails.
  if ! hyperfine --style none --warmup 1 --runs "$runs" \
      --export-json "$work/times.json" -n ours "$ours" -n ffmpeg "$theirs" \
      >/dev/null 2>"$work/hyperfine.err"; then
    cat "$work/hyperfine.err" >&2
    exit 1
  fi
  python3 - "$work" "$format" "$code" "$size" <<'PY'
import glob, json, os, struct, sys
work, format, code, size = sys.argv[1:]
def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    return "%dx%d" % struct.unpack(">II", head[16:24])
def kb(folder):
    files = glob.glob(os.path.join(work, folder, "*.png"))
    sizes = {png_size(f) for f in files}
    if sizes != {size}:
        sys.exit(f"compare_ffmpeg: {format}: {folder} wrote {sizes}, not {size}")
    return sum(os.path.getsize(f) for f in files) / len(files) / 1024
results = {r["command"]: r for r in json.load(open(os.path.join(work, "times.json")))["results"]}
ours, theirs = results["ours"], results["ffmpeg"]
cpu = lambda r: r["user"] + r["system"]
print("%-22s %-6s %-10s %10.2f %10.2f %7.2f %9.2f %9.2f %7.2f %8.0f %8.0f" % (
    format, code, size, ours["mean"], theirs["mean"], ours["mean"] / theirs["mean"],
    cpu(ours), cpu(theirs), cpu(ours) / cpu(theirs), kb("ours"), kb("ffmpeg")))
PY
done
echo "($count pictures a run, $runs runs; times are means of one whole batch)"

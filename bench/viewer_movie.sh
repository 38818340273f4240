#!/usr/bin/env bash
# Whether the viewer keeps up with 60 frames per second: a side-by-side
# H.264 movie (1920x1080, two 960x1080 views, 60 fps) played once, full
# screen on a 1920x1080 Xvfb screen, as a Dubois anaglyph.  The viewer drops
# a frame that is more than 20 ms late; its timing log (DUORAMIC_TIMING)
# says how many frames it presented, and the movie's own count gives the
# dropped ones.  Decoding alone (FFmpeg into nothing, and GStreamer's
# decoder with the conversion the viewer asks for, unpaced) is timed on the
# same file in the same run, so that the figures say whether decoding
# itself would keep up.
#
#   bash scripts/setup.sh --bench
#   bash bench/viewer_movie.sh
#
# SECONDS_LONG (movie length, default 10), FPS (default 60), SIZE (default
# 1920x1080), FORMAT (display format code, default 15: Dubois) and
# DUORAMIC_VIEWER (a built viewer; default build/release/duoramic).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
length=${SECONDS_LONG:-10}
fps=${FPS:-60}
size=${SIZE:-1920x1080}
format=${FORMAT:-15}

source "$root/bench/common.sh"
require viewer_movie Xvfb xdotool ffmpeg gst-launch-1.0

viewer=${DUORAMIC_VIEWER:-$(release_program duoramic)}

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

width=${size%x*} height=${size#*x}
half=$((width / 2))
movie="$work/sbs60.mp4"
ffmpeg -v error -y -f lavfi -i "testsrc2=s=${half}x${height}:r=$fps:d=$length" \
  -f lavfi -i "mandelbrot=s=${half}x${height}:r=$fps" \
  -filter_complex "[0:v][1:v]hstack,format=yuv420p" -t "$length" \
  -c:v libx264 -preset veryfast -crf 23 "$movie"
frames=$((length * fps))

seconds() {  # the wall time of a command, in seconds
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  python3 -c "print($EPOCHREALTIME - $start)"
}
ffmpeg_s=$(seconds ffmpeg -v error -i "$movie" -f null -)
gst_s=$(seconds gst-launch-1.0 -q filesrc location="$movie" ! decodebin ! \
  videoconvert ! video/x-raw,format=YUY2 ! fakesink sync=false)

exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
read -r -t 30 -u "$fd" number
export DISPLAY=":$number"
if command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
fi

config="$work/config"
mkdir -p "$config/Orlith"
printf '[General]\nnEFType=0\nnRepeat=0\nStereoType=%s\n' "$format" \
  >"$config/Orlith/duoramic.conf"
XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=xcb DUORAMIC_TIMING=1 \
  "$viewer" "$movie" 2>"$work/viewer.log" &
pid=$!
pids+=("$pid")
deadline=$((SECONDS + length + 60))
until grep -q "movie: end" "$work/viewer.log"; do
  if ((SECONDS > deadline)) || ! kill -0 "$pid" 2>/dev/null; then
    echo "viewer_movie: the viewer never reached the movie's end" >&2
    tail -20 "$work/viewer.log" >&2
    exit 1
  fi
  sleep 0.5
done
presented=$(sed -n 's/.*movie: end, \([0-9]*\) frames presented.*/\1/p' \
  "$work/viewer.log" | head -1)

python3 - "$frames" "$presented" "$length" "$ffmpeg_s" "$gst_s" "$size" "$fps" <<'EOF'
import sys
frames, presented, length = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
ffmpeg_s, gst_s = float(sys.argv[4]), float(sys.argv[5])
print(f"movie: {frames} frames, {sys.argv[6]} side by side at {sys.argv[7]} fps, "
      f"{length:.0f} s")
print(f"decoding alone: FFmpeg {frames / ffmpeg_s:.0f} fps, "
      f"GStreamer with repacking to YUY2 as the viewer does {frames / gst_s:.0f} fps")
dropped = max(frames - presented, 0)
print(f"viewer: presented {presented}, dropped {dropped} "
      f"({100 * dropped / frames:.1f} %)")
EOF

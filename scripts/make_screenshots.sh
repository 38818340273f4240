#!/usr/bin/env bash
# Makes the README's pictures in docs/screenshots: the viewer window with
# the sample MPO under a real window manager (Xvfb + openbox), and the
# sample in a few stereo formats rendered by duoramic-cli.
#   scripts/make_screenshots.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
out=$root/docs/screenshots
sample=$root/resources/samples/scene.mpo
for tool in Xvfb openbox xdotool import; do
  command -v "$tool" >/dev/null || { echo "needs $tool (scripts/setup.sh)" >&2; exit 1; }
done
[[ -x $build/duoramic ]] || { echo "build first: scripts/build.sh release" >&2; exit 1; }
mkdir -p "$out"

for format in SideBySide DuboisAnaglyph RowInterlace OverUnder; do
  QT_QPA_PLATFORM=offscreen "$build/duoramic-cli" render "$sample" \
    --format "$format" --size 480x270 --screen 1280x720 -o "$out/format-$format.png"
done

work=$(mktemp -d)
display=:$((90 + RANDOM % 60))
Xvfb "$display" -screen 0 980x660x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  kill "${viewer:-}" "${wm:-}" "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.2; done
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
# A settings folder of its own: the picture does not depend on the user's.
XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=xcb "$build/duoramic" "$sample" &
viewer=$!
window=
for _ in $(seq 400); do
  window=$(xdotool search --onlyvisible --pid "$viewer" 2>/dev/null | head -1) && [[ -n $window ]] && break
  sleep 0.2
done
[[ -n $window ]] || { echo "the viewer's window did not appear" >&2; exit 1; }
sleep 2
# A file on the command line opens full screen; the picture shows the window.
xdotool key alt+Return
sleep 2
window=$(xdotool search --onlyvisible --pid "$viewer" | head -1)
xdotool windowactivate --sync "$window" windowsize "$window" 860 560 windowmove "$window" 60 40
sleep 1
xdotool key F7
sleep 2
import -window root "$out/viewer-dubois.png"
xdotool key F1
sleep 1
import -window root "$out/viewer-key-help.png"
echo "screenshots in $out"

#!/usr/bin/env bash
# Sets up, builds the release flavour and starts the viewer, which plays the
# demo slideshow list beside the executable full screen.  Arguments are
# handed to the viewer (a stereo file, a left/right pair or a list).
# Without a display it says so, shows how to render with duoramic-cli
# instead, and renders the bundled samples to build/samples-out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" release
viewer="$root/build/release/duoramic"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$viewer" "$@"
fi

cli="$root/build/release/duoramic-cli"
samples="$root/resources/samples"
out="$root/build/samples-out"
cat <<EOF
run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the viewer
window cannot open.  On a desktop, start it with
  $viewer
Without one, duoramic-cli renders what the viewer would show, for example
  $cli render $samples/scene.mpo --format DuboisAnaglyph --size 1920x1080 -o out.png
  $cli render $samples/duoramic.txt --item 1 -o item1.png
Rendering the bundled samples to $out now.

EOF
mkdir -p "$out"

show() {  # name, then the render arguments
  local name=$1
  shift
  for format in SideBySide DuboisAnaglyph; do
    "$cli" render "$@" --format "$format" --size 1920x1080 \
      -o "$out/$name-$format.png"
    echo "  $out/$name-$format.png"
  done
}

for file in "$samples"/scene.mpo "$samples"/scene.jps "$samples"/scene.pns; do
  "$cli" info "$file"
  show "$(basename "${file%.*}")-${file##*.}" "$file"
  echo
done
echo "left/right pair:"
show scene-pair "$samples/scene_L.jpg" "$samples/scene_R.jpg"
echo
"$cli" list "$samples/duoramic.txt"
count=$("$cli" list "$samples/duoramic.txt" --json |
        sed -n 's/.*"ItemCount": *\([0-9]*\).*/\1/p')
for ((n = 1; n <= ${count:-0}; n++)); do
  "$cli" render "$samples/duoramic.txt" --item "$n" --size 1920x1080 \
    -o "$out/list-item-$n.png"
  echo "  $out/list-item-$n.png"
done

#!/usr/bin/env bash
# Sets up, builds and shows the bundled sample pictures.  Until the viewer
# window exists this runs duoramic-cli on them: each sample's details, and
# what the viewer shows for it side by side and as a Dubois anaglyph, plus
# every entry of the demo slideshow list, written as PNGs under
# build/samples-out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" release
cli="$root/build/release/duoramic-cli"
samples="$root/resources/samples"
out="$root/build/samples-out"
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

#!/usr/bin/env bash
# Sets up, builds and shows the bundled sample pictures.  Until the viewer
# window exists this runs duoramic-cli on them: their details, and each
# one's left and right views written as PNGs under build/samples-out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" release
cli="$root/build/release/duoramic-cli"
out="$root/build/samples-out"
mkdir -p "$out"
for file in "$root"/resources/samples/*.{mpo,jps,pns,jpg}; do
  [[ -f "$file" ]] || continue
  name=$(basename "$file")
  "$cli" info "$file"
  "$cli" split "$file" -l "$out/${name%.*}-left.png" -r "$out/${name%.*}-right.png"
  echo "views: $out/${name%.*}-left.png $out/${name%.*}-right.png"
  echo
done

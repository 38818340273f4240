#!/usr/bin/env bash
# Renders resources/icons/duoramic.svg to the PNG sizes desktops and the
# window use (resources/icons/hicolor/NxN/apps/duoramic.png).  The PNGs are
# kept in the repository, so building needs no SVG renderer; run this after
# editing the SVG (needs rsvg-convert from librsvg2-bin).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
icons=$root/resources/icons
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$icons/hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "$icons/duoramic.svg" \
    -o "$icons/hicolor/${size}x${size}/apps/duoramic.png"
done

#!/usr/bin/env bash
# Installs every Debian package that building, running and testing need.
# Idempotent: when everything is present it only runs dpkg-query and exits.
# --bench also installs the tools the bench/ scripts compare against
# (hyperfine, djpeg, gst-launch-1.0, feh, qimgv, python3-xlib); FFmpeg is
# always installed, since the movie tests make their movies with it.
set -euo pipefail

bench=0
for arg in "$@"; do
  case "$arg" in
    --bench) bench=1 ;;
    *) echo "usage: setup.sh [--bench]" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake ninja-build pkg-config
  libjpeg62-turbo-dev libpng-dev libtiff-dev zlib1g-dev libopencv-dev
  libheif-dev libde265-dev libheif-examples
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-pil python3-numpy libimage-exiftool-perl
  qt6-base-dev qt6-qpa-plugins qt6-wayland qt6-translations-l10n libxcb1-dev libfontconfig-dev
  fonts-noto-cjk
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-alsa gstreamer1.0-pulseaudio
  gstreamer1.0-libav ffmpeg
  xvfb xdotool x11-apps x11-utils openbox
  qt6-webengine-dev chromium esbuild
  dpkg-dev desktop-file-utils libxml2-utils shared-mime-info libglib2.0-bin
  groff-base appstream
  weston tumbler dbus-daemon
)
# The 360 viewer's three.js and its page test's browser driver come from npm.
# Machines with their own Node.js keep it: Debian's npm would conflict.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi
if ((bench)); then packages+=(hyperfine libjpeg-turbo-progs gstreamer1.0-tools feh qimgv python3-xlib); fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# npm ci only when the lock file changed since the last install (the copy
# beside node_modules says what was installed).
root=$(cd "$(dirname "$0")/.." && pwd)
lock="$root/viewer360/package-lock.json"
stamp="$root/viewer360/node_modules/.installed-lock.json"
if ! cmp -s "$lock" "$stamp"; then
  echo "setup: npm ci in viewer360"
  (cd "$root/viewer360" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$lock" "$stamp"
fi

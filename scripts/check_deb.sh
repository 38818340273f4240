#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian 12 root and runs it there as
# a user would: apt resolves the package's dependencies from the archive, then
# duoramic-cli reads and renders an installed sample and decodes a movie
# (which needs the GStreamer plugins the package depends on), and the viewer,
# started as the desktop entry's Exec line says, shows the sample MPO under
# Xvfb.  Screenshots and the rendered files land in OUTDIR.
#
# Run by hand, as root: it downloads a base system and some 400 MB of packages
# (a 2 GB root, about 5 minutes), so it is no part of scripts/test.sh or CI.
#   sudo bash scripts/check_deb.sh build/release/duoramic_*.deb [ROOT] [OUTDIR]
# ROOT (default: a new folder under /var/tmp, removed at the end) is made with
# debootstrap unless it already holds a system; a given ROOT is kept.
set -euo pipefail
deb=$(realpath "${1:?usage: check_deb.sh PACKAGE.deb [ROOT] [OUTDIR]}")
root=${2:-}
out=$(realpath -m "${3:-check-deb-out}")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
[[ $(id -u) -eq 0 ]] || { echo "check_deb.sh: run as root" >&2; exit 2; }
for tool in debootstrap ffmpeg; do
  command -v "$tool" >/dev/null || { echo "check_deb.sh: needs $tool" >&2; exit 2; }
done

keep_root=1
if [[ -z "$root" ]]; then
  root=$(mktemp -d /var/tmp/duoramic-deb12.XXXXXX)
  keep_root=0
fi
mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" || true; done
  ((keep_root)) || rm -rf --one-file-system "$root"
}
trap cleanup EXIT

if [[ ! -x "$root/usr/bin/apt-get" ]]; then
  debootstrap --variant=minbase bookworm "$root" "$mirror"
  printf '%s\n' "deb $mirror bookworm main" "deb $mirror bookworm-updates main" \
    "deb ${mirror%/debian}/debian-security bookworm-security main" \
    >"$root/etc/apt/sources.list"
fi
for m in proc sys dev dev/pts; do
  mkdir -p "$root/$m"
  if [[ $m == proc ]]; then mount -t proc proc "$root/proc"
  elif [[ $m == sys ]]; then mount -t sysfs sys "$root/sys"
  else mount --bind "/$m" "$root/$m"; fi
  mounts+=("$root/$m")
done
cp /etc/resolv.conf "$root/etc/resolv.conf"

work=/root/check-deb
rm -rf "$root$work" && mkdir -p "$root$work"
cp "$deb" "$root$work/"
# A side-by-side H.264 movie in MP4: demuxer (good), decoder (libav),
# converter and sinks (base).
ffmpeg -v error -y -f lavfi -i "testsrc2=s=320x180:r=12:d=30" \
  -vf "[in]split[a][b];[a][b]hstack[out]" -c:v libx264 -preset ultrafast \
  -pix_fmt yuv420p "$root$work/movie.mp4"
# A spatial HEIC (two HEVC pictures and a stereo group): libheif and its
# HEVC decoder must come with the package.
if command -v heif-enc >/dev/null; then
  for eye in 1 2; do
    ffmpeg -v error -y -f lavfi -i "testsrc2=s=320x240" -frames:v 1 \
      -vf "hue=h=$((eye * 90))" "$root$work/eye$eye.png"
  done
  python3 "$(dirname "$0")/make_spatial_heic.py" "$root$work/eye1.png" \
    "$root$work/eye2.png" "$root$work/spatial.heic"
fi

in_root() { chroot "$root" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
  DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 bash -euo pipefail -c "$1"; }

echo "== install the package and what it depends on"
in_root "apt-get update -qq && apt-get install -y -q $work/$(basename "$deb")"
in_root "dpkg -s duoramic | sed -n '/^Depends/p'"

echo "== the command-line program, before anything else is installed"
cat >"$root$work/cli.sh" <<'EOF'
duoramic-cli --help | head -n 3
duoramic-cli info /usr/share/duoramic/scene.mpo
duoramic-cli render /usr/share/duoramic/scene.mpo --format DuboisAnaglyph -o mpo.png
duoramic-cli info movie.mp4
if [ -f spatial.heic ]; then
  duoramic-cli info --json spatial.heic
  duoramic-cli render spatial.heic --format DuboisAnaglyph -o heic.png
fi
duoramic-cli movie movie.mp4 --format DuboisAnaglyph --frames 10 -o frames
n=$(ls frames | wc -l)
echo "movie: $n frames"
[ "$n" -eq 10 ]
EOF
in_root "cd $work && . ./cli.sh"

echo "== the viewer under Xvfb, started as the desktop entry says"
in_root "apt-get install -y -q --no-install-recommends xvfb xauth imagemagick >/dev/null"
cat >"$root$work/viewer.sh" <<'EOF'
# shoot NAME FILE: the desktop entry's command on FILE, screenshots after 8
# and 10 s
shoot() {
  exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/org.duoramic.Duoramic.desktop)
  cmd=${exec_line/\%F/$2}
  echo "$cmd"
  $cmd >"viewer-$1.log" 2>&1 &
  pid=$!
  sleep 8
  import -window root "shot-$1.png"
  sleep 2
  import -window root "shot-$1-later.png"
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "the viewer ended early:"; cat "viewer-$1.log"; return 1
  fi
  kill "$pid"; wait "$pid" || true
}
shoot mpo /usr/share/duoramic/scene.mpo
shoot movie "$PWD/movie.mp4"
pixels() { convert "$1" rgb:- | md5sum; }
if [ "$(pixels shot-movie.png)" = "$(pixels shot-movie-later.png)" ]; then
  echo "the movie does not play"; exit 1
fi
EOF
in_root "cd $work && xvfb-run -a -s '-screen 0 1280x800x24' bash -e ./viewer.sh"

mkdir -p "$out"
cp -r "$root$work"/{mpo.png,shot-*.png,frames} "$out/"
[[ -f "$root$work/heic.png" ]] && cp "$root$work/heic.png" "$out/"
echo "check_deb.sh: installed and ran; screenshots in $out"

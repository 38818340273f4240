#!/usr/bin/env bash
# Runs the two-monitor full-screen test on a private Xorg server with the
# dummy driver: two 1280 x 720 monitors side by side, the root painted
# magenta so that the test can see which parts the window covers.
# Exits 77 (skipped) when such a server cannot be had here, saying why.
# usage: two_monitors.sh TEST_BINARY XORG_CONFIG
set -u
driver=$1
config=$2

skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}

command -v Xorg >/dev/null || skip "Xorg is not installed (xserver-xorg-core)"
command -v xrandr >/dev/null ||
  skip "xrandr is not installed (x11-xserver-utils)"
command -v xsetroot >/dev/null ||
  skip "xsetroot is not installed (x11-xserver-utils)"
[[ -e /usr/lib/xorg/modules/drivers/dummy_drv.so ]] ||
  skip "the dummy video driver is not installed (xserver-xorg-video-dummy)"

# A display of our own, away from the ones interactive sessions use.
display=""
for n in $(seq 57 99); do
  if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then
    display=$n
    break
  fi
done
[[ -n "$display" ]] || skip "no free X display number between 57 and 99"

work=$(mktemp -d)
cp "$config" "$work/xorg.conf"
Xorg ":$display" -noreset -nolisten tcp -config "$work/xorg.conf" \
  -logfile "$work/xorg.log" >"$work/xorg.out" 2>&1 &
server=$!
cleanup() {
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export DISPLAY=":$display"
for _ in $(seq 100); do
  xrandr >/dev/null 2>&1 && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if ! xrandr >/dev/null 2>&1; then
  tail -n 15 "$work/xorg.out" "$work/xorg.log" >&2 2>/dev/null
  skip "Xorg with the dummy driver did not start on $DISPLAY"
fi

xrandr --addmode DUMMY1 1280x720 &&
  xrandr --output DUMMY1 --mode 1280x720 --right-of DUMMY0 ||
  skip "xrandr could not add the second monitor"
monitors=$(xrandr --listmonitors | head -n 1)
[[ "$monitors" == "Monitors: 2" ]] ||
  skip "the server reports '$monitors' instead of two monitors"
xsetroot -solid "#ff00ff"

here=$(cd "$(dirname "$0")" && pwd)
LSAN_OPTIONS="suppressions=$here/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export LSAN_OPTIONS
QT_QPA_PLATFORM=xcb "$driver"

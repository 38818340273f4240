#!/usr/bin/env bash
# Runs a window test binary as a native Wayland client of a private,
# headless Weston (one 1280 x 720 output, pixman, screenshots allowed), with
# a small movie made by ffmpeg in DUORAMIC_TEST_MOVIE, and then checks the
# client's protocol log.  viewer (the default): full screen was asked of the
# compositor (xdg_toplevel.set_fullscreen) between the test's markers,
# granted at the output's size, and left.  hosted: the 360-degree viewer's
# dialog, a child toplevel, asked for full screen and got it.  two-outputs:
# Weston with two 640 x 480 outputs side by side (nested in a headless one,
# since Weston 10's headless backend makes one output), where the test
# checks the outputs itself.
# Exits 77 (skipped) when Weston, its screenshooter, Qt's Wayland plugin or
# ffmpeg is missing, saying why.
# usage: under_weston.sh TEST_BINARY [viewer|hosted|two-outputs] [TEST ARGUMENTS...]
# KEEP_WESTON_LOG=FILE keeps a copy of the protocol log for a look by hand.
set -u
driver=$1
mode=${2:-viewer}
shift
(($#)) && shift

skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}

command -v weston >/dev/null || skip "weston is not installed (weston)"
command -v weston-screenshooter >/dev/null ||
  skip "weston-screenshooter is not installed (weston)"
command -v ffmpeg >/dev/null || skip "ffmpeg is not installed"
plugin=$(ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so 2>/dev/null | head -n 1)
[[ -n "$plugin" ]] || skip "Qt's Wayland platform plugin is missing (qt6-wayland)"

work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 0700 "$XDG_RUNTIME_DIR"
socket=duoramic-test
parent=""
if [[ $mode == two-outputs ]]; then
  weston --backend=headless-backend.so --socket=$socket-parent \
    --width=1400 --height=600 --use-pixman --idle-time=0 \
    --log="$work/parent.log" >"$work/parent.out" 2>&1 &
  parent=$!
  for _ in $(seq 100); do
    [[ -S "$XDG_RUNTIME_DIR/$socket-parent" ]] && break
    sleep 0.1
  done
  WAYLAND_DISPLAY=$socket-parent weston --backend=wayland-backend.so \
    --socket=$socket --output-count=2 --width=640 --height=480 \
    --use-pixman --idle-time=0 --debug \
    --log="$work/weston.log" >"$work/weston.out" 2>&1 &
else
  weston --backend=headless-backend.so --socket=$socket --width=1280 \
    --height=720 --use-pixman --idle-time=0 --debug \
    --log="$work/weston.log" >"$work/weston.out" 2>&1 &
fi
server=$!
cleanup() {
  kill "$server" $parent 2>/dev/null
  wait "$server" $parent 2>/dev/null
  [[ -n "${KEEP_WESTON_LOG:-}" ]] && cp "$work/protocol.log" "$KEEP_WESTON_LOG"
  rm -rf "$work"
}
trap cleanup EXIT

for _ in $(seq 100); do
  [[ -S "$XDG_RUNTIME_DIR/$socket" ]] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if [[ ! -S "$XDG_RUNTIME_DIR/$socket" ]]; then
  tail -n 20 "$work/weston.log" "$work/weston.out" >&2 2>/dev/null
  skip "headless Weston did not start"
fi

ffmpeg -v error -y -f lavfi -i testsrc2=s=320x180:r=12:d=20 \
  -vf "[in]split[a][b];[a][b]hstack[out]" -c:v libx264 -preset ultrafast \
  -pix_fmt yuv420p "$work/clip.mp4" || { echo "FAIL: ffmpeg" >&2; exit 1; }

here=$(cd "$(dirname "$0")" && pwd)
# Full stacks: Mesa's driver is unloaded before the leak check, so its own
# frames have no name, and only the frames above it (Mesa's EGL or GLX
# library) tell a leak of the driver's one-time set-up from one of ours.
# Not without a leak check (the web engine's tests): full stacks for each of
# its allocations would slow it by minutes.
full_stacks=":fast_unwind_on_malloc=0"
[[ "${ASAN_OPTIONS:-}" == *detect_leaks=0* ]] && full_stacks=""
LSAN_OPTIONS="suppressions=$here/lsan.supp$full_stacks${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export LSAN_OPTIONS
unset DISPLAY
export WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland
export DUORAMIC_TEST_MOVIE=$work/clip.mp4
WAYLAND_DEBUG=client "$driver" "$@" 2>"$work/protocol.log"
status=$?
grep -v -E '^\[ *[0-9.]+\] ' "$work/protocol.log" | tail -n 40 >&2
if ((status != 0)); then
  echo "FAIL: $driver exited $status" >&2
  exit "$status"
fi

# The requests and the compositor's answers between the test's markers.
section() {
  sed -n "/^=== $1\$/,/^=== /p" "$work/protocol.log"
}
failed=0
check() {
  if eval "$2"; then
    echo "ok: $1"
  else
    echo "FAILED: $1" >&2
    failed=1
  fi
}
[[ $mode == two-outputs ]] && exit 0
if [[ $mode == hosted ]]; then
  child=$(sed -n 's/.*-> xdg_toplevel@\([0-9]*\)\.set_parent(.*/\1/p' \
    "$work/protocol.log" | tail -n 1)
  check "the dialog is a toplevel of its own" '[[ -n "$child" ]]'
  check "the dialog asks for full screen" \
    'grep -q "xdg_toplevel@$child\.set_fullscreen(" "$work/protocol.log"'
  check "and the compositor grants it at the output's size" \
    'grep -q "xdg_toplevel@$child\.configure(1280, 720, " "$work/protocol.log"'
  exit "$failed"
fi
full=$(section "full screen")
back=$(section "windowed")
check "full screen asks the compositor for it (set_fullscreen)" \
  'grep -q "xdg_toplevel@[0-9]*\.set_fullscreen(" <<<"$full"'
check "the compositor configures the window at the output's size" \
  'grep -q "xdg_toplevel@[0-9]*\.configure(1280, 720, " <<<"$full"'
check "leaving asks for it to end (unset_fullscreen)" \
  'grep -q "xdg_toplevel@[0-9]*\.unset_fullscreen(" <<<"$back"'
check "and the compositor gives the window another size" \
  'grep "xdg_toplevel@[0-9]*\.configure(" <<<"$back" | tail -n 1 |
     grep -qv "configure(1280, 720, "'
exit "$failed"

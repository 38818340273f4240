#!/usr/bin/env bash
# Runs a test binary on a private Xvfb server with the xcb platform (Mesa's
# software OpenGL); exits 77 (skipped) when Xvfb is not installed.
# usage: under_xvfb.sh TEST_BINARY [ARGS...]
set -u
if ! command -v xvfb-run >/dev/null; then
  echo "SKIPPED: xvfb-run is not installed (xvfb)" >&2
  exit 77
fi
export QT_QPA_PLATFORM=xcb
# Mesa's software driver is unloaded at exit, and what it kept for the
# process then shows as leaks from an unknown module that no suppression can
# name; memory errors are still caught.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
exec xvfb-run -a -s "-screen 0 1280x720x24" "$@"

#!/usr/bin/env bash
# Sets up, builds under AddressSanitizer and UBSan, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" asan
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/e2e/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$root/build/asan"
ctest --output-on-failure -j "${JOBS:-$(nproc)}"

# The threads that read ahead and decode views side by side, and the movie
# frames the streaming thread presents while the window resizes and paints,
# under ThreadSanitizer: those tests only, in a build of their own.
bash "$root/scripts/build.sh" tsan
# Qt and the libraries under it are not built for the sanitizer: what it
# sees inside them is not ours to judge.
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:suppressions=$root/tests/tsan.supp} \
  QT_QPA_PLATFORM=offscreen "$root/build/tsan/tests/duoramic_window_tests" \
  --gtest_filter='ReadAheadTest.*:FirstLookTest.*:NavigationTest.*:MoviePlayerTest.*'

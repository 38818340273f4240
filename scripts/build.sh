#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   scripts/build.sh release   -> build/release  (optimised: the viewer, the CLI, benchmarks)
#   scripts/build.sh asan      -> build/asan     (AddressSanitizer + UBSan: the test suite)
#   scripts/build.sh fuzz      -> build/fuzz     (clang + libFuzzer targets)
#   scripts/build.sh tsan      -> build/tsan     (ThreadSanitizer: the window
#                                                 tests only, for the threads
#                                                 of navigation and movies)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
targets=()
jobs=${JOBS:-$(nproc)}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# A compiler cache, when the machine has one, makes rebuilds in several
# checkouts cheap; CI builds without it.
launcher=()
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

case "$flavour" in
  release) args=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUORAMIC_SANITIZE=ON -DDUORAMIC_BENCH=OFF) ;;
  fuzz) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUORAMIC_FUZZ=ON
              -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  tsan) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUORAMIC_TSAN=ON -DDUORAMIC_BENCH=OFF)
        targets=(--target duoramic_window_tests) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac

cmake -S "$root" -B "$root/build/$flavour" "${generator[@]}" "${launcher[@]}" "${args[@]}" >/dev/null
cmake --build "$root/build/$flavour" -j "$jobs" "${targets[@]}"

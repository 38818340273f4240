#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one briefly, seeded from the
# conformance files.  FUZZ_SECONDS sets the time per target (default 60).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
testdata=${DUORAMIC_TESTDATA:-$root/../shared/testdata}
seconds=${FUZZ_SECONDS:-60}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" fuzz

seeds_for() {
  case "$1" in
    jpeg_fuzzer) echo "$testdata/jpeg $testdata/sbs $root/resources/samples" ;;
    mpo_fuzzer) echo "$testdata/mpo $root/resources/samples $root/fuzz/seeds/mpo_written" ;;
    first_look_fuzzer) echo "$testdata/mpo $root/resources/samples $root/fuzz/seeds/mpo_written" ;;
    # Pictures to write as MPOs: small ones of every reader.
    mpo_writer_fuzzer) echo "$testdata/jpeg/jpegsuite/baseline $testdata/pngsuite $root/fuzz/seeds/mpo_written" ;;
    heif_boxes_fuzzer) echo "$root/fuzz/seeds/heif" ;;
    movie_boxes_fuzzer) echo "$root/fuzz/seeds/movie_boxes" ;;
    vr_photo_fuzzer) echo "$root/fuzz/seeds/vr_photo $testdata/jpeg" ;;
    png_fuzzer) echo "$testdata/pngsuite" ;;
    tiff_fuzzer) echo "$testdata/tiff" ;;
    gif_fuzzer) echo "$testdata/gif" ;;
    bmp_fuzzer) echo "$testdata/bmpsuite" ;;
    list_fuzzer) echo "$root/resources/samples" ;;
    # Descriptors of each layout and eye order, and JPS files we wrote.
    jps_layout_fuzzer) echo "$testdata/sbs $root/fuzz/seeds/jps_layout" ;;
    thumbnail_fuzzer) echo "$testdata/mpo $testdata/sbs $root/resources/samples $root/fuzz/seeds/jps_layout" ;;
    # Comment texts in both encodings, at and past the length limit.
    comment_capture_fuzzer) echo "$root/fuzz/seeds/comment_capture" ;;
    jpeg_comment_writer_fuzzer) echo "$testdata/jpeg $testdata/mpo $root/resources/samples" ;;
    *) echo "$testdata" ;;
  esac
}

status=0
for target in "$root"/build/fuzz/fuzz/*_fuzzer; do
  [[ -x "$target" ]] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  seeds=()
  for dir in $(seeds_for "$name"); do
    [[ -d "$dir" ]] && seeds+=("$dir")
  done
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 \
       -print_final_stats=1 -artifact_prefix="$root/build/fuzz/$name-" \
       "$corpus" "${seeds[@]}" > "$root/build/fuzz/$name.log" 2>&1; then
    echo "fuzz: $name FAILED"; tail -60 "$root/build/fuzz/$name.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units' "$root/build/fuzz/$name.log" || true
  fi
  rm -rf "$corpus"
done
exit $status

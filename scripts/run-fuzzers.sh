#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for FUZZ_SECONDS seconds each, with
# its corpus under <build>/corpus/<target> (seeded from fuzz/seeds/<target>),
# its dictionary fuzz/dict/<format>.dict and the input size its format needs.
# A finding is left under <build>/crashes/<target>: copy it into
# tests/regressions/files/<extension>/ with the fix, and its outcome into the
# table of tests/regressions/regression_test.cpp.
set -euo pipefail
dir=${1:?usage: run-fuzzers.sh BUILD_FUZZ_DIR}
seconds=${FUZZ_SECONDS:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for target in "$dir"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus" "$dir/crashes/$name"
  seeds=()
  [ -d "$root/fuzz/seeds/$name" ] && seeds+=("$root/fuzz/seeds/$name")
  options=()
  case "$name" in
    fuzz_png) options+=(-dict="$root/fuzz/dict/png.dict" -max_len=102400) ;;
    fuzz_jpeg) options+=(-dict="$root/fuzz/dict/jpeg.dict" -max_len=102400) ;;
    fuzz_bmp) options+=(-dict="$root/fuzz/dict/bmp.dict") ;;
    fuzz_ico) options+=(-dict="$root/fuzz/dict/ico.dict") ;;
    fuzz_gif*) options+=(-dict="$root/fuzz/dict/gif.dict") ;;
    fuzz_registry) options+=(-dict="$root/fuzz/dict/registry.dict" -max_len=102400) ;;
  esac
  echo "== $name ($seconds s)"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "${options[@]}" \
       -artifact_prefix="$dir/crashes/$name/" "$corpus" "${seeds[@]}"; then
    echo "!! $name found a problem: see $dir/crashes/$name"
    status=1
  fi
done
exit $status

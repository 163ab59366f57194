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
# Undefined behaviour stops a target like a crash and leaves its input, even
# in code built without -fno-sanitize-recover; a report that still gets
# through (its line in the target's log under <build>/logs) fails the run too.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
mkdir -p "$dir/logs"
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
  log="$dir/logs/$name.log"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "${options[@]}" \
       -artifact_prefix="$dir/crashes/$name/" "$corpus" "${seeds[@]}" 2>&1 | tee "$log"; then
    echo "!! $name found a problem: see $dir/crashes/$name"
    status=1
  elif grep -q "runtime error:" "$log"; then
    echo "!! $name reported undefined behaviour: see $log"
    status=1
  fi
done
exit $status

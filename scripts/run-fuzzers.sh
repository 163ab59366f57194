#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for FUZZ_SECONDS seconds each, with
# its corpus under fuzz/corpus/<target> (seeded from fuzz/seeds/<target>).
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
  echo "== $name ($seconds s)"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
       -artifact_prefix="$dir/crashes/$name/" "$corpus" "${seeds[@]}"; then
    echo "!! $name found a problem: see $dir/crashes/$name"
    status=1
  fi
done
exit $status

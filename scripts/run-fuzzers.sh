#!/usr/bin/env bash
# Runs every fuzz target found in DIR for SECONDS each, seeded with its saved
# regression inputs.  A crash fails the run and leaves the input in build/fuzz-findings.
set -euo pipefail
dir=$1; secs=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/fuzz-findings; mkdir -p "$out"
status=0
for t in "$dir"/fuzz_*; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus=$root/build/fuzz-corpus/$name; mkdir -p "$corpus"
  seeds=$root/tests/fuzz/regress/$name
  args=("$corpus"); [ -d "$seeds" ] && args+=("$seeds")
  echo "== fuzzing $name for ${secs}s"
  if ! "$t" -max_total_time="$secs" -rss_limit_mb=4096 -artifact_prefix="$out/$name-" \
       -print_final_stats=0 "${args[@]}" >"$out/$name.log" 2>&1; then
    echo "FAILED: $name (see $out/$name.log)"; tail -n 40 "$out/$name.log"; status=1
  fi
done
exit $status

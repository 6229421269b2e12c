#!/usr/bin/env bash
# Runs every fuzz target found in DIR within one shared wall-clock budget of
# SECONDS, as many targets at a time as there are processors, each seeded with
# its saved regression inputs.  A crash fails the run and leaves the input in
# build/fuzz-findings.
set -euo pipefail
dir=$1; budget=${2:-360}
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/fuzz-findings; mkdir -p "$out"
targets=()
for t in "$dir"/fuzz_*; do [ -x "$t" ] && targets+=("$t"); done
n=${#targets[@]}
[ "$n" -gt 0 ] || { echo "no fuzz targets in $dir"; exit 1; }
jobs=$(nproc); [ "$jobs" -le "$n" ] || jobs=$n
# Targets run in rounds of $jobs; the rounds share the budget.
rounds=$(( (n + jobs - 1) / jobs ))
secs=$(( budget / rounds )); [ "$secs" -ge 10 ] || secs=10
echo "== fuzzing $n targets, $jobs at a time, ${secs}s each"

fuzz_one() {
  local t=$1 name corpus seeds
  name=$(basename "$t")
  corpus=$root/build/fuzz-corpus/$name; mkdir -p "$corpus"
  seeds=$root/tests/fuzz/regress/$name
  local args=("$corpus"); [ -d "$seeds" ] && args+=("$seeds")
  if "$t" -max_total_time="$secs" -rss_limit_mb=2048 -artifact_prefix="$out/$name-" \
       -print_final_stats=0 "${args[@]}" >"$out/$name.log" 2>&1; then
    echo "ok: $name"
  else
    echo "FAILED: $name (see $out/$name.log)"; tail -n 40 "$out/$name.log"; return 1
  fi
}
export -f fuzz_one; export root out secs
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'fuzz_one "$@"' _ {}

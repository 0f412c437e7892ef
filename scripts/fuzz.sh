#!/usr/bin/env bash
# Builds every fuzz target with clang (every library instrumented for the
# fuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) into build/fuzz,
# then runs each one for a few seconds from its seeds in
# fuzz/corpus/<target without _fuzz> (and its dictionary fuzz/<same>.dict
# when there is one). A crash, a leak, a time-out or a broken invariant
# fails the run; so does a target without seeds.
# Usage: scripts/fuzz.sh [seconds per target, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
seconds=${1:-5}
flags="-O1 -gline-tables-only"
mkdir -p build/fuzz
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DDECK_FUZZ=ON -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build build/fuzz --target fuzz_targets

failed=0
ran=0
for bin in build/fuzz/fuzz/*_fuzz; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  topic=${name%_fuzz}
  seeds=fuzz/corpus/$topic
  if [ ! -d "$seeds" ] || [ -z "$(ls -A "$seeds")" ]; then
    echo "FAIL $name: no seed inputs in $seeds"
    failed=$((failed + 1))
    continue
  fi
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
  [ -f "fuzz/$topic.dict" ] && args+=(-dict="$PWD/fuzz/$topic.dict")
  # New inputs and crash files go to a scratch folder, not the checkout.
  work=$(mktemp -d)
  log=$(mktemp)
  if (cd "$work" && "$OLDPWD/$bin" "${args[@]}" "$work" "$OLDPWD/$seeds") >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "ok   $name: ${runs:-?} runs in ${seconds}s from $(ls "$seeds" | wc -l) seeds"
    ran=$((ran + 1))
  else
    echo "FAIL $name:"
    tail -n 40 "$log"
    failed=$((failed + 1))
  fi
  rm -rf "$work" "$log"
done
echo "fuzz: $ran passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$ran" -gt 0 ]

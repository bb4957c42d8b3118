#!/usr/bin/env bash
# Runs every libFuzzer target (bin/fuzz_*) of a build for a few seconds each, starting from the seed
# corpus in tests/fuzz/corpus/<target> when there is one. A crash fails the run.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bindir=${1:?bin folder}
seconds=${2:-20}
shopt -s nullglob
for fuzzer in "$bindir"/fuzz_*; do
    name=$(basename "$fuzzer")
    seeds="$top/tests/fuzz/corpus/$name"
    work=$(mktemp -d)
    [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
    echo "-- $name (${seconds}s)"
    "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$work/" "$work" \
        >"$work.log" 2>&1 || { tail -n 60 "$work.log"; echo "FUZZ FAILURE in $name"; exit 1; }
    # The target may print its own lines (a layout fault, say); the run's summary is the "Done" line.
    grep -E '^Done [0-9]+ runs' "$work.log" | tail -n 1 || tail -n 1 "$work.log"
    rm -rf "$work" "$work.log"
done

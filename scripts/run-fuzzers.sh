#!/usr/bin/env bash
# Runs every libFuzzer target (bin/fuzz_*) of a build for SECONDS each (default 20: the short runs
# of scripts/test.sh), starting from the seed corpus in tests/fuzz/corpus/<target> when there is
# one, and prints each target's inputs per second. A crash fails the run. For a campaign give a
# longer time: scripts/run-fuzzers.sh build-asan/bin 3600 (10^7 inputs need about half an hour
# per target at 5,000 inputs/s).
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
    done_line=$(grep -E '^Done [0-9]+ runs' "$work.log" | tail -n 1 || true)
    if [ -n "$done_line" ]; then
        runs=$(echo "$done_line" | awk '{print $2}')
        secs=$(echo "$done_line" | awk '{print $5}')
        echo "$done_line ($(( runs / (secs > 0 ? secs : 1) )) inputs/s)"
    else
        tail -n 1 "$work.log"
    fi
    rm -rf "$work" "$work.log"
done

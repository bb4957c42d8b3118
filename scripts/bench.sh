#!/usr/bin/env bash
# Builds the release configuration and runs every benchmark (bench/<area>/run.sh when an area has
# one, else each program bench_* it builds), printing their figures.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh"
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
shopt -s nullglob
# A benchmark that misses its target (or fails) exits non-zero; the others still run.
failed=()
for area in bench/*/; do
    name=$(basename "$area")
    if [ -x "$area/run.sh" ]; then
        echo "== $name"
        "$area/run.sh" "$top/build" || failed+=("$name")
    else
        for prog in build/bench/bench_"$name"*; do
            echo "== $(basename "$prog")"
            "$prog" || failed+=("$(basename "$prog")")
        done
    fi
done
if [ "${#failed[@]}" -gt 0 ]; then
    echo "missed a target or failed: ${failed[*]}" >&2
    exit 1
fi

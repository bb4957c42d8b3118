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
for area in bench/*/; do
    name=$(basename "$area")
    if [ -x "$area/run.sh" ]; then
        echo "== $name"
        "$area/run.sh" "$top/build"
    else
        for prog in build/bench/bench_"$name"*; do
            echo "== $(basename "$prog")"
            "$prog"
        done
    fi
done

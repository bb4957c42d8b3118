#!/usr/bin/env bash
# The engine's whole restore against the simulator, twice: with the simulated phone's storage on
# the disk beside the backups, and (when /dev/shm can be written) on a memory file system, where
# the phone's own file-system costs stay out of the figure. See BenchRestore.cpp.
#
#   bench/restore/run.sh [BUILD_DIR] [bench_restore options...]
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
shift || true
bench="$build/bench/bench_restore"
[ -x "$bench" ] || { echo "missing $bench: build first" >&2; exit 1; }
status=0
echo "-- phone on disk"
"$bench" "$@" || status=$?
if [ -w /dev/shm ]; then
    echo "-- phone in memory (/dev/shm)"
    "$bench" --phone-in /dev/shm "$@" || status=$?
fi
exit "$status"

#!/usr/bin/env bash
# The project's test command: installs what is missing, builds, and runs the whole suite twice,
# once in the normal build and once under AddressSanitizer + UndefinedBehaviorSanitizer (where the
# libFuzzer targets are built and run briefly too).
#   scripts/test.sh            everything, as CI runs it
#   scripts/test.sh --quick    the normal build only (for a quick round while developing)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
quick=0
[ "${1:-}" = "--quick" ] && quick=1

"$top/scripts/install-deps.sh"
jobs=$(nproc)

echo "== normal build"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs" --timeout 900

[ $quick = 1 ] && exit 0

echo "== sanitizer build (ASan + UBSan)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
# Tests labelled slow wait on real timeouts; the normal build has run them already.
ctest --preset asan -j "$jobs" --timeout 900 -LE slow

if compgen -G "build-asan/bin/fuzz_*" >/dev/null; then
    echo "== fuzz targets (short runs)"
    "$top/scripts/run-fuzzers.sh" build-asan/bin "${TOLVANE_FUZZ_SECONDS:-10}"
fi
echo "== all tests passed"

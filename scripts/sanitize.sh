#!/usr/bin/env bash
# Builds everything with clang under AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (or $ASAN_BUILD_DIR, see scripts/checked-build.sh) and runs the whole test
# suite there; any report fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$root/build-asan}
"$root/scripts/checked-build.sh"
cd "$build"
# Leaks count too; the first report of any kind stops the test that made it.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# A test that ends the program by killing it leaves its port's lock behind: that fails too.
QT_QPA_PLATFORM=offscreen "$root/scripts/stale-locks.sh" after ctest --output-on-failure -j2

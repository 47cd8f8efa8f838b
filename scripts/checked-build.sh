#!/usr/bin/env bash
# Configures and builds the checked tree, build-asan/ (or $ASAN_BUILD_DIR): clang-14 with
# AddressSanitizer and UndefinedBehaviorSanitizer, the test suite and the libFuzzer targets
# in one tree, so scripts/sanitize.sh and scripts/fuzz.sh compile the program once between
# them. The benchmarks are left out (the plain build compiles them), and debug information is
# line tables only, which is all a sanitizer's report needs. Builds the TARGETs, or all.
#   scripts/checked-build.sh [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$root/build-asan}
"$root/scripts/deps.sh"
flags="-O2 -gline-tables-only -DNDEBUG"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DSC_SANITIZE=ON -DSC_FUZZ=ON \
  -DSC_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build "$build" -j"$(nproc)" --target "$@"
else
  cmake --build "$build" -j"$(nproc)"
fi

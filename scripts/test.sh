#!/usr/bin/env bash
# Builds and runs every test. No display is needed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
cd "$build"
# A test that ends the program by killing it leaves its port's lock behind: that fails too.
QT_QPA_PLATFORM=offscreen "$root/scripts/stale-locks.sh" after ctest --output-on-failure -j2

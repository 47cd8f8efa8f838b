#!/usr/bin/env bash
# Builds the program and runs it. The program looks for comm.set and the COMn links in
# its own directory (build/bin). When the saved port has no COMn link there, the bundled
# sensor simulator is started on it, so the window has a module to talk to; pass
# --no-sim to use the real serial ports instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
use_sim=1
[ "${1:-}" = "--no-sim" ] && use_sim=0

"$root/scripts/build.sh"
bin="$build/bin"

sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ "$use_sim" -eq 1 ]; then
  [ -f "$bin/comm.set" ] || printf '4,19200\r\n' > "$bin/comm.set"
  port=$(head -c 16 "$bin/comm.set" | cut -d, -f1 | tr -dc '0-9')
  if [ -n "$port" ] && [ "$port" -ge 1 ] && [ "$port" -le 16 ] && [ ! -e "$bin/COM$port" ]; then
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    "$bin/sensor-sim" --link "$bin/COM$port" > "$fifo" &
    sim_pid=$!
    read -r ready < "$fifo" && echo "$ready"
    rm -f "$fifo"
  fi
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running under Xvfb (use scripts/screenshot.sh to see the window)."
  xvfb-run -a "$bin/sensor-companion"
else
  "$bin/sensor-companion"
fi

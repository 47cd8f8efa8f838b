#!/usr/bin/env bash
# Renders the window under Xvfb, talking to the simulator, into docs/window.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"

work=$(mktemp -d)
display=":$((90 + RANDOM % 100))"
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

cp "$build/bin/sensor-companion" "$work/"
printf '4,19200\r\n' > "$work/comm.set"
"$build/bin/sensor-sim" --link "$work/COM4" > "$work/sim.log" &
pids+=($!)
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/sim.log" ] && [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

DISPLAY=$display "$work/sensor-companion" >/dev/null 2>&1 &
pids+=($!)
sleep 2
mkdir -p "$root/docs"
# Xvfb has no window manager, so the window sits at 0,0.
DISPLAY=$display import -window root -crop 834x653+0+0 +repage "$root/docs/window.png"
echo "wrote docs/window.png"

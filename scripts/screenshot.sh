#!/usr/bin/env bash
# Renders the window under Xvfb, talking to the simulator, into docs/window.png: the
# window polls once a second for a few seconds, so it shows a reading, the last request
# and reply, the lamp and both counters.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"

work=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

cp "$build/bin/sensor-companion" "$work/"
printf '4,19200\r\n' > "$work/comm.set"
"$build/bin/sensor-sim" --link "$work/COM4" > "$work/sim.log" &
pids+=($!)
# Xvfb picks a free display itself and names it once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/sim.log" ] && [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(cat "$work/display")"

DISPLAY=$display "$work/sensor-companion" >/dev/null 2>&1 &
pids+=($!)
# The window is mapped and painted once a window of its size exists.
for _ in $(seq 100); do
  DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '834x653' && break
  sleep 0.1
done
sleep 0.5
# "循环" (the cycle button) at its place in the window, which sits at 0,0.
DISPLAY=$display xdotool mousemove 452 468 click 1
sleep 3.6
mkdir -p "$root/docs"
# Xvfb has no window manager, so the window sits at 0,0.
DISPLAY=$display import -window root -crop 834x653+0+0 +repage "$root/docs/window.png"
echo "wrote docs/window.png"

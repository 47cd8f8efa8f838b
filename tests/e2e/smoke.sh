#!/usr/bin/env bash
# Black-box start of the built program under Xvfb: in a program directory of its own with
# a comm.set and a COM4 link to the simulator, it must open the port and send nothing.
#   smoke.sh SENSOR_COMPANION SENSOR_SIM
set -euo pipefail
program=$1
sim=$2

work=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

cp "$program" "$work/sensor-companion"
printf '4,19200\r\n' > "$work/comm.set"
"$sim" --link "$work/COM4" --log "$work/sim.log" > "$work/sim.out" &
pids+=($!)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/sim.out" ] && [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/sim.out" ] || { echo "FAIL: the simulator did not start"; exit 1; }
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
display=":$(cat "$work/display")"

DISPLAY=$display QT_QPA_PLATFORM=xcb "$work/sensor-companion" > "$work/program.out" 2>&1 &
app=$!
pids+=($app)
shown=0
for _ in $(seq 100); do
  if DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '834x653'; then shown=1; break; fi
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
[ "$shown" -eq 1 ] || { echo "FAIL: no window"; cat "$work/program.out"; exit 1; }
sleep 1
kill -0 "$app" 2>/dev/null || { echo "FAIL: the program ended"; exit 1; }

device=$(readlink -f "$work/COM4")
opened=0
for fd in /proc/"$app"/fd/*; do
  [ "$(readlink -f "$fd" 2>/dev/null)" = "$device" ] && opened=1
done
[ "$opened" -eq 1 ] || { echo "FAIL: the program did not open $device"; exit 1; }

if grep -q ' rx ' "$work/sim.log"; then
  echo "FAIL: the program sent at start-up:"; grep ' rx ' "$work/sim.log"; exit 1
fi
echo "ok: the window is up, $device is open, nothing was sent"

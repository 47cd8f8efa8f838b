#!/usr/bin/env bash
# Black-box start of the built program under Xvfb: in a program directory of its own with
# a comm.set and a COM4 link to the simulator, it must open the port and send nothing.
# Then, polling every 50 ms, SIGTERM (a logout, a kill) must end it at once with status 0,
# the port closed and its lock file gone, as closing the window would.
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
  if DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -Eq ' 834x6[0-9]{2}[+ ]'; then shown=1; break; fi
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

# Polling at 50 ms: the interval box and "循环" (no window manager, so the window sits at 0,0,
# its client area under the menu bar).
menu=$(( $(DISPLAY=$display xwininfo -root -tree | grep -Eo ' 834x6[0-9]{2}' | head -n 1 | cut -dx -f2) - 653 ))
DISPLAY=$display xdotool mousemove 168 $((468 + menu)) click 1 key ctrl+a type 50
DISPLAY=$display xdotool mousemove 452 $((468 + menu)) click 1
for _ in $(seq 100); do [ "$(grep -c ' rx ' "$work/sim.log")" -ge 5 ] && break; sleep 0.05; done
[ "$(grep -c ' rx ' "$work/sim.log")" -ge 5 ] || { echo "FAIL: no polling"; exit 1; }
lock=/run/lock/LCK..$(echo "${device#/dev/}" | tr / _)
[ -e "$lock" ] || [ ! -w /run/lock ] || { echo "FAIL: no lock file $lock while polling"; exit 1; }

kill -TERM "$app"
ended=0
for _ in $(seq 20); do kill -0 "$app" 2>/dev/null || { ended=1; break; }; sleep 0.1; done
[ "$ended" -eq 1 ] || { echo "FAIL: still running 2 s after SIGTERM"; exit 1; }
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || { echo "FAIL: exit status $status after SIGTERM"; cat "$work/program.out"; exit 1; }
[ ! -e "$lock" ] || { echo "FAIL: SIGTERM left $lock behind"; exit 1; }
echo "ok: SIGTERM while polling ended the program at once, status 0, no lock left"

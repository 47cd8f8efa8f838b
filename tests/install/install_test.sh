#!/usr/bin/env bash
# The Debian package as a technician meets it. Builds and checks it (scripts/package.sh:
# lintian, desktop-file-validate, appstreamcli), installs it with apt-get, then, as an
# unprivileged user with a fresh home: links COM4 to the installed simulator with
# sensor-companion-ports, starts the installed window under an Xvfb of its own, picks
# COM4, saves, closes the message and clicks "单次". The simulator's log must show the
# request and comm.set must be in the user's configuration directory, not in /usr/bin.
# The package is removed at the end. Run as root (CI does).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "install_test.sh: run as root" >&2; exit 1; }

# The build's output goes on to stderr as it comes; the last line is the package. Not
# `tee /dev/stderr`: reopening stderr truncates it when it is a log file.
deb=$("$root/scripts/package.sh" | tee >(cat >&2) | tail -n 1)

work=$(mktemp -d)
chmod 755 "$work" # nobody reaches its home inside
home=$work/home
pids=()
cleanup() {
  kill "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  apt-get purge -y -q sensor-companion >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
apt-get purge -y -q sensor-companion >/dev/null 2>&1 || true
apt-get install -y -q "$deb" >/dev/null ||
  { apt-get update -q >/dev/null && apt-get install -y -q "$deb" >/dev/null; }
echo "installed $(dpkg-query -W -f='${Package} ${Version}' sensor-companion)"

# It tests the package, not the machine: a lock that an ended process of another user left
# on a pseudo-terminal would keep nobody's program from opening that line.
"$root/scripts/stale-locks.sh" remove

mkdir -p "$home/runtime"
chmod 700 "$home/runtime"
chown -R nobody:nogroup "$home"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$(cat "$work/display")"

# nobody, with a home of its own and nothing else from this shell. A command, not a
# function, so that $! of a background run is the process itself.
as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups
  env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$DISPLAY"
  XDG_RUNTIME_DIR="$home/runtime")

"${as_user[@]}" sensor-companion-sim --link "$home/sim-line" --log "$home/sim.log" \
  >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
[ -s "$work/sim.out" ] || { echo "FAIL: the simulator did not start"; exit 1; }
"${as_user[@]}" sensor-companion-ports link 4 "$home/sim-line"
listing=$("${as_user[@]}" sensor-companion-ports)
grep -q "COM4 → $home/sim-line" <<<"$listing" ||
  { echo "FAIL: sensor-companion-ports does not list the COM4 link:"; echo "$listing"; exit 1; }

"${as_user[@]}" sensor-companion >"$work/program.out" 2>&1 &
app=$!
pids+=($app)
shown=0
for _ in $(seq 150); do
  if xwininfo -root -tree 2>/dev/null | grep -Eq ' 834x6[0-9]{2}[+ ]'; then shown=1; break; fi
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
[ "$shown" -eq 1 ] || { echo "FAIL: no window"; cat "$work/program.out"; exit 1; }
sleep 1
# The menu bar's height: the window's below its client area of 653 pixels.
menu=$(( $(xwininfo -root -tree | grep -Eo ' 834x6[0-9]{2}' | head -n 1 | cut -dx -f2) - 653 ))

# The window sits at 0,0 (no window manager). The first run has no comm.set, so nothing
# is selected in the port list: open it, type to find COM4 and take it with Enter.
xdotool mousemove 570 $((43 + menu)) click 1
sleep 0.5
xdotool type --delay 50 COM4
xdotool key Return
sleep 0.5
xdotool mousemove 766 $((42 + menu)) click 1 # "保存设置"
box=$(timeout 10 xdotool search --sync --name '^系统提示$' | head -n 1) ||
  { echo "FAIL: no message box after saving"; exit 1; }
xdotool windowfocus --sync "$box" key Return
sleep 0.5
xdotool mousemove 308 $((468 + menu)) click 1 # "单次"
for _ in $(seq 50); do grep -q ' rx ' "$home/sim.log" && break; sleep 0.1; done

fail=0
grep -q ' rx 01 03 00 00 00 02 C4 0B$' "$home/sim.log" ||
  { echo "FAIL: the request did not reach the simulator:"; cat "$home/sim.log"; fail=1; }
saved=$home/.config/sensor-companion/comm.set
# The baud-rate list shows 19200 when nothing is saved yet.
[ "$(od -An -c "$saved" 2>/dev/null | tr -s ' ')" = " 4 , 1 9 2 0 0 \r \n" ] ||
  { echo "FAIL: $saved does not hold 4,19200"; fail=1; }
for f in /usr/bin/comm.set /usr/bin/COM4; do
  [ ! -e "$f" ] && [ ! -L "$f" ] || { echo "FAIL: $f was written"; fail=1; }
done
kill -0 "$app" 2>/dev/null || { echo "FAIL: the program ended"; cat "$work/program.out"; fail=1; }
# A logout ends it with SIGTERM: the port must close and its lock go with it.
device=$(readlink -f "$home/sim-line")
lock=/run/lock/LCK..$(echo "${device#/dev/}" | tr / _)
kill -TERM "$app" 2>/dev/null || true
for _ in $(seq 20); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || { echo "FAIL: exit status $status after SIGTERM"; fail=1; }
[ ! -e "$lock" ] || { echo "FAIL: SIGTERM left $lock behind"; fail=1; }
[ "$fail" -eq 0 ] && echo "ok: installed, COM4 linked and saved in $saved, the query reached the simulator, SIGTERM left no lock"
exit "$fail"

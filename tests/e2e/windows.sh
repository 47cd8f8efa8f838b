#!/usr/bin/env bash
# The Windows build under wine against the sensor simulator, on an Xvfb of its own, as a
# technician gets it:
#  1. unpacked from the zip, with comm.set "4,19200" beside the .exe and COM4 in the
#     prefix's dosdevices/ linked to the simulator: a click on "单次" must send the request
#     (the simulator's log) and show the simulator's reply and its reading in the window
#     (read back through the clipboard); "保存设置" rewrites comm.set beside the .exe and
#     writes nothing elsewhere; Ctrl+T opens the trend window; then with COM5 saved and
#     COM5-tcp.txt beside the .exe naming a second simulator's TCP server on the Linux side
#     (loopback), "单次" shows that simulator's reply;
#  2. installed by the installer, with an administrator's comm.set in
#     %PROGRAMDATA%\sensor-companion: the port opens from it, "保存设置" writes the user's own comm.set in
#     %LOCALAPPDATA%\sensor-companion and leaves Program Files alone; the Start-menu entry
#     is there, and the uninstaller removes the program but not the settings.
#   windows.sh WINEPREFIX ZIP SETUP_EXE SENSOR_SIM SCREENSHOT_PNG
set -euo pipefail
export WINEPREFIX=$(realpath "$1")
zip=$(realpath "$2")
setup=$(realpath "$3")
sim=$(realpath "$4")
screenshot=$(realpath -m "$5")
PATH=$PATH:/usr/lib/wine
# Windows programs run as for the unit tests, in a prefix made on first use.
wine_sh=$(dirname "$0")/../../packaging/windows/wine.sh
wine() { "$wine_sh" "$WINEPREFIX" "$@"; }
# The session ends before the program starts: a program joins a running session, display
# and all.
wine cmd /c exit >/dev/null 2>&1
wineserver -w
caption='传感器调试助手 - 技术支持请联系设备供应商'
c_drive=$WINEPREFIX/drive_c
installed=$c_drive/Program\ Files/sensor-companion
shortcut=$c_drive/ProgramData/Microsoft/Windows/Start\ Menu/Programs/传感器调试助手.lnk
local_settings=$c_drive/users/$(id -un)/AppData/Local/sensor-companion
admin_settings=$c_drive/ProgramData/sensor-companion
# What an earlier run left in the prefix.
rm -rf "$c_drive/unpacked" "$installed" "$local_settings" "$admin_settings" "$shortcut"

work=$(mktemp -d)
pids=()
cleanup() {
  kill "${pids[@]}" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work" "$c_drive/unpacked"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

# The simulator makes COM4 itself: its link is the prefix's device name.
"$sim" --link "$WINEPREFIX/dosdevices/com4" --log "$work/sim.log" > "$work/sim.out" &
pids+=($!)
# The module behind a serial device server, for a COMn that stands for a TCP address.
"$sim" --tcp 0 --log "$work/tcp.log" > "$work/tcp.out" &
pids+=($!)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/sim.out" ] && [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/sim.out" ] || fail "the simulator did not start"
for _ in $(seq 50); do [ -s "$work/tcp.out" ] && break; sleep 0.1; done
tcp_address=$(sed -n 's/^sensor-sim: tcp \([^,]*\),.*/tcp:\/\/\1/p' "$work/tcp.out")
[ -n "$tcp_address" ] || fail "the simulator on TCP did not start"
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

program=0
window=0
# start PROGRAM_PATH_ON_C: the program by its Windows path, so that it knows where it lies.
start() {
  "$wine_sh" "$WINEPREFIX" "C:\\${1//\//\\}" > "$work/program.out" 2>&1 &
  program=$!
  pids+=($program)
  window=""
  for _ in $(seq 300); do
    window=$(xdotool search --name "^$caption\$" 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$window" ] || { tail -n 20 "$work/program.out"; fail "no window for $1"; }
  sleep 1 # painted
}
stop() {
  kill "$program" 2>/dev/null || true
  wineserver -w
}
# Places in the window's client area, which is 834x653 whatever the platform, under the
# menu bar, whose height the platform's font decides.
click() {
  local menu
  menu=$(( $(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: 834x//p') - 653 ))
  case $1 in
    once) xdotool mousemove --window "$window" 308 $((468 + menu)) click 1 ;;
    save) xdotool mousemove --window "$window" 766 $((43 + menu)) click 1 ;;
    value) xdotool mousemove --window "$window" 215 $((228 + menu)) click 1 ;;
    reply) xdotool mousemove --window "$window" 435 $((588 + menu)) click 1 ;;
  esac
}
# The text of a box as the window shows it, copied to the clipboard.
text_of() {
  printf 'nothing copied' | xclip -selection clipboard >/dev/null 2>&1
  click "$1"
  xdotool key ctrl+a key ctrl+c
  sleep 0.5
  timeout 5 xclip -o -selection clipboard
}
# A comm.set "4,19200" from long ago, so that a save shows in its time.
old_comm_set() {
  printf '4,19200\r\n' > "$1"
  touch -d 2000-01-01 "$1"
}
saved() { [ "$(stat -c %Y "$1" 2>/dev/null || echo 0)" -gt "$(date -d 2001-01-01 +%s)" ]; }
# Waits until comm.set FILE was saved.
wait_saved() {
  for _ in $(seq 50); do
    saved "$1" && return 0
    sleep 0.1
  done
  fail "no save of $1"
}
# Waits for the simulator to have logged COUNT replies.
replies() {
  for _ in $(seq 100); do
    [ "$(grep -c ' tx ' "$work/sim.log")" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "the simulator sent no reply $1 (requests: $(grep -c ' rx ' "$work/sim.log"))"
}

# 1. The zip, unpacked where a user would put it.
mkdir -p "$c_drive/unpacked"
(cd "$c_drive/unpacked" && cmake -E tar xf "$zip")
folder=$(basename "$zip" .zip)
beside=$c_drive/unpacked/$folder
for f in sensor-companion.exe README.txt LICENSE.txt LICENSES/LGPL-3.0-only.txt; do
  [ -f "$beside/$f" ] || fail "the zip has no $f"
done
old_comm_set "$beside/comm.set"
start "unpacked/$folder/sensor-companion.exe"
grep -q ' rx ' "$work/sim.log" && fail "the program sent at start-up"

click once
replies 1
sleep 1 # shown
import -window "$window" "$screenshot"
request=$(awk '$2 == "rx" { $1 = $2 = ""; print substr($0, 3); exit }' "$work/sim.log")
reply=$(awk '$2 == "tx" { $1 = $2 = ""; print substr($0, 3); exit }' "$work/sim.log")
[ "$request" = "01 03 00 00 00 02 C4 0B" ] || fail "the simulator got '$request'"
shown=$(text_of reply)
[ "$shown" = " $reply" ] || fail "the window shows '$shown' for the reply ' $reply'"
read -r _ _ _ hi lo _ <<< "$reply"
shown=$(text_of value)
[ "$shown" = "$((16#$hi$lo))" ] || fail "the window shows '$shown' for register 0 = $hi $lo"
echo "ok: zip: the request went out, the reply '$reply' and the reading $shown are shown"

# The trend window, drawn with the statically linked Qt Charts, opens on its shortcut.
xdotool key ctrl+t
trend=""
for _ in $(seq 100); do
  trend=$(xdotool search --onlyvisible --name '^趋势图$' 2>/dev/null | head -n 1 || true)
  [ -n "$trend" ] && break
  sleep 0.1
done
[ -n "$trend" ] || fail "Ctrl+T opened no trend window"
sleep 1 # painted
kill -0 "$program" 2>/dev/null || fail "the program ended with the trend window open"
# Esc closes it again; on this small screen it covers the window's buttons.
xdotool key Escape
for _ in $(seq 50); do
  xdotool search --onlyvisible --name '^趋势图$' >/dev/null 2>&1 || break
  sleep 0.1
done
xdotool search --onlyvisible --name '^趋势图$' >/dev/null 2>&1 && fail "Esc left the trend window open"
echo "ok: zip: the trend window opens and closes"

click save
wait_saved "$beside/comm.set"
[ "$(cat "$beside/comm.set")" = $'4,19200\r' ] || fail "the save wrote '$(cat "$beside/comm.set")'"
[ -e "$local_settings" ] && fail "run from a folder, the program wrote $local_settings"
stop
echo "ok: zip: settings stay beside the .exe"

# COM5 stands for the TCP address: the same request over the connection, the same reply.
printf '5,19200\r\n' > "$beside/comm.set"
printf '%s\n' "$tcp_address" > "$beside/COM5-tcp.txt"
start "unpacked/$folder/sensor-companion.exe"
for _ in $(seq 50); do grep -q ' connect' "$work/tcp.log" && break; sleep 0.1; done
grep -q ' connect' "$work/tcp.log" || fail "COM5 did not connect to $tcp_address"
click once
for _ in $(seq 100); do grep -q ' tx ' "$work/tcp.log" && break; sleep 0.1; done
reply=$(awk '$2 == "tx" { $1 = $2 = ""; print substr($0, 3); exit }' "$work/tcp.log")
[ -n "$reply" ] || fail "the simulator on TCP sent no reply"
sleep 1 # shown
shown=$(text_of reply)
[ "$shown" = " $reply" ] || fail "over TCP the window shows '$shown' for the reply ' $reply'"
stop
echo "ok: zip: COM5-tcp.txt connects to $tcp_address, the reply '$reply' is shown"

# 2. Installed.
wine "$setup" /S
wineserver -w
for f in sensor-companion.exe uninstall.exe README.txt LICENSE.txt LICENSES/LGPL-3.0-only.txt; do
  [ -f "$installed/$f" ] || fail "the installer put no $f into Program Files"
done
[ -f "$shortcut" ] || fail "no Start-menu entry"
mkdir -p "$admin_settings"
old_comm_set "$admin_settings/comm.set"
start "Program Files/sensor-companion/sensor-companion.exe"
click once
replies 2
click save
wait_saved "$local_settings/comm.set"
[ "$(cat "$local_settings/comm.set")" = $'4,19200\r' ] ||
  fail "installed, the save wrote '$(cat "$local_settings/comm.set")'"
saved "$admin_settings/comm.set" && fail "installed, the save wrote into ProgramData"
[ -e "$installed/comm.set" ] && fail "installed, the save wrote into Program Files"
stop
echo "ok: installed: the port opens from ProgramData's comm.set, the user's own is in LOCALAPPDATA"

wine "$installed/uninstall.exe" /S
wineserver -w # the uninstaller runs from a copy of itself
[ -e "$installed/sensor-companion.exe" ] && fail "the uninstaller left the program"
[ -e "$shortcut" ] && fail "the uninstaller left the Start-menu entry"
[ -f "$local_settings/comm.set" ] || fail "the uninstaller removed the user's settings"
echo "ok: uninstalled, the user's settings kept"

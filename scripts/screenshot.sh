#!/usr/bin/env bash
# Renders the window under Xvfb, talking to the simulator, into docs/window.png: the
# window polls once a second for a few seconds, so it shows a reading, the last request
# and reply, the lamp and both counters. Then docs/window-trend.png: the window polls every
# 50 ms with the trend window open beside it, and a coefficient of 1.0500 is written half
# way, so the chart shows the step and its marker. Then docs/bus-overview.png: a line of ten
# modules scanned, then watched in the overview beside the window, with one pulled off.
# Then docs/line-calibration.png: ten modules of their own gain errors calibrated at once and
# verified at two more levels. Last docs/certificate.png, the first page of a line module's
# certificate, as bench_linecalibration writes it.
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

# The simulator with OPTIONS as COM4 (its commands read from fd 4), an Xvfb of WIDTHxHEIGHT
# and the program on it, once its window is mapped and painted.
start() {
  local size=$1
  shift
  rm -f "$work/COM4" "$work/display" "$work/sim.log" "$work/sim.in"
  mkfifo "$work/sim.in"
  "$build/bin/sensor-sim" --link "$work/COM4" "$@" --stdin-commands < "$work/sim.in" \
    > "$work/sim.log" &
  pids+=($!)
  exec 4> "$work/sim.in"
  # Xvfb picks a free display itself and names it once it is ready.
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3> "$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/sim.log" ] && [ -s "$work/display" ] && break; sleep 0.1; done
  display=":$(cat "$work/display")"
  DISPLAY=$display "$work/sensor-companion" >/dev/null 2>&1 &
  pids+=($!)
  # The window is mapped and painted once a window of its size exists.
  for _ in $(seq 100); do
    DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -Eq ' 834x6[0-9]{2}[+ ]' && break
    sleep 0.1
  done
  sleep 0.5
}

start 1600x768
# The window's height: its client area of 653 pixels and the menu bar above it.
height=$(DISPLAY=$display xwininfo -root -tree | grep -Eo ' 834x6[0-9]{2}' | head -n 1 | cut -dx -f2)
menu=$((height - 653))
# "循环" (the cycle button) at its place in the window, which sits at 0,0.
DISPLAY=$display xdotool mousemove 452 $((468 + menu)) click 1
sleep 3.6
mkdir -p "$root/docs"
# Xvfb has no window manager, so the window sits at 0,0.
DISPLAY=$display import -window root -crop 834x${height}+0+0 +repage "$root/docs/window.png"
echo "wrote docs/window.png"

x() { DISPLAY=$display xdotool "$@"; }
x mousemove 596 $((468 + menu)) click 1                           # "停止"
x mousemove 168 $((468 + menu)) click 1 key ctrl+a type 50        # "定时时长(ms)"
x mousemove 452 $((468 + menu)) click 1                           # "循环"
x key ctrl+t                                          # the trend window, placed beside
sleep 20
x mousemove 572 $((155 + menu)) click 1 key ctrl+a type 1.0500    # "量程缩放系数"
x mousemove 749 $((155 + menu)) click 1                           # its "写入"
sleep 20
DISPLAY=$display import -window root -crop 1555x${height}+0+0 +repage "$root/docs/window-trend.png"
echo "wrote docs/window-trend.png"

# A line of ten modules, on a new simulator and a new program; replies paced as on a wire at
# 19200 baud, starting 4 ms after the request.
kill "${pids[@]}" 2>/dev/null || true
wait 2>/dev/null || true
pids=()
modules=(); for a in $(seq 1 10); do modules+=(--module "$a"); done
start 1760x760 --light 1000 --light-noise 3 "${modules[@]}" --wire-time --delay 4
x mousemove 168 $((468 + menu)) click 1 key ctrl+a type 0        # "定时时长(ms)": back to back
# Without a window manager a window closed leaves no focus: the window is clicked first.
x key ctrl+b                                                      # "扫描总线…"
sleep 0.5
x search --sync --name '^扫描总线$' windowfocus --sync key alt+s # "开始扫描"
sleep 3
x key Escape
x mousemove 400 $((550 + menu)) click 1 key ctrl+l                # "总线总览…", the modules found
sleep 0.5
x search --sync --name '^总线总览$' windowmove 840 0 windowfocus --sync key alt+s # "开始"
sleep 4
echo "pull 4" >&4
sleep 3
DISPLAY=$display import -window root -crop 1720x${height}+0+0 +repage "$root/docs/bus-overview.png"
echo "wrote docs/bus-overview.png"

# The line calibration on ten modules of their own gains, under one light that changes.
kill "${pids[@]}" 2>/dev/null || true
wait 2>/dev/null || true
pids=()
modules=()
a=1
for gain in 0.92 0.95 0.97 0.99 1.0 1.01 1.03 1.05 1.07 1.08; do
  modules+=(--module "$a:sensitivity=$gain,noise=2")
  a=$((a + 1))
done
mkdir -p "$work/home"
HOME=$work/home start 1760x900 --light 1000 "${modules[@]}" --wire-time --delay 4
x mousemove 400 $((550 + menu)) click 1 key ctrl+shift+k          # "整线校准…"
calibration=$(x search --sync --name '^整线校准$' | head -n 1)
x windowfocus --sync "$calibration"
# The fields in their tab order, from "地址" on.
for text in 1-10 1000 2 5 张工 "照度计 XL-1" GZ-2026-0417 2027-06-30 1.5 23.5 45; do
  x key ctrl+a type "$text"
  x key Tab
done
x key alt+s                                                       # "开始测量"
sleep 7
x key alt+w                                                       # "写入新系数"
sleep 7
for lux in 100 4000; do
  echo "light $lux" >&4
  x key alt+r ctrl+a type "$lux"                                  # "参考值"
  x key alt+l                                                     # "测量此点"
  sleep 7
done
DISPLAY=$display import -window "$calibration" "$root/docs/line-calibration.png"
echo "wrote docs/line-calibration.png"

# A certificate's first page, at a size a page of the README shows whole.
"$root/scripts/deps.sh" poppler-utils
QT_QPA_PLATFORM=offscreen "$build/bin/bench_linecalibration" certificates "$work/certificates" >/dev/null 2>&1
pdftoppm -r 80 -png -f 1 -l 1 -singlefile "$work/certificates/校准证书-LC-2026-0101.pdf" \
  "$root/docs/certificate"
echo "wrote docs/certificate.png"

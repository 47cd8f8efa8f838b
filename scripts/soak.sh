#!/usr/bin/env bash
# Soak: the window polls the simulator every 50 ms for a while with faults on the line
# (dropped requests, noise after replies, replies in pieces). Passes when nothing crashed,
# every reply the simulator sent was taken by the receiver, every request was answered or
# dropped as injected, and resident memory grew by less than 2 MiB after the warm-up. Then a
# minute of polling at 50 ms over a pseudo-terminal and over loopback TCP (bench_tcp): every
# request answered, every reply taken and counted by the window, the last value shown, no
# message. Last a minute of the bus overview polling ten modules back to back, one of them
# pulled off half way: each module's counts are the simulator's.
#   scripts/soak.sh [--minutes N]   (default 10)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
minutes=10
[ "${1:-}" = "--minutes" ] && minutes=$2
"$root/scripts/build.sh" >/dev/null

out=$(QT_QPA_PLATFORM=offscreen "$build/bin/bench_polling" 50 $((minutes * 60)) \
  --drop 7 --noise 5:3 --split 3 --gap 2)
echo "$out"
value() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }
requests=$(value requests) replies=$(value replies) events=$(value events) drops=$(value drops)
growth=$(awk -v a="$(value rss_warm_mib)" -v b="$(value rss_end_mib)" 'BEGIN { print b - a }')
echo "resident memory growth after warm-up: $growth MiB"
fail=0
# A port taken for lost stops the polling, with a message.
[ "$(value messages)" -eq 0 ] || { echo "FAIL: a message box came up"; fail=1; }
[ "$requests" -ge $((minutes * 60 * 20 * 99 / 100)) ] || { echo "FAIL: polling stopped early"; fail=1; }
[ "$events" -eq "$replies" ] || { echo "FAIL: $replies replies but $events receive events"; fail=1; }
[ $((replies + drops)) -eq "$requests" ] || { echo "FAIL: requests not answered or dropped"; fail=1; }
awk -v g="$growth" 'BEGIN { exit !(g < 2) }' || { echo "FAIL: memory grew by $growth MiB"; fail=1; }

tcp=$(QT_QPA_PLATFORM=offscreen "$build/bin/bench_tcp" 100 60)
echo "$tcp"
for way in pty tcp; do
  got() { echo "$tcp" | awk -v k="${way}_$1" '$1 == k { print $2 }'; }
  polls=$(got poll50_requests)
  [ "${polls:-0}" -ge $((60 * 20 * 99 / 100)) ] || { echo "FAIL: $way: polling stopped early"; fail=1; }
  [ "$(got poll50_replies)" = "$polls" ] || { echo "FAIL: $way: requests not answered"; fail=1; }
  [ "$(got poll50_taken)" = "$polls" ] || { echo "FAIL: $way: replies not taken"; fail=1; }
  [ "$(got poll50_counter)" = "$polls" ] || { echo "FAIL: $way: the counter is off"; fail=1; }
  [ "$(got poll50_last_value_shown)" = 1 ] || { echo "FAIL: $way: the last value is not shown"; fail=1; }
  [ "$(got messages)" = 0 ] || { echo "FAIL: $way: a message box came up"; fail=1; }
done

bus=$(QT_QPA_PLATFORM=offscreen "$build/bin/bench_bus" counts 60)
echo "$bus"
[ "$(echo "$bus" | awk '$1 == "bus_mismatches" { print $2 }')" = 0 ] ||
  { echo "FAIL: bus: a module's counts are not the simulator's"; fail=1; }
[ "$(echo "$bus" | awk '$1 == "bus_readings" { print $2 }')" -ge $((60 * 50)) ] ||
  { echo "FAIL: bus: polling stopped early"; fail=1; }
[ "$fail" -eq 0 ] && echo "soak passed: $minutes min, $requests requests, $drops dropped"
exit "$fail"

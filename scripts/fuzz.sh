#!/usr/bin/env bash
# Builds the libFuzzer targets in the checked tree, build-asan/ (or $ASAN_BUILD_DIR, see
# scripts/checked-build.sh; after scripts/sanitize.sh there is nothing left to build), runs
# every saved regression input once, then fuzzes each target for SECONDS seconds (default
# 60) from a copy of its seed corpus, two targets at a time (or $FUZZ_JOBS). Exits non-zero
# when anything fails; crash inputs are kept under the build directory's fuzz-artifacts/
# and their paths are printed.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$root/build-asan}
seconds=${1:-60}
targets=(fuzz_commset fuzz_numbers fuzz_receive fuzz_handlers)
jobs=${FUZZ_JOBS:-2}

"$root/scripts/checked-build.sh" "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()

# A comm.set longer than what the reader reads needs more than libFuzzer's default length.
max_len() {
  case $1 in
    fuzz_commset) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

for t in "${targets[@]}"; do
  inputs=()
  for f in "$root/tests/fuzz/regressions/$t"/*; do
    [ -f "$f" ] && [ "$(basename "$f")" != README ] && inputs+=("$f")
  done
  [ ${#inputs[@]} -eq 0 ] && continue
  echo "== $t: ${#inputs[@]} regression input(s)"
  if ! "$build/bin/$t" -timeout=5 -rss_limit_mb=2048 "${inputs[@]}" >"$work/$t.regressions.log" 2>&1; then
    tail -n 40 "$work/$t.regressions.log"
    failed+=("$t: a regression input fails again")
  fi
done

# One target fuzzes on each core, so the budget per target holds at half the wall time.
fuzz() {
  local t=$1 corpus=$work/$1 artifacts=$build/fuzz-artifacts/$1
  mkdir -p "$corpus" "$artifacts"
  cp "$root/tests/fuzz/corpus/$t"/* "$corpus/"
  (cd "$work" && "$build/bin/$t" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -max_len="$(max_len "$t")" -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" >"$work/$t.log" 2>&1)
}
echo "== fuzzing ${targets[*]} for ${seconds} s each, $jobs at a time"
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  (if fuzz "$t"; then echo ok; else echo failed; fi >"$work/$t.status") &
done
wait
for t in "${targets[@]}"; do
  echo "== $t"
  if [ "$(cat "$work/$t.status")" = ok ]; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$work/$t.log" | tail -n 1 || true
    grep -E 'stat::(number_of_executed_units|average_exec_per_sec)' "$work/$t.log" || true
  else
    tail -n 60 "$work/$t.log"
    crash=$(grep -o "Test unit written to .*" "$work/$t.log" | sed 's/Test unit written to //' || true)
    failed+=("$t: ${crash:-see the log above}")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED:"
  printf '  %s\n' "${failed[@]}"
  exit 1
fi
echo "All fuzz targets ran clean."

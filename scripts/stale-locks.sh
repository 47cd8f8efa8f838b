#!/usr/bin/env bash
# Serial-port lock files in /run/lock that name a process which has ended. Such a lock
# blocks its device for every user but its owner and root, until the next reboot.
#   stale-locks.sh after CMD...  runs CMD, then fails, naming them, when it left any
#   stale-locks.sh remove        removes them all and names each (run as root)
#   stale-locks.sh               lists them
set -euo pipefail
dir=${LOCK_DIR:-/run/lock}

# The lock files whose first line, the process id, names no running process.
stale() {
  local lock pid
  for lock in "$dir"/LCK..*; do
    [ -f "$lock" ] || continue
    pid=$(head -n 1 "$lock" 2>/dev/null | tr -dc 0-9)
    [ -n "$pid" ] && [ -d "/proc/$pid" ] && continue
    echo "$lock"
  done
}

describe() {
  echo "$1 (process $(head -n 1 "$1" | tr -dc 0-9) of $(stat -c %U "$1"), ended)"
}

case ${1:-list} in
  after)
    shift
    since=$(mktemp)
    trap 'rm -f "$since"' EXIT
    status=0
    "$@" || status=$?
    left=()
    while IFS= read -r lock; do
      [ "$lock" -nt "$since" ] && left+=("$lock")
    done < <(stale)
    [ ${#left[@]} -eq 0 ] && { echo "ok: no lock file left behind in $dir"; exit "$status"; }
    echo "FAIL: the run left lock files of ended processes in $dir:"
    for lock in "${left[@]}"; do echo "  $(describe "$lock")"; done
    exit 1
    ;;
  remove)
    while IFS= read -r lock; do
      echo "removed a stale lock: $(describe "$lock")"
      rm -f "$lock"
    done < <(stale)
    ;;
  list)
    while IFS= read -r lock; do describe "$lock"; done < <(stale)
    ;;
  *)
    echo "usage: stale-locks.sh [after COMMAND... | remove | list]" >&2
    exit 2
    ;;
esac

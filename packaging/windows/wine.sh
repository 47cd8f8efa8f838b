#!/usr/bin/env bash
# Runs a Windows program under wine in a prefix of its own, made on first use: the cross
# build's emulator, which runs the icon renderer and the unit tests.
#   wine.sh PREFIX PROGRAM [ARGUMENT...]
set -euo pipefail
export WINEPREFIX=$(realpath -m "$1")
shift
export WINEDEBUG=-all
# No Mono or Gecko: their install dialogs would wait for a click that never comes. No menu
# entries or file types in the Linux desktop for what is installed into the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Qt Test writes its results to the debugger unless it is told to use the console. wine
# passes no QT_ variable to Windows programs, only WINEQT_ ones, without the prefix.
export WINEQT_FORCE_STDERR_LOGGING=1
# Debian's wine64 package keeps its programs out of PATH.
PATH=$PATH:/usr/lib/wine

if [ ! -f "$WINEPREFIX/.made" ]; then
  mkdir -p "$WINEPREFIX"
  # Tests started side by side must not both make the prefix.
  exec 9>"$WINEPREFIX/.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.made" ]; then
    wine64 wineboot --init >/dev/null 2>&1 || true
    wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine.sh: no prefix made in $WINEPREFIX" >&2
      exit 1
    fi
    touch "$WINEPREFIX/.made"
  fi
  exec 9>&-
fi
exec wine64 "$@"

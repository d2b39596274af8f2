#!/usr/bin/env bash
# Runs one Windows program under wine64. The test command makes a fresh prefix per run and passes it in
# WINEPREFIX; by hand, a prefix kept beside the build is used (made once, under a lock, so tests started
# in parallel do not race to create it). The build's bin folder goes on WINEPATH so test programs in
# <build>/tests find the project's own DLLs (W64N55.dll, dravik.dll) as installed programs would.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    fi
  ) 9>"$WINEPREFIX.lock"
fi
if [ $# -gt 0 ] && [ -d "$(dirname "$1")/../bin" ]; then
  bin=$(cd "$(dirname "$1")/../bin" && pwd)
  export WINEPATH="Z:${bin//\//\\}${WINEPATH:+;$WINEPATH}"
fi
exec /usr/lib/wine/wine64 "$@"

#!/usr/bin/env bash
# Runs one Windows program under wine64. The test command makes a fresh prefix per run and passes it in
# WINEPREFIX; by hand, a prefix kept beside the build is used.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
fi
exec /usr/lib/wine/wine64 "$@"

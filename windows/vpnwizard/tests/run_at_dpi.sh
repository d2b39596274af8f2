#!/usr/bin/env bash
# Runs a Windows program in a wine prefix of its own whose screen reports the given dots per inch.
#   run_at_dpi.sh <dots per inch> <wine runner> <program> [args...]
# Wine reads the resolution when its session starts, so the fresh prefix is booted, given the setting,
# and its session ended before the program starts a new one. The program finds the resolution it was
# meant to see in TUNMIRA_TEST_DPI.
set -euo pipefail
dpi=$1
runner=$2
shift 2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/rt-wine-dpi.XXXXXX")
export WINEPREFIX=$prefix
cleanup() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix" "$prefix.lock" "$prefix.display"
}
trap cleanup EXIT
"$runner" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
# Waits for the session to end: the server writes the registry out as it goes.
/usr/lib/wine/wineserver -w
TUNMIRA_TEST_DPI=$dpi "$runner" "$@"

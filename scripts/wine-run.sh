#!/usr/bin/env bash
# Runs one Windows program under wine64. The test command makes a fresh prefix per run and passes it in
# WINEPREFIX; by hand, a prefix kept beside the build is used.
#
# Before the program runs, the prefix's wine session (wineserver, services, device drivers, desktop) is
# made and started detached from this program's streams, once, under a lock so tests started in
# parallel do not race. Were the session started by the program itself, those long-lived processes
# would inherit its output pipe and the test runner would wait for them long after the program ended.
#
# The build's bin folder goes on WINEPATH so test programs in <build>/tests find the project's own DLLs
# (W64N55.dll, dravik.dll) as installed programs would.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=/usr/lib/wine/wine64

# True when a wineserver serves this prefix: it works in a folder named after the prefix folder's
# device and inode (under a per-boot random folder on Debian, so the name's tail is what is compared).
session_running() {
  local id pid
  id="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
  for pid in $(pgrep -x wineserver64 || true); do
    [[ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" == */"$id" ]] && return 0
  done
  return 1
}

# Without a display (ctest run by hand rather than by the test command), windows go to a virtual one
# shared by the programs of this prefix; it ends by itself when its last client (wine's desktop) has gone.
display_file=$WINEPREFIX.display
shared_display() {
  local display pid
  if [ -f "$display_file" ]; then
    read -r display pid <"$display_file" || true
    if [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null; then
      echo "$display"
      return
    fi
  fi
  local fifo
  fifo=$(mktemp -u "$WINEPREFIX.displayfd.XXXXXX")
  mkfifo "$fifo"
  setsid Xvfb -displayfd 3 -terminate -nolisten tcp -screen 0 1280x1024x24 3>"$fifo" </dev/null \
    >/dev/null 2>&1 9>&- &
  pid=$!
  read -r -t 10 display <"$fifo" || true
  rm -f "$fifo"
  echo ":$display $pid" >"$display_file"
  echo ":$display"
}

# The programs' dialogs and skin name Arial and Tahoma, which a prefix lacks: without a face of the same
# widths wine falls back to one whose text overflows the controls. Liberation Sans keeps Arial's metrics.
fonts_marker=$WINEPREFIX/rt-fonts-mapped
map_fonts() {
  [ -f "$fonts_marker" ] && return
  # A failed import is tried again by the next program rather than stopping this one.
  if "$wine" regedit /S "Z:$here/wine-fonts.reg" </dev/null >/dev/null 2>&1 9>&-; then
    touch "$fonts_marker"
  fi
}

mkdir -p "$WINEPREFIX"
if [ -z "${DISPLAY:-}" ]; then
  DISPLAY=$( (flock 9; shared_display) 9>"$WINEPREFIX.lock")
  export DISPLAY
fi
if [ ! -f "$WINEPREFIX/system.reg" ] || ! session_running; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    elif ! session_running; then
      "$wine" wineboot </dev/null >/dev/null 2>&1 9>&-
    fi
  ) 9>"$WINEPREFIX.lock"
fi
if [ ! -f "$fonts_marker" ]; then
  (
    flock 9
    map_fonts
  ) 9>"$WINEPREFIX.lock"
fi

if [ $# -gt 0 ] && [ -d "$(dirname "$1")/../bin" ]; then
  bin=$(cd "$(dirname "$1")/../bin" && pwd)
  export WINEPATH="Z:${bin//\//\\}${WINEPATH:+;$WINEPATH}"
fi
exec "$wine" "$@"

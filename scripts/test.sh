#!/usr/bin/env bash
# The test command: installs what is missing, builds every preset and runs every test label
# (unit, process, interop, wine, fuzz; unit and process again on 32-bit ARM), after checking the tree's formatting and naming. Ends with one line "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh || { echo "dependency install failed"; echo "0 passed, 1 failed"; exit 1; }

jobs=$(nproc)
passed=0
failed=0
skipped=0

# Adds one ctest run's counts to the totals, read from its summary line.
count_results() {
  local log=$1 line total fail notrun
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    grep -q 'No tests were found' "$log" && return 0
    failed=$((failed + 1))
    return 0
  fi
  fail=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  notrun=$(grep -cE '^\s+[0-9]+ - .*\(Skipped\)' "$log" || true)
  passed=$((passed + total - fail - notrun))
  failed=$((failed + fail))
  skipped=$((skipped + notrun))
}

run_preset() {
  local preset=$1
  echo "=== preset $preset: configure and build"
  if ! cmake --preset "$preset" >"build/$preset.log" 2>&1 ||
     ! cmake --build --preset "$preset" -j "$jobs" >>"build/$preset.log" 2>&1; then
    tail -n 60 "build/$preset.log"
    echo "=== preset $preset: build FAILED"
    failed=$((failed + 1))
    return
  fi
  echo "=== preset $preset: tests"
  local log="build/$preset/ctest.log"
  ctest --preset "$preset" -j "$jobs" --timeout 900 2>&1 | tee "$log"
  count_results "$log"
}

mkdir -p build
echo "=== format"
if bash scripts/check-format.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
echo "=== naming"
if bash scripts/check-naming.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
run_preset host
run_preset asan
run_preset fuzz
# The router side cross-built for its 32-bit ARM processor, its tests run under qemu-user.
run_preset arm

# Windows programs run under wine in a fresh prefix, with a virtual display for their windows.
WINEPREFIX=$(mktemp -d /tmp/rt-wine.XXXXXX)
export WINEPREFIX
display_lock=$(mktemp -u /tmp/rt-xvfb.XXXXXX)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_lock" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$display_lock" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$display_lock")"
WINEDEBUG=-all /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
run_preset win
WINEDEBUG=-all /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
kill "$xvfb_pid" 2>/dev/null || true
rm -rf "$WINEPREFIX" "$display_lock"

summary="$passed passed, $failed failed"
[ "$skipped" -gt 0 ] && summary="$summary, $skipped skipped"
echo "$summary"
[ "$failed" -eq 0 ]

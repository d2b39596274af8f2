#!/usr/bin/env bash
# Measures a 4 MiB upgrade end to end under wine: engine, adapter layer, stand-in W64N55.dll, UDP on
# loopback, native router peer, image compared byte for byte. Needs the host and win presets built.
# Prints the time and the frames per second (requests and replies) of the transfer itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export RT_HOST_BIN_DIR=$root/build/host/bin
runs=${1:-3}
for _ in $(seq "$runs"); do
  "$root/scripts/wine-run.sh" "$root/build/win/tests/upgrade_wine_test.exe" \
    --gtest_filter='*FourMebibyte*' | grep '4 MiB upgrade under wine'
done

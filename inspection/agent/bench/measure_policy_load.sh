#!/usr/bin/env bash
# Measures how long installing an 800 KB policy takes through vornkd and the module (decrypt, check,
# unpack the name tables, download and unpack the rule tables in the module).
# Usage: bash inspection/agent/bench/measure_policy_load.sh [build folder, default build/host]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/host}
work=$(mktemp -d /tmp/vornagent-measure.XXXXXX)
export VORN_DEVICE=$work/vorn
"$build/bin/vornkd" 2>"$work/vornkd.log" &
kernel=$!
trap 'kill $kernel 2>/dev/null; wait $kernel 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -S "$VORN_DEVICE" ] && break; sleep 0.05; done
"$build/bin/vornagent_policy_bench" --benchmark_filter=BM_ --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -v "^vorn daemon"

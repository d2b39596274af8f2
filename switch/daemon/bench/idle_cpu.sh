#!/usr/bin/env bash
# Idle cost of the running portvisor loop: CPU seconds a foreground portvisor with no traffic uses per
# minute of wall time. Usage: idle_cpu.sh [path/to/portvisor] [seconds, default 60]
# Extra arguments for portvisor can be given in PORTVISOR_ARGS; the environment (PORTVISOR_SWITCH_DEVICE
# and the like) is passed through.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
bin=${1:-$root/build/host/bin/portvisor}
seconds=${2:-60}
work=$(mktemp -d /tmp/pv_idle.XXXXXX)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT

PORTVISOR_WORKDIR=$work/work PORTVISOR_PIDFILE=$work/pid PORTVISOR_MGMT_PORT=${PORTVISOR_MGMT_PORT:-0} \
    "$bin" ${PORTVISOR_ARGS:-} >"$work/out" 2>&1 &
pid=$!
sleep 2   # let start-up finish before measuring
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks); s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks); s1=$(date +%s.%N)
awk -v t="$((t1 - t0))" -v hz="$hz" -v s0="$s0" -v s1="$s1" 'BEGIN {
    cpu = t / hz; wall = s1 - s0;
    printf "idle portvisor: %.3f CPU s over %.1f s wall = %.3f CPU s per minute = %.2f%% of one core\n",
           cpu, wall, cpu * 60 / wall, 100 * cpu / wall }'

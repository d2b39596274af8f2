#!/usr/bin/env bash
# CableScan through the daemon: how long object 3018 holds portvisor's main loop for one port and for
# all six, on the chip simulator, each port's PHY given a described cable. Root (a network namespace of
# its own for port 28 and eth0). Usage: cablescan_loop.sh [build dir, default build/host]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
bin=${1:-$root/build/host}/bin
if [ "${CABLESCAN_IN_NETNS:-}" != 1 ]; then
    exec unshare -n env CABLESCAN_IN_NETNS=1 "$0" "$@"
fi
work=$(mktemp -d /tmp/pv_cablescan.XXXXXX)
trap 'kill $pv $sim 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
ip link set lo up
ip tuntap add eth0 mode tap && ip link set eth0 up
"$bin/swchipd" --device "$work/dev" --control "$work/ctl" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -S "$work/ctl" ] && break; sleep 0.05; done
PORTVISOR_WORKDIR=$work/work PORTVISOR_PIDFILE=$work/pid PORTVISOR_SWITCH_DEVICE=$work/dev \
    PORTVISOR_ARBITER_POLLS=1000 "$bin/portvisor" >"$work/pv.out" 2>&1 &
pv=$!
for _ in $(seq 200); do "$bin/pvmgmt" 8 get +8 >/dev/null 2>&1 && break; sleep 0.1; done
for phy in "0 0" "0 1" "0 2" "0 3" "0 4" "1 3"; do
    "$bin/swchipctl" --control "$work/ctl" cable $phy describe 40 B=open@12 C=short@25 >/dev/null
done
entries() { # the 3018 table: count, entry size 28, one entry per port
    printf '%02x001c00' "$#"
    for p in "$@"; do printf '%02x%054d' "$p" 0; done
}
measure() {
    local t0 t1
    t0=$(date +%s%N)
    "$bin/pvmgmt" --wait 300 3018 get "$(entries "$@")" >"$work/answer"
    t1=$(date +%s%N)
    # valid flag of each entry: u32 at entry offset 4, entries after the 4-byte table head
    local data valid=""
    data=$(sed 's/.*data=//' "$work/answer")
    for i in $(seq 0 $(($# - 1))); do valid+=" ${data:$((8 + i * 56 + 8)):2}"; done
    echo "object 3018 for port(s) $*: $(( (t1 - t0) / 1000000 )) ms, $(cut -d' ' -f1 "$work/answer"), valid:$valid"
}
measure 1
measure 6
measure 1 2 3 4 5 6

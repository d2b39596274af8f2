#!/usr/bin/env bash
# Forwarding between two hosts, through the simulated switch and through a Linux bridge, in one run:
# ping round trip (min/avg/max/mdev) and a bounded iperf3 TCP run for each. The switch: swchipd with its
# front ports swp2 and swp3 in two host namespaces (both in VLAN 2 of the default configuration) and
# portvisor driving the chip. The bridge: a Linux bridge in a namespace of its own joining two veth
# pairs whose other ends sit in two host namespaces. Needs root and iperf3.
# Usage: forwarding_bench.sh [build dir, default build/host] [iperf3 seconds, default 5] [pings, default 50]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/host}
seconds=${2:-5}
pings=${3:-50}
bin=$build/bin
for tool in "$bin/portvisor" "$bin/swchipd" "$bin/pvmgmt"; do
    [ -x "$tool" ] || { echo "missing $tool: build portvisor, swchipd and pvmgmt first" >&2; exit 1; }
done
command -v iperf3 >/dev/null || { echo "iperf3 is needed" >&2; exit 1; }

tag=pvbench-$$
board=$tag-board bridge=$tag-bridge
a=$tag-a b=$tag-b c=$tag-c d=$tag-d
work=$(mktemp -d /tmp/pv_forwarding.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    for ns in $board $bridge $a $b $c $d; do ip netns del "$ns" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
for ns in $board $bridge $a $b $c $d; do
    ip netns add "$ns"
    ip netns exec "$ns" ip link set lo up
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
done

# Through the simulated switch: hosts a (port 2) and b (port 3).
ip netns exec $board ip tuntap add eth0 mode tap
ip netns exec $board ip link set eth0 address 00:11:22:33:44:55 up
ip netns exec $board "$bin/swchipd" --device "$work/swgenio" --control "$work/ctl" --front-ports swp &
pids+=($!)
for _ in $(seq 200); do [ -S "$work/swgenio" ] && break; sleep 0.05; done
ip netns exec $board ip link set swp2 netns $a
ip netns exec $board ip link set swp3 netns $b
ip netns exec $a ip addr add 10.88.0.2/24 dev swp2
ip netns exec $a ip link set swp2 up
ip netns exec $b ip addr add 10.88.0.3/24 dev swp3
ip netns exec $b ip link set swp3 up
mkdir "$work/work"
PORTVISOR_WORKDIR=$work/work PORTVISOR_PIDFILE=$work/pid PORTVISOR_SWITCH_DEVICE=$work/swgenio \
    ip netns exec $board "$bin/portvisor" >"$work/portvisor.out" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
    ip netns exec $board "$bin/pvmgmt" 8 get +8 2>/dev/null | grep -q res=0 && break
    sleep 0.1
done

# Through a Linux bridge: hosts c and d.
ip netns exec $bridge ip link add br0 type bridge
ip netns exec $bridge ip link set br0 up
for host in $c $d; do
    end=${host##*-}
    ip netns exec $bridge ip link add "v$end" type veth peer name eth0 netns "$host"
    ip netns exec $bridge ip link set "v$end" master br0 up
done
ip netns exec $c ip addr add 10.89.0.2/24 dev eth0
ip netns exec $c ip link set eth0 up
ip netns exec $d ip addr add 10.89.0.3/24 dev eth0
ip netns exec $d ip link set eth0 up

# Both paths answer before anything is measured (ports come up through portvisor's status poll, the
# bridge's ports through its forwarding delay).
wait_path() {
    for _ in $(seq 100); do ip netns exec "$1" ping -q -c 1 -W 1 "$2" >/dev/null 2>&1 && return 0; done
    echo "no path from $1 to $2" >&2
    exit 1
}
wait_path $a 10.88.0.3
wait_path $c 10.89.0.3

measure() { # name client-ns server-ns server-address
    local rtt rate
    rtt=$(ip netns exec "$2" ping -q -c "$pings" -i 0.02 "$4" | awk -F' = ' '/^rtt/ {print $2}')
    ip netns exec "$3" iperf3 -s -1 >/dev/null 2>&1 &
    local server=$!
    sleep 0.5
    rate=$(ip netns exec "$2" iperf3 -c "$4" -t "$seconds" -J |
        python3 -c 'import json,sys; e=json.load(sys.stdin)["end"]; print("%.0f Mbit/s (%d retransmits)" % (e["sum_received"]["bits_per_second"]/1e6, e["sum_sent"].get("retransmits", 0)))')
    wait "$server" 2>/dev/null || true
    printf '%-24s ping rtt min/avg/max/mdev %-32s iperf3 %ss: %s\n' "$1" "$rtt" "$seconds" "$rate"
}
measure "simulated switch" $a $b 10.88.0.3
measure "Linux bridge" $c $d 10.89.0.3

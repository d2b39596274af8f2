#!/usr/bin/env bash
# Ping through a router leg, with a plain veth pair as the reference, in one run: round trip
# (min/avg/max/mdev) of paced pings and the echo rate of a flood ping bounded to a few seconds. The leg:
# swchipd with its front port swp1 in a host namespace (VLAN 1 of the default configuration) and
# portvisor's leg 1 (tap1, set through object 5003) in the board's namespace, so every echo crosses the
# chip, the CPU port, the TAP device and the board's IP stack both ways. The reference: two namespaces
# joined by a veth pair. Needs root.
# The flood keeps `preload` echoes in flight, so it measures what the path carries rather than ping's own
# pace (a plain flood sends only as fast as answers come back, or 100 a second).
# Usage: leg_ping.sh [build dir, default build/host] [flood seconds, default 3] [pings, default 50]
#                    [preload, default 16]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/host}
seconds=${2:-3}
pings=${3:-50}
preload=${4:-16}
bin=$build/bin
for tool in "$bin/portvisor" "$bin/swchipd" "$bin/pvmgmt"; do
    [ -x "$tool" ] || { echo "missing $tool: build portvisor, swchipd and pvmgmt first" >&2; exit 1; }
done

tag=pvleg-$$
board=$tag-board host=$tag-host ra=$tag-ra rb=$tag-rb
work=$(mktemp -d /tmp/pv_leg.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    for ns in $board $host $ra $rb; do ip netns del "$ns" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
for ns in $board $host $ra $rb; do
    ip netns add "$ns"
    ip netns exec "$ns" ip link set lo up
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
done

# Through the leg: the host on port 1 pings the board's leg 1.
ip netns exec $board ip tuntap add eth0 mode tap
ip netns exec $board ip link set eth0 address 00:11:22:33:44:55 up
ip netns exec $board "$bin/swchipd" --device "$work/swgenio" --control "$work/ctl" --front-ports swp &
pids+=($!)
for _ in $(seq 200); do [ -S "$work/swgenio" ] && break; sleep 0.05; done
ip netns exec $board ip link set swp1 netns $host
ip netns exec $host ip addr add 10.87.0.2/24 dev swp1
ip netns exec $host ip link set swp1 up
mkdir "$work/work"
PORTVISOR_WORKDIR=$work/work PORTVISOR_PIDFILE=$work/pid PORTVISOR_SWITCH_DEVICE=$work/swgenio \
    ip netns exec $board "$bin/portvisor" >"$work/portvisor.out" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
    ip netns exec $board "$bin/pvmgmt" 8 get +8 2>/dev/null | grep -q res=0 && break
    sleep 0.1
done
# 5003: VID 1, 10.87.0.1, 255.255.255.0, no gateway, no DHCP, IP enabled (little-endian words).
le32() { printf '%08x' "$1" | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/'; }
ip netns exec $board "$bin/pvmgmt" 5003 set "$(le32 1)$(le32 0x0A570001)$(le32 0xFFFFFF00)$(le32 0)$(le32 0)$(le32 1)" |
    grep -q res=0 || { echo "object 5003 refused" >&2; exit 1; }

# The reference: a veth pair between two namespaces.
ip netns exec $ra ip link add eth0 type veth peer name eth0 netns $rb
ip netns exec $ra ip addr add 10.86.0.2/24 dev eth0
ip netns exec $ra ip link set eth0 up
ip netns exec $rb ip addr add 10.86.0.1/24 dev eth0
ip netns exec $rb ip link set eth0 up

wait_path() {
    for _ in $(seq 100); do ip netns exec "$1" ping -q -c 1 -W 1 "$2" >/dev/null 2>&1 && return 0; done
    echo "no path from $1 to $2" >&2
    exit 1
}
wait_path $host 10.87.0.1
wait_path $ra 10.86.0.1

measure() { # name client-ns address
    local rtt flood sent received
    rtt=$(ip netns exec "$2" ping -q -c "$pings" -i 0.02 "$3" | awk -F' = ' '/^rtt/ {split($2, v, ","); print v[1]}')
    flood=$(ip netns exec "$2" ping -q -f -l "$preload" -w "$seconds" "$3" || true)
    sent=$(echo "$flood" | awk '/packets transmitted/ {print $1}')
    received=$(echo "$flood" | awk '/packets transmitted/ {print $4}')
    printf '%-12s ping rtt min/avg/max/mdev %-32s flood %ss (%s in flight): %s sent, %s answered, %s echoes/s\n' "$1" "$rtt" \
        "$seconds" "$preload" "$sent" "$received" "$((received / seconds))"
}
measure "router leg" $host 10.87.0.1
measure "veth pair" $ra 10.86.0.1

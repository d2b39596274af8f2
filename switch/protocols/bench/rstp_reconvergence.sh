#!/usr/bin/env bash
# RSTP reconvergence: a bridge with two links to a root bridge (a loop: one root port, one alternate
# port); the root port's cable is pulled while a host behind the bridge pings a host on the root bridge
# every 2 ms; the outage is the longest gap between two replies from the pull on. Measured for Open
# vSwitch against Open vSwitch, then for portvisor on the simulated board against the same Open vSwitch
# root, in the same run. Both sides use forward delay 4 s, max age 6 s, hello time 2 s.
#
# A pulled cable: between the two Open vSwitch bridges the bridge's end of the veth is set down (it sees
# its port go down, the root bridge sees carrier lost and frames stop both ways); on the simulated board
# the simulator's cable is unplugged (the port's PHY link goes down, the TAP loses its carrier).
#
# Usage (root): rstp_reconvergence.sh [runs, default 5]. Bounded: every wait gives up after seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
bin=${BIN:-$root/build/host/bin}
runs=${1:-5}
source "$root/switch/protocols/bench/peers_lib.sh"

# After the roles settle, the topology change of the last re-plug runs out (tcWhile: two hello times)
# before the next pull, so one run's flush does not land in the next run's figure.
settle=5
ovs_timers="other_config:rstp-forward-delay=4 other_config:rstp-max-age=6 other_config:rstp-hello-time=2"

# Pings $2 from namespace $1 for $3 seconds, running "$4..." one second in; prints the outage in ms.
outage_ms() {
  local ns=$1 dest=$2 seconds=$3; shift 3
  ip netns exec "$ns" ping -D -n -i 0.002 -w "$seconds" "$dest" >"$work/ping.txt" 2>&1 &
  local ping_pid=$!
  sleep 1
  local pulled
  pulled=$(date +%s.%N)
  "$@" >/dev/null
  wait "$ping_pid" || true
  awk -v t="$pulled" '/bytes from/ {
      ts = substr($1, 2, length($1) - 2) + 0
      if (have && ts > t && ts - last > gap) gap = ts - last
      last = ts; have = 1 }
    END { if (!have) print "none"; else printf "%.1f\n", gap * 1000 }' "$work/ping.txt"
}

rstp_role() { # OVS NAME BRIDGE IFACE -> "Role State"
  ovs_appctl "$1" rstp/show "$2" | awk -v i="$3" '$1 == i { print $2, $3 }'
}

echo "== Open vSwitch against Open vSwitch"
netns_add "pvb-a-$tag"; netns_add "pvb-b-$tag"
a=pvb-a-$tag b=pvb-b-$tag
for l in l1 l2; do
  ip link add "${l}a" netns "$a" type veth peer name "${l}b" netns "$b"
  ip netns exec "$a" ip link set "${l}a" arp off up; ip netns exec "$b" ip link set "${l}b" arp off up
done
ovs_start A "$a"; ovs_start B "$b"
ovs_vsctl A add-br br0 -- set bridge br0 datapath_type=netdev rstp_enable=true $ovs_timers -- add-port br0 l1a -- add-port br0 l2a
ovs_vsctl B add-br br0 -- set bridge br0 datapath_type=netdev rstp_enable=true $ovs_timers other_config:rstp-priority=4096 \
    -- add-port br0 l1b -- add-port br0 l2b
ip netns exec "$a" ip addr add 10.77.0.1/24 dev br0; ip netns exec "$a" ip link set br0 up
ip netns exec "$b" ip addr add 10.77.0.2/24 dev br0; ip netns exec "$b" ip link set br0 up

# Which of the two links is the root port's depends on the port numbers Open vSwitch gave on the root.
ovs_converged() {
  local r1 r2
  r1=$(rstp_role A br0 l1a); r2=$(rstp_role A br0 l2a)
  { [ "$r1|$r2" = "Root Forwarding|Alternate Discarding" ] || [ "$r1|$r2" = "Alternate Discarding|Root Forwarding" ]; } &&
  [ "$(rstp_role B br0 l1b)" = "Designated Forwarding" ] && [ "$(rstp_role B br0 l2b)" = "Designated Forwarding" ]
}
ovs_root_link() { [ "$(rstp_role A br0 l1a)" = "Root Forwarding" ] && echo l1a || echo l2a; }
: >"$work/ovs.samples"
for run in $(seq "$runs"); do
  wait_until 40 ovs_converged || { echo "Open vSwitch pair did not converge"; ovs_appctl A rstp/show; exit 1; }
  sleep "$settle"
  rl=$(ovs_root_link)
  ms=$(outage_ms "$a" 10.77.0.2 3 ip netns exec "$a" ip link set "$rl" down)
  echo "run $run: root port $rl, outage $ms ms"
  [ "$ms" != none ] && echo "$ms" >>"$work/ovs.samples"
  ip netns exec "$a" ip link set "$rl" up
done
echo "Open vSwitch pair, outage ms: $(stats <"$work/ovs.samples")"
ovs_vsctl A del-br br0

echo "== portvisor on the simulated board against Open vSwitch"
s=pvb-s-$tag h=pvb-h-$tag
netns_add "$s"; netns_add "$h"
board_start "$s"
if ! pv 4020 get +992 >/dev/null; then
  echo "portvisor does not serve the RSTP status (object 4020): not measured"
  exit 0
fi
ovs_vsctl B del-port br0 l1b -- del-port br0 l2b
# Front ports 2 and 3 (VLAN 2 of the default configuration) loop onto the root; the host is on port 4.
for p in swp2 swp3; do
  ip netns exec "$s" ip link set "$p" netns "$b"
  # A bridge port: the namespace's own stack never answers ARP on it with the port's MAC.
  ip netns exec "$b" ip link set "$p" arp off up
done
ip netns exec "$s" ip link set swp4 netns "$h"
ip netns exec "$h" ip addr add 10.77.0.1/24 dev swp4; ip netns exec "$h" ip link set swp4 up
ovs_vsctl B add-port br0 swp2 -- add-port br0 swp3
# Bridge: priority 32768, max age 6, hello 2, forward delay 4, version 2; every port: automatic cost,
# priority 128, RSTP on, edge until a BPDU says otherwise, point-to-point from the duplex.
bridge_conf=$(hex16 32768)$(hex16 6)$(hex16 2)$(hex16 4)02000000
port_conf=000000008000010102000000
pv 4019 set "$bridge_conf$(printf "$port_conf%.0s" 1 2 3 4 5 6 7)" >/dev/null

# Port record of logical port P in the status: role byte and state byte.
pv_port() { # P -> "role state"
  local st; st=$(pv 4020 get +992) || return 1
  local off=$((312 + 68 * $1))
  echo "$(le8 "$st" $((off + 32))) $(le8 "$st" $((off + 30)))"
}
pv_root_port() { # the front port whose role is Root (3), or nothing
  local st p; st=$(pv 4020 get +992) || return 1
  for p in 2 3; do [ "$(le8 "$st" $((312 + 68 * p + 32)))" = 3 ] && echo "$p"; done; return 0
}
pv_converged() {
  local st; st=$(pv 4020 get +992) || return 1
  local r1 r2 s1 s2
  r1=$(le8 "$st" $((312 + 68 * 2 + 32))); s1=$(le8 "$st" $((312 + 68 * 2 + 30)))
  r2=$(le8 "$st" $((312 + 68 * 3 + 32))); s2=$(le8 "$st" $((312 + 68 * 3 + 30)))
  # One root port forwarding, one alternate discarding, and the root bridge's two ports forwarding.
  { [ "$r1$s1$r2$s2" = 3311 ] || [ "$r1$s1$r2$s2" = 1133 ]; } &&
  [ "$(rstp_role B br0 swp2)" = "Designated Forwarding" ] && [ "$(rstp_role B br0 swp3)" = "Designated Forwarding" ]
}
: >"$work/pv.samples"
for run in $(seq "$runs"); do
  wait_until 60 pv_converged || { echo "portvisor did not converge"; pv_port 2; pv_port 3; ovs_appctl B rstp/show; exit 1; }
  sleep "$settle"
  rp=$(pv_root_port)
  ms=$(outage_ms "$h" 10.77.0.2 3 cable "$rp" unplug)
  echo "run $run: root port $rp, outage $ms ms"
  [ "$ms" != none ] && echo "$ms" >>"$work/pv.samples"
  cable "$rp" plug >/dev/null
done
echo "portvisor against Open vSwitch, outage ms: $(stats <"$work/pv.samples")"

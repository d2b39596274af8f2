#!/usr/bin/env bash
# LACP convergence: the time from both ends of a two-link bond enabled to both members collecting and
# distributing on both ends. One end (Open vSwitch, active LACP, fast timer) is configured first; the
# clock starts when the second end is enabled: another Open vSwitch bond, then, in the same run,
# portvisor on the simulated board with LACP enabled on front ports 1 and 2 through object 4017 (active,
# short timeout). Both ends are polled every 20 ms (`ovs-appctl lacp/show`, object 4018), so the figures
# carry up to about 30 ms of polling.
#
# Usage (root): lacp_convergence.sh [runs, default 5]. Bounded: every wait gives up after seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
bin=${BIN:-$root/build/host/bin}
runs=${1:-5}
source "$root/switch/protocols/bench/peers_lib.sh"

# Every member of bond0 of Open vSwitch $1 is current and in sync, collecting and distributing on both
# sides, and there are $2 of them.
ovs_aggregated() {
  ovs_appctl "$1" lacp/show bond0 | awk -v want="$2" '
    /^member: / { n++; cur = ($0 ~ /current attached/) }
    /actor state:|partner state:/ { if (!($0 ~ /synchronized/ && $0 ~ /collecting/ && $0 ~ /distributing/)) cur = 0 }
    /^$/ && n { ok[n] = cur }
    END { ok[n] = cur; if (n != want) exit 1; for (i = 1; i <= n; i++) if (!ok[i]) exit 1 }'
}
ovs_detached() { ! ovs_appctl "$1" lacp/show bond0 | grep -q "current attached"; }

echo "== Open vSwitch against Open vSwitch"
a=pvb-a-$tag b=pvb-b-$tag
netns_add "$a"; netns_add "$b"
for l in l1 l2; do
  ip link add "${l}a" netns "$a" type veth peer name "${l}b" netns "$b"
  ip netns exec "$a" ip link set "${l}a" arp off up; ip netns exec "$b" ip link set "${l}b" arp off up
done
ovs_start A "$a"; ovs_start B "$b"
ovs_vsctl A add-br br0 -- set bridge br0 datapath_type=netdev
ovs_vsctl B add-br br0 -- set bridge br0 datapath_type=netdev
ovs_vsctl B add-bond br0 bond0 l1b l2b lacp=active bond_mode=balance-tcp -- set port bond0 other_config:lacp-time=fast
: >"$work/ovs.samples"
for run in $(seq "$runs"); do
  wait_until 20 ovs_detached B || { echo "bond of B still attached"; exit 1; }
  ovs_vsctl A add-bond br0 bond0 l1a l2a lacp=active bond_mode=balance-tcp -- set port bond0 other_config:lacp-time=fast
  t0=$(now_ms)
  wait_until 30 eval 'ovs_aggregated A 2 && ovs_aggregated B 2' || { echo "no bond"; ovs_appctl A lacp/show; exit 1; }
  ms=$(($(now_ms) - t0))
  echo "run $run: $ms ms"
  echo "$ms" >>"$work/ovs.samples"
  ovs_vsctl A del-port br0 bond0
done
echo "Open vSwitch pair, ms to collecting and distributing: $(stats <"$work/ovs.samples")"
ovs_vsctl B del-port br0 bond0

echo "== portvisor on the simulated board against Open vSwitch"
s=pvb-s-$tag
netns_add "$s"
board_start "$s"
if ! pv 4018 get +424 >/dev/null; then
  echo "portvisor does not serve the LACP status (object 4018): not measured"
  exit 0
fi
for p in swp1 swp2; do
  ip netns exec "$s" ip link set "$p" netns "$b"
  # A bridge port: the namespace's own stack never answers ARP on it with the port's MAC.
  ip netns exec "$b" ip link set "$p" arp off up
done
ovs_vsctl B add-bond br0 bond0 swp1 swp2 lacp=active bond_mode=balance-tcp -- set port bond0 other_config:lacp-time=fast

# Object 4017 with LACP on ($1 = 1) or off on ports 1 and 2: system priority 32768, own MAC, every
# port priority 32768, key 0, fast timeout, active.
lacp_conf() {
  local port_on port_off conf
  port_on=$(hex16 32768)0000$(printf '%02x' "$1")010100
  port_off=$(hex16 32768)000000010100
  conf=$(hex16 32768)000000000000000000000000000000000000
  pv 4017 set "$conf$port_on$port_on$port_off$port_off$port_off$port_off" >/dev/null
}
# Object 4018: one aggregation record holding ports 1 and 2.
pv_aggregated() {
  local st; st=$(pv 4018 get +424) || return 1
  [ "$(le8 "$st" 0)" = 1 ] && [ "$(le8 "$st" $((4 + 20)))" = 1 ] && [ "$(le8 "$st" $((4 + 21)))" = 1 ]
}
: >"$work/pv.samples"
for run in $(seq "$runs"); do
  wait_until 20 ovs_detached B || { echo "bond of B still attached"; exit 1; }
  lacp_conf 1
  t0=$(now_ms)
  wait_until 30 eval 'pv_aggregated && ovs_aggregated B 2' || { echo "no bond"; ovs_appctl B lacp/show; exit 1; }
  ms=$(($(now_ms) - t0))
  echo "run $run: $ms ms"
  echo "$ms" >>"$work/pv.samples"
  lacp_conf 0
done
echo "portvisor against Open vSwitch, ms to collecting and distributing: $(stats <"$work/pv.samples")"

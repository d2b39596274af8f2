#!/usr/bin/env bash
# portvisor on this machine's stand-ins for the router's hardware: the switch chip simulator and the
# daemon with its traces in a network namespace of their own, until Ctrl-C. Called by scripts/run.sh as
# "run_simulated_board.sh BIN_DIR", BIN_DIR holding the built programs.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
bin=$(cd "$1" && pwd)
echo "=== portvisor on the simulated board"
if [ "$(id -u)" != 0 ]; then
  echo "The simulated board needs root (a network namespace, a tap device \"eth0\", UDP port 28)." >&2
  exit 1
fi
demo=$(mktemp -d /tmp/router-board.XXXXXX)
ns=portvisor-board
ip netns del "$ns" 2>/dev/null || true
ip netns add "$ns"
cleanup() {
  [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$demo"
}
trap cleanup EXIT
# The board's own network: loopback for the management port, and "eth0" whose address gives the base MAC.
ip netns exec "$ns" ip link set lo up
ip netns exec "$ns" ip tuntap add eth0 mode tap
ip netns exec "$ns" ip link set eth0 address 00:11:22:33:44:55 up

# The switch chip simulator stands in for the switch I/O driver behind /dev/swgenio; its six front ports
# are the tap devices swp1..swp6. It runs in a session of its own, so Ctrl-C reaches only the daemon: the
# simulator is stopped at the exit, after the daemon has ended, and the daemon's stop still finds the
# chip there.
setsid ip netns exec "$ns" "$bin/swchipd" --device "$demo/swgenio" --control "$demo/swchip-control" --front-ports swp &
sim_pid=$!
for _ in $(seq 100); do [ -S "$demo/swgenio" ] && break; sleep 0.05; done

cat <<INFO
The switch daemon runs below in the network namespace "$ns" with its traces, until Ctrl-C.
Reach its management port, UDP 28 on 127.0.0.1 inside that namespace, from another terminal:
  ip netns exec $ns $bin/pvmgmt 8 get +8          # port count: res=0 data=0600000000000000
  ip netns exec $ns $bin/pvmgmt 11 get +6         # base MAC address derived from eth0
  ip netns exec $ns $bin/pvmgmt 10 set 01000000   # suspend (00000000 resumes)
  ip netns exec $ns $bin/pvmgmt 5 set             # terminate
The simulated chip answers: $bin/swchipctl --control $demo/swchip-control read 7 0 0x18
The switch's front ports are the tap devices swp1..swp6 in that namespace; frames written to them enter
the switch, frames it sends leave on them:
  ip netns exec $ns $bin/pvmgmt 1001 set 010000003c00000002000000000100000180c2000000  # a test frame out of port 1
  ip netns exec $ns ip -s link show swp1                    # its "RX" counter: frames the switch sent
  ip netns exec $ns $bin/pvmgmt 1002 get +28                # buffer pools: free small, medium, big, lists, drops
Router leg 1 (device tap1 in that namespace) in VLAN 1, 192.168.1.1/24, IP enabled; hosts on port 1 reach it:
  ip netns exec $ns $bin/pvmgmt 5003 set 010000000101a8c000ffffff000000000000000001000000
The same leg taking its address from a DHCP server on port 1 (dhclient, through
switch/daemon/tools/dhcpc_inband.sh):
  ip netns exec $ns $bin/pvmgmt 5003 set 010000000000000000000000000000000100000001000000
INFO
set +e
# The board's in-band DHCP client script is ours here.
PORTVISOR_SWITCH_DEVICE=$demo/swgenio PORTVISOR_DHCP_SCRIPT=$root/switch/daemon/tools/dhcpc_inband.sh \
  DHCPC_INBAND_STATE=$demo/dhcpc ip netns exec "$ns" "$bin/portvisor" --trace all debug
status=$?
echo "=== portvisor ended with status $status"

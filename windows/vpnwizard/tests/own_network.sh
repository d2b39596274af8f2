#!/usr/bin/env bash
# Runs a command (a Windows test program with its wine launcher) in a network of its own, so the router
# doubles it starts on fixed addresses and on the wizard's port 8080 are this run's alone, whatever else
# the machine runs. Wine reports the adapters of the network its session runs in, so the command gets a
# wine prefix, and with it a session, of its own. Needs root, as the other tests that make network
# namespaces do.
#   own_network.sh [--behind-gateway] command...
# The network holds a loopback only. With --behind-gateway the PC is on a router's LAN: its adapter lan0
# has a default gateway that a router double can listen on, passed on in TUNMIRA_LOCAL_GATEWAY. A second
# adapter, wan0, has a gateway too (a PC with two networks, where the wizard asks which adapter leads to
# the router), and the far ends of both pairs have none.
set -euo pipefail
if [ "${TUNMIRA_OWN_NETWORK:-}" != 1 ]; then
  exec env TUNMIRA_OWN_NETWORK=1 unshare --net -- "$0" "$@"
fi

behind_gateway() {
  local gateway=192.168.77.1
  # wan0 is made first, so it is listed, and offered, first.
  ip link add wan0 type veth peer name wan1
  ip link add lan0 type veth peer name lan1
  for link in lan1 wan1 lan0 wan0; do ip link set "$link" up; done
  ip addr add 192.168.77.10/24 dev lan0
  ip addr add 192.168.78.10/24 dev wan0
  ip route add default via "$gateway" dev lan0 metric 100
  ip route add default via 192.168.78.1 dev wan0 metric 200
  # The gateway's address becomes this network's own, so the double bound to it answers; the route comes
  # first, as no route takes a gateway that is a local address.
  ip addr add "$gateway/32" dev lo
  export TUNMIRA_LOCAL_GATEWAY=$gateway
}

ip link set lo up
if [ "${1:-}" = --behind-gateway ]; then
  shift
  behind_gateway
fi

WINEPREFIX=$(mktemp -d /tmp/rt-wine-net.XXXXXX)
export WINEPREFIX
end_session() {
  WINEDEBUG=-all /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX".*
}
trap end_session EXIT
"$@"

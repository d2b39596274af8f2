#!/usr/bin/env bash
# Runs a command (a Windows test program with its wine launcher) in a network of its own, where the PC
# is on a router's LAN: its adapter lan0 has a default gateway that a router double can listen on, passed
# on in TUNMIRA_LOCAL_GATEWAY. A second adapter, wan0, has a gateway too (a PC with two networks, where
# the wizard asks which adapter leads to the router), and the far ends of both pairs have none. Wine
# reports the adapters of the network its session runs in, so the command gets a wine prefix, and with it
# a session, of its own. Needs root, as the other tests that make network namespaces do.
set -euo pipefail
if [ "${TUNMIRA_BEHIND_GATEWAY:-}" != 1 ]; then
  exec env TUNMIRA_BEHIND_GATEWAY=1 unshare --net -- "$0" "$@"
fi

gateway=192.168.77.1
ip link set lo up
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

WINEPREFIX=$(mktemp -d /tmp/rt-wine-lan.XXXXXX)
export WINEPREFIX
end_session() {
  WINEDEBUG=-all /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX".*
}
trap end_session EXIT
"$@"

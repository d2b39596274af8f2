#!/usr/bin/env bash
# Runs a command (a Windows test program with its wine launcher) in a network of its own, where the PC
# has one adapter whose default gateway is an address a router double can listen on, as a PC on a
# router's LAN has; the gateway is passed on in TUNMIRA_LOCAL_GATEWAY. Wine reports the adapters of the
# network its session runs in, so the command gets a wine prefix, and with it a session, of its own.
# Needs root, as the other tests that make network namespaces do.
set -euo pipefail
if [ "${TUNMIRA_BEHIND_GATEWAY:-}" != 1 ]; then
  exec env TUNMIRA_BEHIND_GATEWAY=1 unshare --net -- "$0" "$@"
fi

gateway=192.168.77.1
ip link set lo up
# A second adapter without a gateway (the far end of the pair) is listed too, as on most PCs.
ip link add lan0 type veth peer name lan1
ip link set lan1 up
ip link set lan0 up
ip addr add 192.168.77.10/24 dev lan0
ip route add default via "$gateway" dev lan0
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

#!/usr/bin/env bash
# 802.1X authorisation: the time from a supplicant's link coming up to its port authorised. The same
# FreeRADIUS (EAP-MD5, on loopback of the authenticators' namespace) and the same wpa_supplicant (wired
# driver, in a namespace of its own) serve both authenticators, measured in the same run:
#  - hostapd with its wired driver on one end of a veth pair, the supplicant on the other end; link up
#    is the supplicant's end set up (the veth's carrier comes up on both ends). hostapd is started
#    afresh before each run, so no station is left from the one before. hostapd learns of a station
#    only from its frames, and wpa_supplicant's wired driver does not watch its carrier, so at link up
#    the supplicant is told to start (`wpa_cli reauthenticate`: an EAPOL-Start), as a supplicant that
#    watches its carrier would do by itself.
#  - portvisor on the simulated board with 802.1X on front port 1 (automatic control), the supplicant
#    on that port's TAP; link up is the simulator's cable plugged (the PHY's link comes up, the TAP gets
#    its carrier). Between runs the cable is unplugged, which closes the port. Measured twice: with the
#    supplicant told to start at link up, as for hostapd, then with the port alone asking the
#    supplicant (its Request/Identity at link up).
# Each series starts with a warm-up run, not counted: the supplicant's first authentication after its
# start waits on its own start-up. Authorised is polled every 20 ms (`hostapd_cli all_sta` showing the station AUTHORIZED, object 4023
# showing port 1 authorised), so the figures carry up to about 30 ms of polling.
#
# Usage (root): dot1x_authorisation.sh [runs, default 5]. Bounded: every wait gives up after seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
bin=${BIN:-$root/build/host/bin}
runs=${1:-5}
source "$root/switch/protocols/bench/peers_lib.sh"
for tool in hostapd hostapd_cli wpa_supplicant freeradius; do
  command -v "$tool" >/dev/null || { echo "$tool is needed (packages hostapd, wpasupplicant, freeradius)"; exit 1; }
done

secret=benchsecret
s=pvb-s-$tag p=pvb-p-$tag
netns_add "$s"; netns_add "$p"

# FreeRADIUS in the authenticators' namespace: its own copy of the configuration, the default site only,
# on 127.0.0.1 and free ports, one client and one user.
radius_port=18812
raddb=$work/raddb
cp -rL /etc/freeradius/3.0 "$raddb"
rm -f "$raddb/sites-enabled/inner-tunnel"
awk -v auth=$radius_port -v acct=$((radius_port + 1)) '
  /^[[:space:]]*port = 0$/ { n++; sub(/0$/, n % 2 ? auth : acct) }
  /^[[:space:]]*ipaddr = \*$/ { sub(/\*$/, "127.0.0.1") }
  /^[[:space:]]*ipv6addr = ::$/ { sub(/::$/, "::1") } { print }' \
  "$raddb/sites-available/default" >"$raddb/sites-enabled/default"
sed -i -e 's/^[[:space:]]*user = .*//' -e 's/^[[:space:]]*group = .*//' "$raddb/radiusd.conf"
printf 'client loop {\n ipaddr = 127.0.0.1\n secret = %s\n}\n' "$secret" >"$raddb/clients.conf"
echo 'alice Cleartext-Password := "wonderland"' >"$raddb/mods-config/files/authorize"
ip netns exec "$s" freeradius -f -d "$raddb" -l "$work/radius.log" &
started_pids+=($!)
wait_until 10 grep -q "Ready to process requests" "$work/radius.log"

# wpa_supplicant in the supplicant's namespace on interface $1, its log in $work/wpa-$1.log.
supplicant_start() {
  local conf=$work/wpa.conf
  printf 'ctrl_interface=%s/wpa\nap_scan=0\nnetwork={\n key_mgmt=IEEE8021X\n eap=MD5\n identity="alice"\n password="wonderland"\n eapol_flags=0\n}\n' \
    "$work" >"$conf"
  ip netns exec "$p" wpa_supplicant -D wired -i "$1" -c "$conf" >"$work/wpa-$1.log" 2>&1 &
  supplicant_pid=$!
  started_pids+=($supplicant_pid)
}
supplicant_stop() { kill "$supplicant_pid"; wait "$supplicant_pid" 2>/dev/null || true; }
# The supplicant sends an EAPOL-Start now.
supplicant_nudge() { ip netns exec "$p" wpa_cli -p "$work/wpa" -i "$1" reauthenticate >/dev/null; }

# Run $run took $1 ms: kept in file $2 unless it is the warm-up (run 0).
record() {
  if [ "$run" = 0 ]; then echo "warm-up: $1 ms"; return; fi
  echo "run $run: $1 ms"
  echo "$1" >>"$2"
}

echo "== hostapd (wired driver) against FreeRADIUS and wpa_supplicant"
ip link add ha netns "$s" type veth peer name hp netns "$p"
ip netns exec "$s" sysctl -qw net.ipv6.conf.ha.disable_ipv6=1
ip netns exec "$p" sysctl -qw net.ipv6.conf.hp.disable_ipv6=1
ip netns exec "$s" ip link set ha up
cat >"$work/hostapd.conf" <<EOF
interface=ha
driver=wired
ctrl_interface=$work/hostapd
ieee8021x=1
eapol_version=2
eap_reauth_period=0
use_pae_group_addr=1
own_ip_addr=127.0.0.1
auth_server_addr=127.0.0.1
auth_server_port=$radius_port
auth_server_shared_secret=$secret
EOF
hostapd_authorised() { ip netns exec "$s" hostapd_cli -p "$work/hostapd" -i ha all_sta | grep -q AUTHORIZED; }
supplicant_start hp
: >"$work/hostapd.samples"
for run in $(seq 0 "$runs"); do
  ip netns exec "$p" ip link set hp down
  ip netns exec "$s" hostapd "$work/hostapd.conf" >"$work/hostapd.log" 2>&1 &
  hostapd_pid=$!
  started_pids+=($hostapd_pid)
  wait_until 10 ip netns exec "$s" hostapd_cli -p "$work/hostapd" -i ha ping
  ip netns exec "$p" ip link set hp up
  t0=$(now_ms)
  supplicant_nudge hp
  wait_until 30 hostapd_authorised || { echo "not authorised"; cat "$work/hostapd.log"; exit 1; }
  ms=$(($(now_ms) - t0))
  record "$ms" "$work/hostapd.samples"
  kill "$hostapd_pid"; wait "$hostapd_pid" 2>/dev/null || true
done
echo "hostapd, ms from link up to authorised: $(stats <"$work/hostapd.samples")"
supplicant_stop

echo "== portvisor on the simulated board against FreeRADIUS and wpa_supplicant"
board_start "$s"
if ! pv 4023 get +644 >/dev/null; then
  echo "portvisor does not serve the 802.1X status (object 4023): not measured"
  exit 0
fi
# Object 4022: 802.1X on, server 127.0.0.1:$radius_port with the secret, re-authentication off, EAP
# time-out 30 s, port 1 automatic, ports 2..6 forced authorised.
secret_hex=$(printf '%s' "$secret" | od -An -tx1 | tr -d ' \n')
secret_hex=$secret_hex$(printf '%0*d' $((60 - ${#secret_hex})) 0)
pv 4022 set "010000007f000001$secret_hex$(hex16 $radius_port)$(hex16 3600)001e00000000020000000100000001000000010000000100000001000000" >/dev/null
# Port 1's record of object 4023: authorisation status 1.
pv_authorised() { local st; st=$(pv 4023 get +644) || return 1; [ "$(le8 "$st" 92)" = 1 ]; }
cable 1 unplug >/dev/null
ip netns exec "$s" ip link set swp1 netns "$p"
ip netns exec "$p" sysctl -qw net.ipv6.conf.swp1.disable_ipv6=1
ip netns exec "$p" ip link set swp1 up
supplicant_start swp1
# $1 runs of link up to authorised, the supplicant told to start at link up when $2 is "nudge".
pv_runs() {
  : >"$work/pv.samples"
  for run in $(seq 0 "$1"); do
    wait_until 10 eval '! pv_authorised' || { echo "port 1 still authorised"; exit 1; }
    cable 1 plug >/dev/null
    t0=$(now_ms)
    [ "$2" != nudge ] || supplicant_nudge swp1
    wait_until 30 pv_authorised || { echo "not authorised"; tail -50 "$work/portvisor.out"; exit 1; }
    ms=$(($(now_ms) - t0))
    record "$ms" "$work/pv.samples"
    cable 1 unplug >/dev/null
  done
}
pv_runs "$runs" nudge
echo "portvisor, supplicant started at link up, ms from link up to authorised: $(stats <"$work/pv.samples")"
pv_runs "$runs" none
echo "portvisor, the port asking alone, ms from link up to authorised: $(stats <"$work/pv.samples")"

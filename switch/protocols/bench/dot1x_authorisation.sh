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
#    its carrier). Between runs the cable is unplugged, which closes the port; the next plug follows
#    after a random pause of up to one round of the daemon's link polls (198 ms), so link ups fall at
#    any point of that round, as cables plugged by hand do. Measured twice: with the supplicant told to
#    start at link up, as for hostapd, then with the port alone asking the supplicant (its
#    Request/Identity at link up).
# The times are those of the events themselves, not of the script seeing them (starting a process can
# take tens of milliseconds on a busy machine): one small program sets the link up, noting the time
# just before, and at once tells the supplicant to start where the series wants it, without a process
# of its own in between; authorised is the EAP-Success reaching the supplicant (captured on its
# link, with the kernel's time stamps), which both authenticators send as they authorise. The
# time from the supplicant's EAPOL-Start is given too. The script still waits for the authenticator to
# show the authorisation (`hostapd_cli all_sta`, object 4023) before the next run. Each series starts
# with a warm-up run, not counted: the supplicant's first authentication after its start waits on its
# own start-up.
# A second measure for both authenticators, their "settled" series: the link comes up and is left alone
# for longer than the daemon needs to see it and start its authenticator (1.2 s), then wpa_supplicant
# itself is started, afresh for each run; the time runs from just before its program starts to the
# EAP-Success. This one includes the supplicant's own start-up, the same for both.
#
# Usage (root): dot1x_authorisation.sh [runs, default 10]. Bounded: every wait gives up after seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
bin=${BIN:-$root/build/host/bin}
runs=${1:-10}
source "$root/switch/protocols/bench/peers_lib.sh"
for tool in hostapd hostapd_cli wpa_supplicant freeradius dumpcap tshark; do
  command -v "$tool" >/dev/null || {
    echo "$tool is needed (packages hostapd, wpasupplicant, freeradius, tshark)"
    exit 1
  }
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
printf 'ctrl_interface=%s/wpa\nap_scan=0\nnetwork={\n key_mgmt=IEEE8021X\n eap=MD5\n identity="alice"\n password="wonderland"\n eapol_flags=0\n}\n' \
  "$work" >"$work/wpa.conf"
supplicant_start() {
  ip netns exec "$p" wpa_supplicant -D wired -i "$1" -c "$work/wpa.conf" >"$work/wpa-$1.log" 2>&1 &
  supplicant_pid=$!
  started_pids+=($supplicant_pid)
}
supplicant_stop() { kill "$supplicant_pid"; wait "$supplicant_pid" 2>/dev/null || true; }
# As supplicant_start on interface $1, noting "RUN TIME" ($3, microseconds since the epoch) in
# $work/$2.marks, the time just before wpa_supplicant's program starts: the noting process becomes the
# supplicant.
timed_start_program=$(cat <<'PYTHON'
import os, sys, time
marks, run = sys.argv[1], sys.argv[2]
with open(marks, "a") as f:
    f.write("%s %d\n" % (run, time.time_ns() // 1000))
os.execvp(sys.argv[3], sys.argv[3:])
PYTHON
)
supplicant_start_timed() {
  ip netns exec "$p" python3 -c "$timed_start_program" "$work/$2.marks" "$3" \
    wpa_supplicant -D wired -i "$1" -c "$work/wpa.conf" >"$work/wpa-$1.log" 2>&1 &
  supplicant_pid=$!
  started_pids+=($supplicant_pid)
}
# The settled series leave a new link alone this long before starting the supplicant: longer than the
# daemon needs to see the link and start its authenticator.
settle_seconds=1.2
# Sets a link up and prints the time just before, in microseconds since the epoch: "veth IFACE" sets
# IFACE of the current namespace up, "cable CONTROL_SOCKET COMMAND" sends the simulator a cable
# command. With a further argument, the supplicant's control socket, the supplicant is then told to
# start (an EAPOL-Start), as a supplicant that watches its carrier would start by itself.
link_up_program=$(cat <<'PYTHON'
import fcntl, os, socket, struct, sys, time
SIOCGIFFLAGS, SIOCSIFFLAGS, IFF_UP = 0x8913, 0x8914, 1
args = sys.argv[1:]
if args[0] == "veth":
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    name = args[1].encode()
    flags = struct.unpack("16sH22x", fcntl.ioctl(s, SIOCGIFFLAGS, struct.pack("16sH22x", name, 0)))[1]
    t = time.time_ns() // 1000
    fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sH22x", name, flags | IFF_UP))
    rest = args[2:]
else:
    c = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    c.connect(args[1])
    t = time.time_ns() // 1000
    c.sendall((args[2] + "\n").encode())
    reply = c.recv(512)
    if not reply.startswith(b"ok"):
        sys.exit("cable: " + reply.decode())
    rest = args[3:]
if rest:
    w = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    local = rest[0] + ".bench-%d" % os.getpid()
    w.bind(local)
    try:
        w.connect(rest[0])
        w.send(b"REAUTHENTICATE")
        w.settimeout(5)
        if not w.recv(64).startswith(b"OK"):
            sys.exit("the supplicant refused to start")
    finally:
        os.unlink(local)
print(t)
PYTHON
)
link_up() { python3 -c "$link_up_program" "$@"; }

# EAPOL (or the frames of capture filter $4) on interface $2 of namespace $1 (it must be up), captured
# into $work/$3.pcapng until capture_stop.
capture_pids=()
capture_start() {
  ip netns exec "$1" dumpcap -q -i "$2" -f "${4:-ether proto 0x888e}" -w "$work/$3.pcapng" >/dev/null 2>&1 &
  capture_pids+=($!)
  started_pids+=($!)
  wait_until 10 test -s "$work/$3.pcapng" || { echo "dumpcap did not start"; exit 1; }
  sleep 0.5
}
# The last frames still reach the files before the captures end.
capture_stop() {
  sleep 1
  local pid
  for pid in "${capture_pids[@]}"; do
    kill "$pid"
    wait "$pid" 2>/dev/null || true
  done
  capture_pids=()
}

# Before each run the script notes the run and the time of its link up ($work/$series.marks). The
# run's figures: from the link up to the first EAP-Success after it, and from the first EAPOL-Start
# after the link up to that EAP-Success. Prints one line per run and leaves the counted runs' figures in
# $work/$series.up and $work/$series.start.
figures() {
  local series=$1
  : >"$work/$series.up"
  : >"$work/$series.start"
  tshark -r "$work/$series.pcapng" -Y "eapol.type == 1 || eap.code == 3" \
    -T fields -e frame.time_epoch -e eapol.type -e eap.code >"$work/$series.frames" 2>/dev/null
  awk -v out="$work/$series" '
    FILENAME ~ /frames$/ {
      if ($3 == 3) success[++successes] = $1 * 1e6; else start[++starts] = $1 * 1e6
      next
    }
    { run[++runs] = $1; up[runs] = $2 }
    function first(list, n, after,   i) {
      for (i = 1; i <= n; ++i) if (list[i] >= after) return list[i]
      return -1
    }
    END {
      for (r = 1; r <= runs; ++r) {
        done = first(success, successes, up[r])
        if (done < 0) { printf "run %d: no EAP-Success seen\n", run[r]; continue }
        s = first(start, starts, up[r])
        ms = (done - up[r]) / 1000
        line = sprintf("%.1f ms", ms)
        if (s >= 0 && s < done) line = line sprintf(" (%.1f ms from the EAPOL-Start)", (done - s) / 1000)
        if (run[r] == 0) { print "warm-up: " line; continue }
        print "run " run[r] ": " line
        print ms >out ".up"
        if (s >= 0 && s < done) print (done - s) / 1000 >out ".start"
      }
    }' "$work/$series.frames" "$work/$series.marks"
}

# Where the time of a settled series goes: the EAPOL frames on the supplicant's link and the RADIUS
# datagrams ($work/SERIES.pcapng and $work/SERIES-radius.pcapng), each as milliseconds after its run's
# supplicant start, up to the run's EAP-Success; then the median of each step over the counted runs.
timeline() {
  local series=$1 f
  for f in "$series" "$series-radius"; do
    tshark -r "$work/$f.pcapng" -d "udp.port==$radius_port,radius" -Y "eapol || radius" -T fields -E separator=, -e frame.time_epoch \
      -e eapol.type -e eap.code -e eap.type -e radius.code 2>/dev/null
  done | sort -t, -k1,1n >"$work/$series.timeline"
  awk -F, '
    FILENAME ~ /timeline$/ {
      t = $1 * 1e6
      if ($5 != "") label = ($5 == 1 ? "AccessRequest" : $5 == 11 ? "Challenge" : $5 == 2 ? "Accept" : \
                             $5 == 3 ? "Reject" : "radius" $5)
      else if ($2 == 1) label = "Start"
      else if ($2 == 2) label = "Logoff"
      else if ($3 == 3) label = "Success"
      else if ($3 == 4) label = "Failure"
      else label = ($3 == 1 ? "Req" : "Resp") ($4 == 1 ? "Identity" : $4 == 4 ? "MD5" : $4 == 25 ? "PEAP" : $4)
      time[++frames] = t; what[frames] = label
      next
    }
    { split($0, field, " "); run[++runs] = field[1]; mark[runs] = field[2] }
    END {
      for (r = 1; r <= runs; ++r) {
        if (run[r] == 0) continue
        line = ""; steps = 0; prev = mark[r]
        for (i = 1; i <= frames; ++i) {
          if (time[i] < mark[r]) continue
          ++steps
          line = line sprintf(" %s +%.1f", what[i], (time[i] - mark[r]) / 1000)
          step_name[steps] = what[i]
          gap[steps, ++gaps[steps]] = (time[i] - prev) / 1000
          prev = time[i]
          if (what[i] == "Success") break
        }
        if (steps > most) most = steps
        print "run " run[r] ":" line
      }
      line = "median step (ms after the previous):"
      for (k = 1; k <= most; ++k) {
        n = gaps[k]
        for (i = 1; i <= n; ++i) v[i] = gap[k, i]
        for (i = 2; i <= n; ++i) for (j = i; j > 1 && v[j - 1] > v[j]; --j) { x = v[j]; v[j] = v[j - 1]; v[j - 1] = x }
        line = line sprintf(" %s %.1f", step_name[k], n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2)
      }
      print line
    }' "$work/$series.timeline" "$work/$series.marks"
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
capture_start "$s" ha hostapd
: >"$work/hostapd.marks"
for run in $(seq 0 "$runs"); do
  ip netns exec "$p" ip link set hp down
  ip netns exec "$s" hostapd "$work/hostapd.conf" >"$work/hostapd.log" 2>&1 &
  hostapd_pid=$!
  started_pids+=($hostapd_pid)
  wait_until 10 ip netns exec "$s" hostapd_cli -p "$work/hostapd" -i ha ping
  echo "$run $(ip netns exec "$p" python3 -c "$link_up_program" veth hp "$work/wpa/hp")" >>"$work/hostapd.marks"
  # The supplicant, started on a link that was down, may hold its first EAPOL-Start for its 30 s
  # start period: the warm-up may take that long.
  wait_until $((run == 0 ? 60 : 30)) hostapd_authorised || { echo "not authorised"; cat "$work/hostapd.log"; exit 1; }
  kill "$hostapd_pid"; wait "$hostapd_pid" 2>/dev/null || true
done
capture_stop
supplicant_stop
figures hostapd
echo "hostapd, ms from link up to authorised: $(stats <"$work/hostapd.up")"
echo "hostapd, ms from the supplicant's EAPOL-Start to authorised: $(stats <"$work/hostapd.start")"
# Settled: hostapd started afresh, the link up and left alone, then the supplicant started.
capture_start "$s" ha hostapd-settled
capture_start "$s" lo hostapd-settled-radius "udp port $radius_port"
: >"$work/hostapd-settled.marks"
for run in $(seq 0 "$runs"); do
  ip netns exec "$p" ip link set hp down
  ip netns exec "$s" hostapd "$work/hostapd.conf" >"$work/hostapd.log" 2>&1 &
  hostapd_pid=$!
  started_pids+=($hostapd_pid)
  wait_until 10 ip netns exec "$s" hostapd_cli -p "$work/hostapd" -i ha ping
  ip netns exec "$p" ip link set hp up
  sleep "$settle_seconds"
  supplicant_start_timed hp hostapd-settled "$run"
  wait_until 30 hostapd_authorised || { echo "not authorised"; cat "$work/hostapd.log"; exit 1; }
  supplicant_stop
  kill "$hostapd_pid"; wait "$hostapd_pid" 2>/dev/null || true
done
capture_stop
figures hostapd-settled
timeline hostapd-settled
hostapd_settled=$(stats <"$work/hostapd-settled.up")
hostapd_settled_start=$(stats <"$work/hostapd-settled.start")
echo "hostapd, link settled, ms from wpa_supplicant start to authorised: $hostapd_settled"
echo "hostapd, link settled, ms from the supplicant's EAPOL-Start to authorised: $hostapd_settled_start"

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
# $1 runs of link up to authorised in series $3, the supplicant told to start at link up when $2 is
# "nudge".
pv_runs() {
  local series=$3
  capture_start "$p" swp1 "$series"
  : >"$work/$series.marks"
  for run in $(seq 0 "$1"); do
    wait_until 10 eval '! pv_authorised' || { echo "port 1 still authorised"; exit 1; }
    sleep "0.$(printf '%03d' $((RANDOM % 198)))"
    local nudge=()
    [ "$2" != nudge ] || nudge=("$work/wpa/swp1")
    echo "$run $(link_up cable "$board_ctl" "cable 0 0 plug" "${nudge[@]}")" >>"$work/$series.marks"
    wait_until 30 pv_authorised || { echo "not authorised"; tail -50 "$work/portvisor.out"; exit 1; }
    cable 1 unplug >/dev/null
  done
  capture_stop
  figures "$series"
}
pv_runs "$runs" nudge pv-nudge
echo "portvisor, supplicant started at link up, ms from link up to authorised: $(stats <"$work/pv-nudge.up")"
pv_runs "$runs" none pv-alone
echo "portvisor, the port asking alone, ms from link up to authorised: $(stats <"$work/pv-alone.up")"
supplicant_stop

# Settled: the cable plugged and left alone, then the supplicant started; the port is closed again by
# the unplug after each run.
capture_start "$p" swp1 pv-settled
capture_start "$s" lo pv-settled-radius "udp port $radius_port"
: >"$work/pv-settled.marks"
for run in $(seq 0 "$runs"); do
  wait_until 10 eval '! pv_authorised' || { echo "port 1 still authorised"; exit 1; }
  cable 1 plug >/dev/null
  sleep "$settle_seconds"
  supplicant_start_timed swp1 pv-settled "$run"
  wait_until 30 pv_authorised || { echo "not authorised"; tail -50 "$work/portvisor.out"; exit 1; }
  supplicant_stop
  cable 1 unplug >/dev/null
done
capture_stop
figures pv-settled
timeline pv-settled
echo "== link settled, side by side"
echo "portvisor, ms from wpa_supplicant start to authorised: $(stats <"$work/pv-settled.up")"
echo "hostapd,   ms from wpa_supplicant start to authorised: $hostapd_settled"
echo "portvisor, ms from the supplicant's EAPOL-Start to authorised: $(stats <"$work/pv-settled.start")"
echo "hostapd,   ms from the supplicant's EAPOL-Start to authorised: $hostapd_settled_start"

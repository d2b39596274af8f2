# Shared by the protocol measurements (sourced): network namespaces, Open vSwitch in user space with its
# files in the run's own folder, and portvisor on the simulated board. Everything started here is
# stopped, and every namespace deleted, when the sourcing script exits.
# The caller sets: root (repository), bin (build bin folder).

work=$(mktemp -d /tmp/pv_bench.XXXXXX)
tag=$$
started_pids=()
made_namespaces=()

cleanup() {
  set +e
  local pid ns
  for pid in "${started_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${started_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  for ns in "${made_namespaces[@]}"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
trap 'echo "failed: line $LINENO: $BASH_COMMAND" >&2' ERR

# Waits until the command succeeds, polling every 20 ms, at most $1 seconds; fails after that.
wait_until() {
  local seconds=$1; shift
  local end=$(($(date +%s%N) + seconds * 1000000000))
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s%N)" -lt "$end" ] || return 1
    sleep 0.02
  done
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

netns_add() {
  ip netns add "$1"
  made_namespaces+=("$1")
  ip netns exec "$1" ip link set lo up
}

# Moves interface $2 into namespace $1 and brings it up there, IPv6 off.
netns_adopt() {
  ip link set "$2" netns "$1"
  ip netns exec "$1" sysctl -qw "net.ipv6.conf.$2.disable_ipv6=1"
  ip netns exec "$1" ip link set "$2" up
}

# Open vSwitch instance NAME inside namespace NS: ovsdb-server and ovs-vswitchd with every file in
# $work/ovs-NAME.
ovs_start() {
  local name=$1 ns=$2 d=$work/ovs-$1
  mkdir -p "$d"
  ovsdb-tool create "$d/conf.db" /usr/share/openvswitch/vswitch.ovsschema
  local env=(env OVS_RUNDIR="$d" OVS_DBDIR="$d" OVS_LOGDIR="$d" OVS_SYSCONFDIR="$d")
  ip netns exec "$ns" "${env[@]}" ovsdb-server "$d/conf.db" --remote="punix:$d/db.sock" \
      --pidfile="$d/ovsdb-server.pid" --unixctl="$d/ovsdb-server.ctl" --log-file="$d/ovsdb-server.log" \
      >"$d/ovsdb-server.out" 2>&1 &
  started_pids+=($!)
  wait_until 10 test -S "$d/db.sock"
  ovs_vsctl "$name" --no-wait init
  ip netns exec "$ns" "${env[@]}" ovs-vswitchd "unix:$d/db.sock" --pidfile="$d/ovs-vswitchd.pid" \
      --unixctl="$d/ovs-vswitchd.ctl" --log-file="$d/ovs-vswitchd.log" >"$d/ovs-vswitchd.out" 2>&1 &
  started_pids+=($!)
  wait_until 10 ovs_appctl "$name" version
}
ovs_vsctl() { local name=$1; shift; ovs-vsctl --timeout=20 --db="unix:$work/ovs-$name/db.sock" "$@"; }
ovs_appctl() { local name=$1; shift; ovs-appctl --timeout=10 -t "$work/ovs-$name/ovs-vswitchd.ctl" "$@"; }

# The chip simulator and portvisor in namespace NS (with its "eth0"); front ports swp1..swp6 are made
# there. Sets board_ns and board_ctl.
board_start() {
  board_ns=$1
  board_ctl=$work/swchip-control
  ip netns exec "$board_ns" ip tuntap add eth0 mode tap
  ip netns exec "$board_ns" ip link set eth0 address 00:11:22:33:44:55 up
  ip netns exec "$board_ns" "$bin/swchipd" --device "$work/swgenio" --control "$board_ctl" --front-ports swp \
      >"$work/swchipd.out" 2>&1 &
  started_pids+=($!)
  wait_until 10 test -S "$work/swgenio"
  ip netns exec "$board_ns" env PORTVISOR_SWITCH_DEVICE="$work/swgenio" PORTVISOR_WORKDIR="$work/pv" \
      PORTVISOR_PIDFILE="$work/pv.pid" "$bin/portvisor" >"$work/portvisor.out" 2>&1 &
  started_pids+=($!)
  wait_until 60 pv 8 get +8
}

# One management object: prints the answer's data in hex; fails unless res is 0.
pv() {
  local answer
  answer=$(ip netns exec "$board_ns" "$bin/pvmgmt" "$@") || return 1
  case $answer in
    res=0*) echo "${answer#res=0 data=}" ;;
    *) return 1 ;;
  esac
}
swchipctl() { "$bin/swchipctl" --control "$board_ctl" "$@"; }
# The simulator's cable of front port P (1..6): ports 1..5 on MIIM controller 0, port 6 on 1.
cable() {
  local port=$1 action=$2
  if [ "$port" -le 5 ]; then swchipctl cable 0 $((port - 1)) "$action"; else swchipctl cable 1 3 "$action"; fi
}

# Little-endian fields of a hex string: le16 HEX BYTE_OFFSET, le8 HEX BYTE_OFFSET.
le8() { echo $((16#${1:$(($2 * 2)):2})); }
le16() { echo $((16#${1:$(($2 * 2 + 2)):2}${1:$(($2 * 2)):2})); }
hex16() { printf '%02x%02x' $(($1 & 255)) $(($1 >> 8)); }

# Statistics of a list of numbers (one per line): "min M median M max M (n N)".
stats() {
  sort -n | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "no samples"; exit }
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
    printf "min %.1f median %.1f max %.1f (n %d)\n", v[1], m, v[NR], NR }'
}

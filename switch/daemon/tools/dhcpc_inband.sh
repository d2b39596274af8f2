#!/bin/sh
# In-band DHCP client of the management leg, for portvisor on this machine (point PORTVISOR_DHCP_SCRIPT
# here). Called as "<script> start|stop|restart" it runs dhclient on the leg's TAP device; dhclient calls
# it back as its action script (no argument, $reason set) to put the lease on the device. It touches
# nothing but the device and the default route: no resolver files.
#   DHCPC_INBAND_INTERFACE  device, default tap1 (the management leg)
#   DHCPC_INBAND_STATE      directory for the pid and lease files, default /tmp/dhcpc_inband
set -u

interface=${DHCPC_INBAND_INTERFACE:-tap1}
state=${DHCPC_INBAND_STATE:-/tmp/dhcpc_inband}
pidfile="$state/dhclient.$interface.pid"
leases="$state/dhclient.$interface.leases"
self=$(readlink -f "$0")

start() {
    # One client per device: one left from an earlier daemon goes first.
    stop
    mkdir -p "$state"
    dhclient -4 -nw -sf "$self" -pf "$pidfile" -lf "$leases" "$interface"
}

stop() {
    [ -f "$pidfile" ] || return 0
    dhclient -x -sf "$self" -pf "$pidfile" -lf "$leases" "$interface"
    rm -f "$pidfile"
}


# dhclient's callbacks.
action() {
    case "$reason" in
    PREINIT)
        /sbin/ifconfig "$interface" up
        ;;
    BOUND | RENEW | REBIND | REBOOT)
        /sbin/ifconfig "$interface" "$new_ip_address" netmask "$new_subnet_mask" up
        if [ -n "${new_routers:-}" ]; then
            /sbin/route del -net 0.0.0.0/0 2>/dev/null
            /sbin/route add -net 0.0.0.0/0 gw "${new_routers%% *}"
        fi
        ;;
    EXPIRE | FAIL | RELEASE | STOP)
        if [ -n "${old_ip_address:-}" ]; then
            /sbin/ifconfig "$interface" 0.0.0.0
        fi
        ;;
    esac
    return 0
}

if [ -n "${reason:-}" ] && [ $# -eq 0 ]; then
    action
    exit 0
fi

case "${1:-}" in
start) start ;;
stop) stop ;;
restart) start ;;
*)
    echo "usage: $0 start|stop|restart" >&2
    exit 1
    ;;
esac

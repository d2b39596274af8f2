#!/bin/bash
# Makes the packet captures the pipeline tests replay: real tools (curl against a Python web server,
# nmap, hping3, ping) talking between two network namespaces this script creates, captured by
# tshark on the server side. Needs root, iproute2, tshark, nmap, hping3, curl, python3.
# Usage: make_captures.sh [output folder]   (default: this script's folder)
set -euo pipefail

out=$(cd "${1:-$(dirname "$0")}" && pwd)
tag=vcap$$
client=${tag}c
server=${tag}s
work=$(mktemp -d)

cleanup() {
  ip netns pids "$server" 2>/dev/null | xargs -r kill 2>/dev/null || true
  ip netns pids "$client" 2>/dev/null | xargs -r kill 2>/dev/null || true
  ip netns del "$client" 2>/dev/null || true
  ip netns del "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$client"
ip netns add "$server"
ip link add "${tag}a" type veth peer name "${tag}b"
ip link set "${tag}a" netns "$client"
ip link set "${tag}b" netns "$server"
ip -n "$client" addr add 10.77.0.1/24 dev "${tag}a"
ip -n "$server" addr add 10.77.0.2/24 dev "${tag}b"
ip -n "$client" link set "${tag}a" up
ip -n "$server" link set "${tag}b" up
ip -n "$client" link set lo up
ip -n "$server" link set lo up
# Addresses are resolved once up front, so the captures hold no ARP.
mac_b=$(ip -n "$server" -o link show "${tag}b" | sed -E 's/.*link\/ether ([0-9a-f:]+).*/\1/')
mac_a=$(ip -n "$client" -o link show "${tag}a" | sed -E 's/.*link\/ether ([0-9a-f:]+).*/\1/')
ip -n "$client" neigh add 10.77.0.2 lladdr "$mac_b" dev "${tag}a"
ip -n "$server" neigh add 10.77.0.1 lladdr "$mac_a" dev "${tag}b"

# capture NAME COMMAND...: runs the command in the client namespace while tshark records the
# server side's interface into NAME.pcap (classic pcap format).
capture() {
  local name=$1
  shift
  ip netns exec "$server" timeout 60 tshark -q -i "${tag}b" -F pcap -w "$work/$name.pcap" -f ip >/dev/null 2>&1 &
  local tshark=$!
  for _ in $(seq 100); do
    [ -s "$work/$name.pcap" ] && break
    sleep 0.1
  done
  sleep 1.5  # tshark writes its file header a little before it captures
  ip netns exec "$client" timeout 30 "$@" >/dev/null 2>&1 || true
  sleep 1
  kill -INT "$tshark"
  wait "$tshark" || true
  cp "$work/$name.pcap" "$out/$name.pcap"
  echo "$name.pcap: $(tshark -r "$out/$name.pcap" 2>/dev/null | wc -l) packets"
}

ip netns exec "$server" timeout 120 python3 -m http.server 8080 --bind 10.77.0.2 --directory "$work" >/dev/null 2>&1 &
sleep 1

capture http_passwd curl --path-as-is -s -m 5 "http://10.77.0.2:8080/../../etc/passwd"
capture nmap_xmas nmap -n -Pn -sX -p 20-29 --max-rate 50 --max-retries 0 10.77.0.2
capture nmap_syn nmap -n -Pn -sS -p 20-29 --max-rate 50 --max-retries 0 10.77.0.2
printf 'cmd.exe /c dir' >"$work/udp_payload"
capture hping3_udp hping3 --udp -c 5 -i u20000 -p 53 -d 14 -E "$work/udp_payload" 10.77.0.2
capture ping_pattern ping -c 3 -i 0.2 -p 41747461636b 10.77.0.2

#!/usr/bin/env bash
# Shows the agent library at work on this machine: vornkd serves the module at a private device
# path, the inspection daemon starts the agents, a policy built from the sample description is
# installed, a client reads and changes settings, and the reports and chart are read. Runs in its own IPC namespace (needs root).
# Usage: bash inspection/agent/tools/demo.sh [bin folder, default build/host/bin]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
bin=$(cd "${1:-$root/build/host/bin}" && pwd)
work=$(mktemp -d /tmp/vornagent-demo.XXXXXX)
export VORN_DEVICE=$work/vorn VORNAGENT_DEBUG_LOG=$work/glb_dbg
"$bin/vornkd" 2>"$work/vornkd.log" &
kernel=$!
trap 'kill $kernel 2>/dev/null; wait $kernel 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -S "$VORN_DEVICE" ] && break; sleep 0.05; done

export chart=${CHART:-/tmp/vornagent-chart.png}
export bin work sample=$root/inspection/agent/tests/policies/sample.policy.txt
unshare --ipc bash -euo pipefail -c '
  cli=$bin/vornagent-cli
  "$bin/vornagentd" >"$work/daemon.log" &
  daemon=$!
  trap "kill $daemon 2>/dev/null; wait $daemon" EXIT
  for _ in $(seq 100); do grep -q running "$work/daemon.log" 2>/dev/null && break; sleep 0.05; done
  "$bin/vornpolicy" "$sample" "$work/sample.policy" >/dev/null
  echo "--- install the sample policy";        "$cli" upload "$work/sample.policy"
  echo "--- signature version";                "$cli" version
  echo "--- IM applications (index action id name)"; "$cli" apps im
  echo "--- switch Yahoo Messenger off";       "$cli" app im "Yahoo Messenger" 0
  echo "--- IP sweep threshold 2048, then 2049 (refused)"
  "$cli" threshold portscan "IP Sweep" 1 2048
  "$cli" threshold portscan "IP Sweep" 1 2049 || true
  echo "--- port-scan rules";                  "$cli" thresholds portscan
  echo "--- inspection state";                 "$cli" ips
  echo "--- report tick now (SIGALRM), busiest sources and categories"
  kill -ALRM $daemon; sleep 0.2
  "$cli" top5; "$cli" categories
  echo "--- 24-hour chart";                    "$cli" chart "$chart" && echo "written to $chart"
'

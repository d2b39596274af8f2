#!/usr/bin/env bash
# The run command: installs what is missing, builds the router side and runs it on this machine's
# stand-ins for the router's hardware.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" >/dev/null
bin=$root/build/host/bin

demo=$(mktemp -d /tmp/router-run.XXXXXX)
trap 'rm -rf "$demo"' EXIT

echo "=== vostrel: erase, then program a 40 KiB image onto a 64 KiB flash partition (a file here)"
head -c 65536 /dev/zero >"$demo/mtd3"
head -c 40960 /dev/urandom >"$demo/firmware.img"
# The flash library resolves /dev/<name> through its partition table; point entry 3 at the file.
for i in 0 1 2 3 4; do
  if [ "$i" = 3 ]; then echo "/dev/..$demo/mtd3 3"; else echo "/dev/mtd$i $i"; fi
done >"$demo/mtd-map"
export TORVEL_MTD_MAP=$demo/mtd-map
"$bin/vostrel" erase "..$demo/mtd3"
"$bin/vostrel" program "..$demo/mtd3" "$demo/firmware.img"
cmp -n 40960 "$demo/mtd3" "$demo/firmware.img" && echo "=== partition holds the image byte for byte"

echo
bash "$root/switch/daemon/tools/run_simulated_board.sh" "$bin"

#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing, and lays out the armhf root the
# arm preset builds against (scripts/arm-sysroot.sh). Quiet and idempotent.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

# The arm preset's libraries are Debian's armhf packages: apt must know that architecture before its
# package lists are read.
update_lists=0
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  $SUDO dpkg --add-architecture armhf
  update_lists=1
fi

mapfile -t wanted < <(grep -v '^\s*#' "$here/packages.txt" | grep -v '^\s*$')
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] || update_lists=1

if [ "$update_lists" -eq 1 ]; then
  # A list that fails to download (a mirror mid-sync) leaves the previous one in use; installing below
  # still fails loudly if a package cannot be had.
  $SUDO apt-get update -qq || echo "install-deps: some package lists could not be updated"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Without the armhf root only the arm preset fails (its configure step says why); the rest can run.
bash "$here/arm-sysroot.sh" || echo "install-deps: the armhf root could not be made"

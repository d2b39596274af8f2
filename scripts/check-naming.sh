#!/usr/bin/env bash
# Fails, naming each file and name, when a folder below that follows the naming scheme of .clang-tidy
# holds a name outside it. A folder joins the list once it conforms.
# Usage: check-naming.sh [folder...]   (default: every folder of the list)
set -euo pipefail

folders=(
  switch/chip
  switch/daemon
  switch/protocols
  switch/testsupport
  tools/flash
)

cd "$(dirname "$0")/.."
root=$(pwd)
[ $# -gt 0 ] && folders=("$@")

# The check reads how each file is compiled from the host build's compile database.
db=build/host/compile_commands.json
if [ ! -f "$db" ]; then
  cmake --preset host >/dev/null
fi

# The folders' own .cpp files the host build compiles (fuzzer sources are built by the fuzz preset only;
# the headers they include are checked through the other files). Headers come in through the filter.
mapfile -t files < <(
  for folder in "${folders[@]}"; do git ls-files "$folder/*.cpp"; done |
    grep -Fxf <(sed -nE "s#^ *\"file\": \"$root/(.*)\",?#\1#p" "$db" | sort -u) || true)
if [ ${#files[@]} -eq 0 ]; then
  echo "naming: no files to check"
  exit 0
fi
filter="^$root/($(IFS='|'; echo "${folders[*]}"))/"

out=$(printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy-14 --quiet -p build/host --header-filter="$filter" 2>/dev/null || true)
mapfile -t bad < <(sed -nE "s#^$root/([^:]+):([0-9]+):[0-9]+: warning: invalid case style for ([a-z ]+) '([^']+)'.*#\1:\2: \3 '\4'#p" <<<"$out" | sort -u)
if [ ${#bad[@]} -gt 0 ]; then
  echo "naming: ${#bad[@]} name(s) outside the scheme of .clang-tidy:"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "naming: ${#files[@]} files in ${#folders[@]} folder(s) follow the naming scheme"

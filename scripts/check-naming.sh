#!/usr/bin/env bash
# Fails, naming each file and name, when the project's code holds a name outside the naming scheme of
# .clang-tidy.
# Usage: check-naming.sh [folder...]   (default: every folder of the project's code)
set -euo pipefail

folders=(
  inspection
  platform
  switch
  tools
  windows
)

cd "$(dirname "$0")/.."
root=$(pwd)
[ $# -gt 0 ] && folders=("$@")

# The check reads how each file is compiled from the compile databases: the host build's, the fuzz
# build's for the fuzzer sources, and the win build's for the Windows-only files (clang-tidy then parses them as the mingw compiler would, with its
# own C++ library headers).
host_db=build/host/compile_commands.json
fuzz_db=build/fuzz/compile_commands.json
win_db=build/win/compile_commands.json
[ -f "$host_db" ] || cmake --preset host >/dev/null
[ -f "$fuzz_db" ] || cmake --preset fuzz >/dev/null
[ -f "$win_db" ] || cmake --preset win >/dev/null

compiled_in() { sed -nE "s#^ *\"file\": \"$root/(.*)\",?#\1#p" "$1" | sort -u; }
own_files() { for folder in "${folders[@]}"; do git ls-files "$folder/*.cpp"; done; }

# The folders' own .cpp files the builds compile; headers come in through the filter.
mapfile -t host_files < <(own_files | grep -Fxf <(compiled_in "$host_db") || true)
mapfile -t fuzz_files < <(own_files | grep -Fxf <(compiled_in "$fuzz_db") | grep -Fvxf <(compiled_in "$host_db") ||
  true)
mapfile -t win_files < <(own_files | grep -Fxf <(compiled_in "$win_db") | grep -Fvxf <(compiled_in "$host_db") ||
  true)
checked=$((${#host_files[@]} + ${#fuzz_files[@]} + ${#win_files[@]}))
if [ "$checked" -eq 0 ]; then
  echo "naming: no files to check"
  exit 0
fi
filter="^$root/($(IFS='|'; echo "${folders[*]}"))/"

win_args=()
if [ ${#win_files[@]} -gt 0 ]; then
  win_cxx=$(sed -nE 's#^ *"command": "([^ ]+) .*#\1#p' "$win_db" | head -1)
  # The mingw intrinsics headers hold builtins clang does not know; without a limit their errors stop the
  # parse before the project's code is read to its end.
  win_args=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-ferror-limit=0)
  while read -r dir; do win_args+=("--extra-arg=-isystem$dir"); done < <(
    "$win_cxx" -x c++ -E -v /dev/null 2>&1 >/dev/null | sed -n '/^#include <...>/,/^End of search/{s/^ //p}')
fi

out=$(
  { [ ${#host_files[@]} -eq 0 ] || printf '%s\n' "${host_files[@]}" |
      xargs -P "$(nproc)" -n 4 clang-tidy-14 --quiet -p build/host --header-filter="$filter"; } 2>/dev/null
  { [ ${#fuzz_files[@]} -eq 0 ] || printf '%s\n' "${fuzz_files[@]}" |
      xargs -P "$(nproc)" -n 4 clang-tidy-14 --quiet -p build/fuzz --header-filter="$filter"; } 2>/dev/null
  { [ ${#win_files[@]} -eq 0 ] || printf '%s\n' "${win_files[@]}" |
      xargs -P "$(nproc)" -n 4 clang-tidy-14 --quiet -p build/win "${win_args[@]}" --header-filter="$filter"; } 2>/dev/null ||
    true)
mapfile -t bad < <(sed -nE "s#^$root/([^:]+):([0-9]+):[0-9]+: warning: invalid case style for ([a-z ]+) '([^']+)'.*#\1:\2: \3 '\4'#p" <<<"$out" | sort -u)
if [ ${#bad[@]} -gt 0 ]; then
  echo "naming: ${#bad[@]} name(s) outside the scheme of .clang-tidy:"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "naming: $checked files in ${#folders[@]} folder(s) follow the naming scheme"

#!/usr/bin/env bash
# Fails, naming the files, when a C or C++ file of the tree differs from what .clang-format makes of it.
# With --fix, rewrites those files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c' '*.hpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
# One clang-format run for the whole tree; its complaints start with the file's path.
mapfile -t differ < <(clang-format --dry-run "${files[@]}" 2>&1 |
  sed -nE 's/^([^:]+):[0-9]+:[0-9]+: (warning|error): code should be clang-formatted.*/\1/p' | sort -u)
if [ ${#differ[@]} -gt 0 ]; then
  echo "format: ${#differ[@]} file(s) differ from .clang-format (scripts/check-format.sh --fix):"
  printf '  %s\n' "${differ[@]}"
  exit 1
fi
echo "format: ${#files[@]} files match .clang-format"

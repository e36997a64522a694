#!/usr/bin/env bash
# Fails when a C++ file differs from what the committed .clang-format makes of it.
# Usage: scripts/check-format.sh   (fix with: clang-format -i FILE...)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
clang-format --version
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "check-format: the files above differ from .clang-format (clang-format -i FILE...)" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"

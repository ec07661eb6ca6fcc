#!/usr/bin/env bash
# Checks that every tracked C++ file is formatted as the checked-in .clang-format says; names
# each file that is not and fails. Fix with `clang-format -i FILE`.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
command -v clang-format >/dev/null || { echo "check-format: clang-format is not installed" >&2; exit 1; }

mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.cc' '*.h' '*.hpp')
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no tracked C++ file found (not a git checkout?)" >&2
  exit 1
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "check-format: the files above differ from .clang-format's layout" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"

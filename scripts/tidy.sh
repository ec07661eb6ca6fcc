#!/usr/bin/env bash
# Runs clang-tidy with the checked-in .clang-tidy on the module's and the host's sources
# (plugin/, host/src/; their headers through the header filter) and fails on any finding.
# Uses the compile commands of the dev build: configure it first (`cmake --preset dev`).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
command -v clang-tidy >/dev/null || { echo "tidy: clang-tidy is not installed" >&2; exit 1; }
build=build/dev
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: $build/compile_commands.json is missing; run 'cmake --preset dev' first" >&2
  exit 1
fi

# The Win32 sources are compiled by the windows preset only, so the dev build has no compile
# command for them.
mapfile -d '' files < <(git ls-files -z -- 'plugin/*.cpp' 'host/src/*.cpp' ':!:*/win32/*')
if [ ${#files[@]} -eq 0 ]; then
  echo "tidy: no source found (not a git checkout?)" >&2
  exit 1
fi
# Every finding is an error, so that clang-tidy's exit status (and xargs') reports it.
if ! printf '%s\0' "${files[@]}" |
  xargs -0 -n 4 -P "$(nproc)" clang-tidy -p "$build" --quiet --warnings-as-errors='*' \
    2> >(grep -v -e '^[0-9]* warnings\? generated\.$' -e '^Suppressed [0-9]* warnings' \
      -e '^Use -header-filter' >&2); then
  echo "tidy: clang-tidy reported the findings above" >&2
  exit 1
fi
echo "tidy: ${#files[@]} sources clean"

#!/usr/bin/env bash
# Fails when `wassetup plan` on stored settings executes more than 1.6 times the instructions
# of the floor: a C++ process that dlopens a one-function module and prints fourteen command
# lines (../shared/perf-floor beside the project, measured with callgrind, so the count does
# not depend on the machine's load). Builds the Release tool and module first. Without the
# floor's folder the check says so and passes: there is nothing to compare with.
#
# Usage: scripts/startup-check.sh [LIMIT]   LIMIT: the largest ratio accepted (default 1.6)
set -euo pipefail
cd "$(dirname "$0")/.."

limit=${1:-1.6}
floor_script=../shared/perf-floor/measure.sh
if [[ ! -x "$floor_script" ]]; then
  echo "startup-check: $floor_script is absent: no floor to compare with, check skipped"
  exit 0
fi
scripts/install-deps.sh valgrind
start=$SECONDS
cmake --preset release >/dev/null
cmake --build --preset release --target wassetup QimPlugIn
echo "release build: $((SECONDS - start))s"

line=$("$floor_script" "$PWD/build/release/bin/wassetup" 2>/dev/null)
echo "$line"
ratio=$(sed -n 's/.*ratio \([0-9.]*\);.*/\1/p' <<<"$line")
if [[ -z "$ratio" ]]; then
  echo "startup-check: no ratio in the measurement's output" >&2
  exit 1
fi
if awk -v r="$ratio" -v l="$limit" 'BEGIN { exit !(r > l) }'; then
  echo "startup-check: wassetup plan executes $ratio times the floor's instructions, more than $limit;" \
    "see bench/README.md for where they usually go" >&2
  exit 1
fi
echo "startup-check: ratio $ratio, at most $limit"

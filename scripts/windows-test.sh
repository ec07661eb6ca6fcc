#!/usr/bin/env bash
# Cross-builds the host library, the module and their test programs for 64-bit Windows (the
# `windows` preset: mingw-w64 with posix threads) and runs the tests under Wine. The first run
# makes the Wine prefix (WINEPREFIX, by default under $XDG_CACHE_HOME), which later runs reuse.
# Its last line is `windows: N tests passed, N failed, N skipped under Wine`.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64

export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/qimplugin/wine-prefix}"

cmake --preset windows
cmake --build --preset windows

# Makes the prefix if there is none yet and starts the Wine server that every test program of
# the run then reuses (cmake/wine-run.sh keeps it up until a minute after the last one).
cmake/wine-run.sh cmd /c exit 0

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --preset windows 2>&1 | tee "$log" || status=$?

total=$(sed -n 's/.*tests failed out of \([0-9][0-9]*\).*/\1/p' "$log" | tail -1)
failed=$(sed -n 's/.*, \([0-9][0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
skipped=$(grep -c '(Skipped)$' "$log" || true)
if [ -z "$total" ]; then
  echo "windows: the tests did not run (see above)"
  exit 1
fi
echo "windows: $((total - failed - skipped)) tests passed, $failed failed, $skipped skipped under Wine"
exit "$status"

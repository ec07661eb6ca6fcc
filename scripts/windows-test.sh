#!/usr/bin/env bash
# Cross-builds the tool, the host library, the module and their test programs for 64-bit
# Windows (the `windows` preset: mingw-w64 with posix threads) and checks them under Wine:
#   1. the test suite (ctest --preset windows);
#   2. the Linux and the Windows builds print the same for the same settings file
#      (tests/windows/compare_with_linux.sh; builds the Linux tool of the `dev` preset);
#   3. the ZIP wassetup-VERSION-win64.zip, unpacked anywhere, and the installer
#      wassetup-VERSION-win64.exe, installed silently anywhere, plan the deployment, and the
#      silent uninstaller takes away what was installed (tests/windows/package_test.sh);
#   4. the setup dialog served by wassetup-ui.exe passes the browser tests
#      (scripts/browser-test.sh --windows: Chromium on Linux, the server under Wine) and the
#      Linux dialog's access and load checks (the dev build's DialogServerTest cases, with
#      WASSETUP_UI_EXE naming wassetup-ui.exe).
# The first run makes the Wine prefix (WINEPREFIX, by default under $XDG_CACHE_HOME), which
# later runs reuse; one Wine server serves the whole run. Fails when any part fails. Its last
# line is `windows: N tests passed, N failed, N skipped under Wine; ...; Ns`.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 jq unzip nsis

export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/qimplugin/wine-prefix}"

cmake --preset windows
cmake --build --preset windows
# The Linux tool to compare with, its module and the test program that checks the dialog
# server from outside, from the dev build. Built before any Windows program runs, so that the
# Wine server stays warm from the first to the last.
cmake --preset dev >/dev/null
cmake --build --preset dev --target wassetup QimPlugIn tool_tests

# Makes the prefix if there is none yet and starts the Wine server that every program of the
# run then reuses (cmake/wine-run.sh keeps it up until a minute after the last one). Wine's
# own background programs start here, and get no stream of this script to hold open.
cmake/wine-run.sh cmd /c exit 0 </dev/null >/dev/null 2>&1

scratch=$(mktemp -d "${TMPDIR:-/tmp}/windows-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
log=$scratch/ctest.log
status=0
ctest --preset windows 2>&1 | tee "$log" || status=$?

total=$(sed -n 's/.*tests failed out of \([0-9][0-9]*\).*/\1/p' "$log" | tail -1)
failed=$(sed -n 's/.*, \([0-9][0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
skipped=$(grep -c '(Skipped)$' "$log" || true)
if [ -z "$total" ]; then
  echo "windows: the tests did not run (see above)"
  exit 1
fi

compared=passed
tests/windows/compare_with_linux.sh "$PWD/build/dev/bin/wassetup" \
  "$PWD/build/windows/bin/wassetup.exe" "$scratch/compare" || { compared=FAILED; status=1; }
packaged=passed
tests/windows/package_test.sh build/windows "$scratch/package" || { packaged=FAILED; status=1; }
dialog=passed
scripts/browser-test.sh --windows || { dialog=FAILED; status=1; }
WASSETUP_UI_EXE="$PWD/build/windows/bin/wassetup-ui.exe" build/dev/bin/tool_tests \
  --gtest_filter='DialogServerTest.*' || { dialog=FAILED; status=1; }

echo "windows: $((total - failed - skipped)) tests passed, $failed failed, $skipped skipped" \
  "under Wine; Linux comparison $compared; packages $packaged; dialog $dialog; $((SECONDS - start))s"
exit "$status"

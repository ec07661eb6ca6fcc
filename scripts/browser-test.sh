#!/usr/bin/env bash
# The setup dialog of `wassetup ui` in a real browser. Installs what is missing (Debian's
# Chromium and cpp-httplib; playwright-core from npm into tests/browser), builds wassetup,
# serves the dialog on a free port with a fresh preference folder and a fake Java launcher, as
# an operator does (it opens the browser: a fake xdg-open notes the entry page it is given),
# runs tests/browser with headless Chromium on that page, and stops the server with SIGINT. The last line
# is "browser: N passed, N failed".
# With --windows the server is the Windows build (wassetup-ui.exe of the `windows` preset, which
# `wassetup.exe ui` hands over to; run directly, so that SIGINT, which Wine turns into Ctrl+C,
# reaches the server itself) under Wine, which names the scratch folder Z:\...: the shell's
# "open" of its entry page reaches the fake xdg-open through Wine's browser bridge (as a
# file:// address), its Java launcher is a batch script, and Chromium on Linux talks to it over
# loopback.
# Usage: scripts/browser-test.sh [--screenshots] [--windows]
#   --screenshots  write the screenshots into docs/screenshots/ (else build/browser-screenshots/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

screenshots="$root/build/browser-screenshots"
windows=false
for option in "$@"; do
  case $option in
    --screenshots) screenshots="$root/docs/screenshots" ;;
    --windows) windows=true ;;
    *) echo "usage: scripts/browser-test.sh [--screenshots] [--windows]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh chromium fonts-dejavu-core
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  scripts/install-deps.sh nodejs npm
fi
if [ "$(node -p 'Number(process.versions.node.split(".")[0])')" -lt 20 ]; then
  echo "browser-test: playwright-core needs Node.js 20 or later; this is $(node --version)" >&2
  exit 1
fi
# npm ci when the packages are missing or the lock file changed since they were installed.
if [ ! -f tests/browser/node_modules/.package-lock.json ] ||
  [ tests/browser/package-lock.json -nt tests/browser/node_modules/.package-lock.json ]; then
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
fi

if $windows; then
  scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64
  export WINEDEBUG=-all
  export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/qimplugin/wine-prefix}"
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target wassetup-ui
else
  cmake --preset dev >/dev/null
  cmake --build --preset dev --target wassetup
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/wassetup-browser.XXXXXX")
server=""
stop_server() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill -INT "$server"
    wait "$server" || true
  fi
}
cleanup() {
  stop_server || true
  rm -rf "$work"
}
trap cleanup EXIT

# The deployment runs this launcher: it writes each argument on a line of java.log and fails
# when one of them equals the line in fail-on (which the tests write and remove).
mkdir -p "$work/prefs" "$work/scripts"
cat >"$work/fake-java" <<'EOF'
#!/bin/sh
dir=$(dirname "$0")
for a in "$@"; do printf '%s\n' "$a"; done >>"$dir/java.log"
echo '--' >>"$dir/java.log"
[ -f "$dir/fail-on" ] || exit 0
failOn=$(cat "$dir/fail-on")
for a in "$@"; do
  [ "$a" = "$failOn" ] && { echo "broke on $a" >&2; exit 3; }
done
exit 0
EOF
# xdg-open as the server runs it: its one argument is the entry page, which the tests open.
mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<'EOF'
#!/bin/sh
printf '%s\n' "$1" >"$(dirname "$0")/opened"
EOF
for file in fake-java bin/xdg-open scripts/QIMFilesCp.bat scripts/QIMDBSetup.bat; do
  [ -f "$work/$file" ] || printf '#!/bin/sh\nexit 0\n' >"$work/$file"
  chmod 700 "$work/$file"
done

# The same launcher and scripts for the Windows build, as batch scripts. Each argument is
# written with "echo.", which Wine's cmd understands (it prints the "(" of "echo(").
on_server() { if $windows; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi; }
java="$work/fake-java"
if $windows; then
  java="$work/fake-java.bat"
  sed 's/$/\r/' >"$java" <<'EOF'
@echo off
setlocal
set "log=%~dp0java.log"
set "failOn="
if exist "%~dp0fail-on" set /p failOn=<"%~dp0fail-on"
set status=0
:next
if "%~1"=="" goto done
>>"%log%" echo.%~1
if defined failOn if "%~1"=="%failOn%" (
  >&2 echo broke on %~1
  set status=3
)
shift
goto next
:done
>>"%log%" echo --
exit /b %status%
EOF
  for script in QIMFilesCp.bat QIMDBSetup.bat; do
    printf '@exit /b 0\r\n' >"$work/scripts/$script"
  done
  cmake/wine-run.sh cmd /c exit 0 </dev/null >/dev/null 2>&1
fi

started=$(date +%s)
if $windows; then
  PATH="$work/bin:$PATH" cmake/wine-run.sh build/windows/bin/wassetup-ui.exe --prefs-dir "$(on_server "$work/prefs")" ui --port 0 \
    --java "$(on_server "$java")" --script-dir "$(on_server "$work/scripts")" \
    </dev/null >"$work/server.out" 2>"$work/server.err" &
else
  PATH="$work/bin:$PATH" TMPDIR="$work" build/dev/bin/wassetup --prefs-dir "$work/prefs" ui \
    --port 0 --java "$java" --script-dir "$work/scripts" >"$work/server.out" 2>"$work/server.err" &
fi
server=$!
origin=""
entry=""
for _ in $(seq 1 300); do
  origin=$(grep -os 'http://127\.0\.0\.1:[0-9]*' "$work/server.out" || true)
  if [ -f "$work/bin/opened" ]; then
    entry=$(cat "$work/bin/opened")
    entry=${entry#file://}
  fi
  [ -n "$origin" ] && [ -n "$entry" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$origin" ] || [ -z "$entry" ]; then
  echo "browser-test: wassetup ui printed no address or opened no entry page" >&2
  cat "$work/server.out" "$work/server.err" >&2
  exit 1
fi
echo "browser-test: serving at $origin" >&2

set +e
drive=""
$windows && drive=Z:
(cd tests/browser && WASSETUP_UI_ENTRY="file://$entry" WASSETUP_UI_ORIGIN="$origin" WASSETUP_WORK_DIR="$work" \
  WASSETUP_SERVER_DRIVE="$drive" SCREENSHOT_DIR="$screenshots" node --test dialog.test.mjs) 2>&1 |
  tee "$work/tests.log"
tests_status=${PIPESTATUS[0]}
set -e

# The server must stop cleanly on SIGINT, with status 0.
kill -INT "$server"
set +e
wait "$server"
server_status=$?
set -e
server=""
# Node's summary: "# pass N" (TAP, when its output is not a terminal) or "ℹ pass N".
passed=$(sed -n 's/^\(#\|ℹ\) pass \([0-9]*\)$/\2/p' "$work/tests.log" | tail -1)
failed=$(sed -n 's/^\(#\|ℹ\) fail \([0-9]*\)$/\2/p' "$work/tests.log" | tail -1)
passed=${passed:-0}
failed=${failed:-0}
if [ "$server_status" -ne 0 ]; then
  echo "browser-test: wassetup ui exited with status $server_status on SIGINT" >&2
  failed=$((failed + 1))
fi
if [ "$tests_status" -ne 0 ] || [ "$failed" -ne 0 ]; then
  echo "---- wassetup ui stderr ----" >&2
  cat "$work/server.err" >&2
  [ "$failed" -ne 0 ] || failed=1
fi
echo "browser-test: $(($(date +%s) - started)) s with the server; screenshots in ${screenshots#"$root"/}" >&2
echo "browser: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

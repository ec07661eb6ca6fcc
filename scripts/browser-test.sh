#!/usr/bin/env bash
# The setup dialog of `wassetup ui` in a real browser. Installs what is missing (Debian's
# Chromium and cpp-httplib; playwright-core from npm into tests/browser), builds wassetup,
# serves the dialog on a free port with a fresh preference folder and a fake Java launcher, as
# an operator does (it opens the browser: a fake xdg-open notes the entry page it is given),
# runs tests/browser with headless Chromium on that page, and stops the server with SIGINT. The last line
# is "browser: N passed, N failed".
# Usage: scripts/browser-test.sh [--screenshots]
#   --screenshots  write the screenshots into docs/screenshots/ (else build/browser-screenshots/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

screenshots="$root/build/browser-screenshots"
if [ "${1:-}" = "--screenshots" ]; then
  screenshots="$root/docs/screenshots"
fi

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

cmake --preset dev >/dev/null
cmake --build --preset dev --target wassetup

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

started=$(date +%s)
PATH="$work/bin:$PATH" TMPDIR="$work" build/dev/bin/wassetup --prefs-dir "$work/prefs" ui --port 0 \
  --java "$work/fake-java" --script-dir "$work/scripts" >"$work/server.out" 2>"$work/server.err" &
server=$!
origin=""
entry=""
for _ in $(seq 1 100); do
  origin=$(grep -o 'http://127\.0\.0\.1:[0-9]*' "$work/server.out" || true)
  [ -f "$work/bin/opened" ] && entry=$(cat "$work/bin/opened")
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
(cd tests/browser && WASSETUP_UI_ENTRY="file://$entry" WASSETUP_UI_ORIGIN="$origin" WASSETUP_WORK_DIR="$work" \
  SCREENSHOT_DIR="$screenshots" node --test dialog.test.mjs) 2>&1 |
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

#!/usr/bin/env bash
# Runs wassetup (the dev build) under valgrind's memcheck on a fresh preference folder: the main
# job "plan", then "show --json", "set", "validate" and "plan --json" on what "set" stored.
# Fails on any memory error and on any definitely lost byte; what is still reachable at exit
# (the loaded module, the caches of the host) does not count.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v valgrind >/dev/null; then
  echo "memcheck: valgrind is not installed (apt-get install valgrind)" >&2
  exit 2
fi

start=$SECONDS
cmake --preset dev >/dev/null
cmake --build --preset dev --target wassetup
echo "dev build: $((SECONDS - start))s"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/wassetup-memcheck.XXXXXX")
keep=0
cleanup() {
  if [ "$keep" = 0 ]; then
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT
tool="$PWD/build/dev/bin/wassetup"
prefs="$scratch/prefs"
runtime="$scratch/runtime"
mkdir -p "$prefs" "$runtime"

status=0
runs=0
# check NAME ARGS...: runs wassetup ARGS... under memcheck in the scratch folder. Every run must
# exit with 0; memcheck's exit status 1 is told from the tool's own by the error summary.
check() {
  local name="$1"
  shift
  local log="$scratch/$name.valgrind" out="$scratch/$name.out" started=$SECONDS actual=0
  runs=$((runs + 1))
  (cd "$scratch" && valgrind --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite --error-exitcode=1 --log-file="$log" \
    "$tool" --prefs-dir "$prefs" "$@" >"$out" 2>&1) || actual=$?
  local errors
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -n 1)
  if [ "${errors:-unknown}" != 0 ]; then
    status=1
    keep=1
    echo "$name: memcheck reports ${errors:-no summary (did valgrind run?)} errors ($log):"
    grep -v '^==[0-9]*== *$' "$log" | tail -n 80
  elif [ "$actual" != 0 ]; then
    status=1
    keep=1
    echo "$name: wassetup exited with $actual; the end of its output ($out):"
    tail -n 20 "$out"
  else
    printf '%-10s clean  %3ss  wassetup %s\n' "$name" "$((SECONDS - started))" "$*"
  fi
}

# A fresh folder: the plan comes from the installation defaults.
check plan plan
check show show --json
# Every required field filled and an existing run-time folder, so that validation passes.
check set set "qimdirrt=$runtime" databasePassword=secret mqpass=secret \
  smtp=mail.example.com nuvserver=nav.example.com qimip=10.0.0.1 nuvip=10.0.0.2 fmcip=10.0.0.3 \
  databaseName=QIMDB databaseHost=localhost databasePort=50000 databaseUser=db2admin \
  jndiName=jdbc/QIM qimdir=/opt/qim nuvdir=/opt/nuv mqsdir=/opt/mqm mqscfg=FMC mquser=mqm \
  waittime=30 qimmq=QIM.Q qimdlq=QIM.DLQ qimport=1414 nuvmq=NUV.Q nuvdlq=NUV.DLQ \
  nuvmqport=1415 fmcport=5010
check validate validate
check plan-json plan --json

if [ "$status" != 0 ]; then
  echo "memcheck: FAILED (kept $scratch)"
else
  echo "memcheck: all $runs runs clean in $((SECONDS - start))s"
fi
exit "$status"

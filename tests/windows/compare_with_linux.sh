#!/usr/bin/env bash
# The Windows build prints what the Linux build prints for the same settings: `plan`,
# `plan --json`, `get --json`, `show --json`, `validate` and `validate --json`, stdout, stderr
# and exit status alike. Both run on one preference file, copied from one to the other: the
# Linux build stores settings (values outside ASCII, a backslash path, a secret) and the
# Windows build reads them; then the Windows build stores a change that the Linux build reads.
# Only what is each system's own by design is left out: the command lines of the plan, which
# each build quotes for its own shell (the argument vectors are compared in `plan --json`).
# The Windows program runs under Wine (cmake/wine-run.sh).
#
# Usage: compare_with_linux.sh LINUX_WASSETUP WINDOWS_WASSETUP_EXE SCRATCH_DIR
set -euo pipefail
linux=$1
windows=$2
scratch=$3
wine_run="$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run.sh"
# Wine reads the arguments and the file names in the locale's encoding.
export LC_ALL=C.UTF-8

rm -rf "$scratch"
mkdir -p "$scratch/linux/prefs" "$scratch/linux/runtime" "$scratch/windows/prefs" \
  "$scratch/windows/runtime"

# run SYSTEM ARGS...: the build of SYSTEM in its folder, on its own copy of the settings;
# stdout, stderr and the status into SYSTEM.out, .err, .status.
run() {
  local system=$1 status=0
  shift
  if [ "$system" = linux ]; then
    (cd "$scratch/linux" && "$linux" --prefs-dir prefs "$@") >"$scratch/linux.out" \
      2>"$scratch/linux.err" || status=$?
  else
    (cd "$scratch/windows" && "$wine_run" "$windows" --prefs-dir prefs "$@") \
      >"$scratch/windows.out" 2>"$scratch/windows.err" || status=$?
  fi
  echo "$status" >"$scratch/$system.status"
}

# What each build's plan shows of a command line: the line itself is the build's own.
without_lines() {
  sed -E 's/^(  [0-9]+\. [A-Za-z0-9_]+:) .*/\1/' "$1"
}

failures=0
compared=0
# compare ARGS...: runs both builds and fails on any difference.
compare() {
  run linux "$@"
  run windows "$@"
  compared=$((compared + 1))
  local kind
  for kind in out err status; do
    local left="$scratch/linux.$kind" right="$scratch/windows.$kind"
    if [ "$kind $*" = "out plan" ]; then
      without_lines "$left" >"$left.cmp" && without_lines "$right" >"$right.cmp"
      left=$left.cmp right=$right.cmp
    elif [ "$kind $*" = "out plan --json" ]; then
      jq 'del(.commands[].line)' "$left" >"$left.cmp" && jq 'del(.commands[].line)' "$right" >"$right.cmp"
      left=$left.cmp right=$right.cmp
    fi
    if ! diff -u --label "linux: wassetup $* ($kind)" --label "windows: wassetup $* ($kind)" \
      "$left" "$right"; then
      failures=$((failures + 1))
    fi
  done
}

# Stored by Linux, read by Windows.
run linux set 'qimdirrt=runtime' 'qimdir=D:\QIM ✓\é' 'smtp=mäil.例え.com' nuvserver=nuv \
  qimip=10.0.0.1 nuvip=10.0.0.2 fmcip=10.0.0.3 'mqpass=mq pw' 'databasePassword=db&pw%x'
[ "$(cat "$scratch/linux.status")" = 0 ] || { cat "$scratch/linux.err" >&2; exit 1; }
cp "$scratch/linux/prefs/QIMSetup.prefs" "$scratch/windows/prefs/"
for command in plan 'plan --json' 'get --json' 'show --json' validate 'validate --json'; do
  # shellcheck disable=SC2086 # the words of the command
  compare $command
done
# Both hide the secrets alike, and show them alike when asked.
compare --show-secrets get --json

# Stored by Windows, read by Linux.
run windows set 'smtp=ünï ✓' 'nuvserver=C:\NUV server'
[ "$(cat "$scratch/windows.status")" = 0 ] || { cat "$scratch/windows.err" >&2; exit 1; }
cp "$scratch/windows/prefs/QIMSetup.prefs" "$scratch/linux/prefs/"
compare get --json
compare validate

if [ "$failures" -ne 0 ]; then
  echo "compare_with_linux: $failures differences in $compared commands (see above)" >&2
  exit 1
fi
echo "compare_with_linux: $compared commands print the same on Linux and on Windows"

#!/bin/sh
# Runs a Windows program under Wine: the emulator through which CTest runs the tests of the
# cross build (CMAKE_CROSSCOMPILING_EMULATOR). Usage: wine-run.sh PROGRAM.exe [ARG...]
#
# Quiet (WINEDEBUG=-all), in a Wine prefix kept between runs (WINEPREFIX, by default under
# $XDG_CACHE_HOME), which the first run makes once (about half a minute), and with a
# wineserver that outlives each program: starting one costs seconds, reusing it a tenth of one.
# scripts/windows-test.sh keeps one server up for a whole run; when none is up, this starts
# one that stays for a minute after the last program.
set -eu

: "${WINEDEBUG:=-all}"
: "${WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/qimplugin/wine-prefix}"
export WINEDEBUG WINEPREFIX

# Wine's 64-bit loader itself: Debian's `wine` script looks for the 32-bit one first.
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # One process makes the prefix; the others started meanwhile wait for it.
  flock "$WINEPREFIX.lock" sh -c '
    [ -f "$WINEPREFIX/system.reg" ] || { "$1" wineboot --init && wineserver --wait; }
  ' sh "$wine" >/dev/null 2>&1
fi
wineserver --persistent=60 </dev/null >/dev/null 2>&1 || true
exec "$wine" "$@"

#!/usr/bin/env bash
# Packs the Windows build into its ZIP (cpack -G ZIP) and checks it: named
# wassetup-VERSION-win64.zip, holding exactly the installation's layout at its top (the tool,
# zafhost.dll and the C++ runtime in bin\, the module in lib\qim\, the catalogs in
# share\qim\catalogs\, the README); unpacked into a folder whose name holds a blank and a
# letter outside ASCII, its wassetup.exe plans the deployment with no option but the
# preference folder, run under Wine from another current folder.
#
# Usage: zip_test.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$2
wine_run="$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run.sh"
export LC_ALL=C.UTF-8

fail() {
  echo "zip_test: $*" >&2
  exit 1
}

rm -rf "$scratch"
mkdir -p "$scratch/package" "$scratch/elsewhere"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
(cd "$build" && cpack -G ZIP -B "$scratch/package") >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack -G ZIP failed"; }
zip="$scratch/package/wassetup-$version-win64.zip"
[ -f "$zip" ] || { ls "$scratch/package" >&2; fail "no $(basename "$zip")"; }

expected="README.md
bin/libgcc_s_seh-1.dll
bin/libstdc++-6.dll
bin/libwinpthread-1.dll
bin/wassetup.exe
bin/zafhost.dll
lib/qim/QimPlugIn.dll
share/qim/catalogs/QimDefaults.cat
share/qim/catalogs/QimSetupPlugIn.cat"
actual=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
if [ "$actual" != "$expected" ]; then
  diff -u --label expected --label "$(basename "$zip")" <(echo "$expected") <(echo "$actual") >&2 || true
  fail "the ZIP does not hold the installation's layout"
fi

unpacked="$scratch/unpacked wassetup é"
unzip -q "$zip" -d "$unpacked"
status=0
(cd "$scratch/elsewhere" && "$wine_run" "$unpacked/bin/wassetup.exe" --prefs-dir prefs plan) \
  >"$scratch/plan.out" 2>"$scratch/plan.err" || status=$?
[ "$status" -eq 0 ] || { cat "$scratch/plan.err" >&2; fail "wassetup.exe plan exited with $status"; }
[ ! -s "$scratch/plan.err" ] || { cat "$scratch/plan.err" >&2; fail "wassetup.exe plan warned"; }
grep -Eq '^Commands \((13|14)\):$' "$scratch/plan.out" ||
  { cat "$scratch/plan.out" >&2; fail "the plan does not list 13 or 14 commands"; }
# The shipped defaults were read: the database name comes from the unpacked catalog.
grep -q 'DatabaseName: QIMDB' "$scratch/plan.out" ||
  { cat "$scratch/plan.out" >&2; fail "the unpacked catalogs were not read"; }
echo "zip_test: $(basename "$zip") ($(du -k "$zip" | cut -f1) KiB) unpacked into '$(basename "$unpacked")' plans $(grep -Eo '\((13|14)\)' "$scratch/plan.out") commands"

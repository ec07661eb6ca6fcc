#!/usr/bin/env bash
# Packs the Windows build into its ZIP and its installer (cpack -G "ZIP;NSIS") and checks both
# under Wine. The ZIP, wassetup-VERSION-win64.zip, holds exactly the installation's layout at
# its top (the tool and its dialog server, zafhost.dll and the C++ runtime in bin\, the module in lib\qim\, the
# catalogs in share\qim\catalogs\, the README). The installer, wassetup-VERSION-win64.exe,
# run silently (/S /D=FOLDER) lays out the same files and its Uninstall.exe; it puts the bin
# folder on the system PATH only when /ADD_TO_PATH asks, and the silent uninstaller takes away
# all it installed, the PATH entry included. Unpacked or installed into a folder whose name
# holds a blank and a letter outside ASCII, wassetup.exe plans the deployment with no option
# but the preference folder, run from another current folder.
#
# Usage: package_test.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$2
wine_run="$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run.sh"
export LC_ALL=C.UTF-8

fail() {
  echo "package_test: $*" >&2
  exit 1
}

rm -rf "$scratch"
mkdir -p "$scratch/package" "$scratch/elsewhere"
scratch=$(cd "$scratch" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
(cd "$build" && cpack -G "ZIP;NSIS" -B "$scratch/package") >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
zip="$scratch/package/wassetup-$version-win64.zip"
installer="$scratch/package/wassetup-$version-win64.exe"
for package in "$zip" "$installer"; do
  [ -f "$package" ] || { ls "$scratch/package" >&2; fail "no $(basename "$package")"; }
done

layout="README.md
bin/libgcc_s_seh-1.dll
bin/libstdc++-6.dll
bin/libwinpthread-1.dll
bin/wassetup-ui.exe
bin/wassetup.exe
bin/zafhost.dll
lib/qim/QimPlugIn.dll
share/qim/catalogs/QimDefaults.cat
share/qim/catalogs/QimSetupPlugIn.cat"

# same_files WHAT EXPECTED ACTUAL: fails, showing the difference, unless the lists are equal.
same_files() {
  [ "$2" = "$3" ] && return
  diff -u --label expected --label "$1" <(echo "$2") <(echo "$3") >&2 || true
  fail "$1 does not hold the installation's layout"
}

# plans FOLDER: the wassetup.exe in FOLDER\bin plans the deployment from the shipped defaults.
plans() {
  local status=0
  (cd "$scratch/elsewhere" && "$wine_run" "$1/bin/wassetup.exe" --prefs-dir prefs plan) \
    >"$scratch/plan.out" 2>"$scratch/plan.err" || status=$?
  [ "$status" -eq 0 ] || { cat "$scratch/plan.err" >&2; fail "$1: plan exited with $status"; }
  [ ! -s "$scratch/plan.err" ] || { cat "$scratch/plan.err" >&2; fail "$1: plan warned"; }
  grep -Eq '^Commands \((13|14)\):$' "$scratch/plan.out" ||
    { cat "$scratch/plan.out" >&2; fail "$1: the plan does not list 13 or 14 commands"; }
  # The database name comes from the shipped catalog.
  grep -q 'DatabaseName: QIMDB' "$scratch/plan.out" ||
    { cat "$scratch/plan.out" >&2; fail "$1: the shipped catalogs were not read"; }
}

same_files "$(basename "$zip")" "$layout" "$(unzip -Z1 "$zip" | grep -v '/$' | sort)"
unzip -q "$zip" -d "$scratch/unpacked wassetup é"
plans "$scratch/unpacked wassetup é"

# The system PATH as the registry holds it.
system_path() {
  "$wine_run" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
    /v PATH 2>/dev/null | tr -d '\r'
}

# quietly PROGRAM ARG...: runs PROGRAM under Wine, showing its stderr only when it fails (the
# installer's complaints about Wine's drive Z: are noise).
quietly() {
  "$wine_run" "$@" 2>"$scratch/wine.err" || { cat "$scratch/wine.err" >&2; return 1; }
}

# windows_path PATH: PATH on Wine's drive Z:.
windows_path() {
  echo "Z:${1//\//\\}"
}

# A run stopped between an install and its uninstall leaves the installation registered in the
# cached prefix, its folder gone with that run's scratch folder; the installer would then run
# the missing uninstaller, fail and stop ("Uninstall failed.", exit status 2).
for key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\wassetup' \
  'HKLM\Software\QimPlugIn'; do
  "$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true
done

for option in "" /ADD_TO_PATH; do
  folder="$scratch/installed wassetup é${option:+ on PATH}"
  # /D= comes last and unquoted, blanks and all: cmd hands the line over as it is, where Wine
  # would quote an argument that holds a blank.
  quietly cmd /c "$(windows_path "$installer") /S $option /D=$(windows_path "$folder")" ||
    fail "the installer $option failed"
  same_files "the folder installed $option" "$(printf '%s\nUninstall.exe\n' "$layout" | sort)" \
    "$(cd "$folder" && find . -type f | sed 's|^\./||' | sort)"
  plans "$folder"
  # reg prints in the console's code page: the folder's ASCII part is enough.
  on_path=no
  grep -qF "$(windows_path "$scratch")\\installed wassetup" <<<"$(system_path)" && on_path=yes
  [ "$on_path" = "$([ -n "$option" ] && echo yes || echo no)" ] ||
    fail "installed with '$option', the bin folder on the system PATH: $on_path"

  # The uninstaller runs on from a copy of itself: wait for the folder to go.
  quietly "$folder/Uninstall.exe" /S || fail "the uninstaller $option failed"
  for _ in $(seq 100); do
    [ -e "$folder" ] || break
    sleep 0.3
  done
  [ ! -e "$folder" ] || { find "$folder" >&2; fail "the uninstaller $option left files"; }
  ! grep -qF "$(windows_path "$scratch")\\installed wassetup" <<<"$(system_path)" ||
    fail "the uninstaller $option left the bin folder on the system PATH"
done
echo "package_test: $(basename "$zip") and $(basename "$installer") install, plan and uninstall"

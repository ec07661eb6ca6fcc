#!/bin/sh
# Installs the build into a scratch prefix and runs the installed wassetup from another folder,
# with no option but the preference folder: it must find its module, libzafhost and catalogs
# relative to its own location, and plan the deployment.
# Usage: install_test.sh CMAKE BUILD_DIR SCRATCH_DIR
set -eu
cmake=$1
build=$2
scratch=$3

rm -rf "$scratch"
mkdir -p "$scratch/elsewhere"
prefix=$scratch/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 || {
  cat "$scratch/install.log" >&2
  echo "install_test: cmake --install failed" >&2
  exit 1
}

fail() {
  echo "install_test: $*" >&2
  exit 1
}

[ -x "$prefix/bin/wassetup" ] || fail "bin/wassetup is not installed"
ls "$prefix"/lib*/qim/QimPlugIn.so "$prefix"/lib*/*/qim/QimPlugIn.so 2>/dev/null | grep -q . ||
  fail "the module is not installed below lib"
ls "$prefix"/lib*/libzafhost.so* "$prefix"/lib*/*/libzafhost.so* 2>/dev/null | grep -q . ||
  fail "libzafhost is not installed below lib"
for catalog in QimSetupPlugIn.cat QimDefaults.cat; do
  [ -f "$prefix/share/qim/catalogs/$catalog" ] || fail "share/qim/catalogs/$catalog is missing"
done

# Nothing installed may point back into the build folder.
if command -v readelf >/dev/null 2>&1; then
  for binary in "$prefix/bin/wassetup" $(ls "$prefix"/lib*/qim/*.so "$prefix"/lib*/*/qim/*.so 2>/dev/null); do
    if readelf -d "$binary" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
      fail "$binary keeps a run path into the build folder"
    fi
  done
fi

cd "$scratch/elsewhere"
status=0
env -u LD_LIBRARY_PATH -u YTQ_RT_OUT "$prefix/bin/wassetup" --prefs-dir "$prefix/prefs" plan \
  >"$scratch/plan.out" 2>"$scratch/plan.err" || status=$?
[ "$status" -eq 0 ] || { cat "$scratch/plan.err" >&2; fail "wassetup plan exited with $status"; }
[ ! -s "$scratch/plan.err" ] || { cat "$scratch/plan.err" >&2; fail "wassetup plan warned"; }
grep -Eq '^Commands \((13|14)\):$' "$scratch/plan.out" ||
  { cat "$scratch/plan.out" >&2; fail "the plan does not list 13 or 14 commands"; }
# The shipped defaults were read: the database name comes from the installed catalog.
grep -q 'DatabaseName: QIMDB' "$scratch/plan.out" ||
  { cat "$scratch/plan.out" >&2; fail "the installed catalogs were not read"; }
echo "install_test: installed wassetup planned $(grep -Eo '\((13|14)\)' "$scratch/plan.out") commands"

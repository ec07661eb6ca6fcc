#!/bin/sh
# The module exports exactly the factory, the marker and the class QimSetupPlugIn.
# Usage: check_exports.sh MODULE
#
# Two kinds of weak symbols come from the toolchain, not from the module's code, and are left
# out of the check:
# - out-of-line copies of standard-library templates (namespaces std and __gnu_cxx), which
#   libstdc++ declares with default visibility and unoptimised (Debug) builds keep;
# - the type information of function types ("typeinfo for int ()"), which clang emits for
#   -fsanitize=function: a call through a function pointer into the module is checked against
#   it, so it has to stay exported for the check to work across modules.
set -eu
own=$(nm -D --defined-only "$1" | awk '
  $2 ~ /^[WVu]$/ && $3 ~ /^(_ZSt|_ZNSt|_ZNKSt|_ZN9__gnu_cxx|_ZNK9__gnu_cxx|_ZT[IS]F)/ { next }
  { print $3 }')
symbols=$(printf '%s\n' "$own" | c++filt)
for name in fctCreateWASSetupUIPlugIn CORVANTA_ZEB2_INTERNAL_QimPlugIn; do
  nm -D --defined-only "$1" | grep -q " T $name\$" || { echo "missing plain export $name"; exit 1; }
done
others=$(printf '%s\n' "$symbols" | grep -v -e '^fctCreateWASSetupUIPlugIn$' \
  -e '^CORVANTA_ZEB2_INTERNAL_QimPlugIn$' -e 'QimSetupPlugIn' -e '^$' || true)
if [ -n "$others" ]; then
  echo "the module exports more than it should:"
  printf '%s\n' "$others"
  exit 1
fi
echo "exports ok"

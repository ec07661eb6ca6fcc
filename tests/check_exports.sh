#!/bin/sh
# The module exports exactly the factory, the marker and the class QimSetupPlugIn.
# Usage: check_exports.sh MODULE
set -eu
symbols=$(nm -DC --defined-only "$1" | sed 's/^[0-9a-f]* [A-Za-z] //')
for name in fctCreateWASSetupUIPlugIn CORVANTA_ZEB2_INTERNAL_QimPlugIn; do
  nm -D --defined-only "$1" | grep -q " T $name\$" || { echo "missing plain export $name"; exit 1; }
done
others=$(printf '%s\n' "$symbols" | grep -v -e '^fctCreateWASSetupUIPlugIn$' \
  -e '^CORVANTA_ZEB2_INTERNAL_QimPlugIn$' -e 'QimSetupPlugIn' || true)
if [ -n "$others" ]; then
  echo "the module exports more than it should:"
  printf '%s\n' "$others"
  exit 1
fi
echo "exports ok"

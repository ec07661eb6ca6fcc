#!/bin/sh
# The Windows module exports exactly the factory, the marker and the class QimSetupPlugIn (its
# members, static data, virtual table and type information): the names of its export table.
# Usage: check_exports_pe.sh OBJDUMP MODULE
set -eu
names=$("$1" -p "$2" | awk '
  /^\[Ordinal\/Name Pointer\] Table/ { listing = 1; next }
  listing && /^[ \t]*\[ *[0-9]+\]/ { print $NF; next }
  listing { listing = 0 }')
for name in fctCreateWASSetupUIPlugIn CORVANTA_ZEB2_INTERNAL_QimPlugIn; do
  printf '%s\n' "$names" | grep -qx "$name" || { echo "missing plain export $name"; exit 1; }
done
others=$(printf '%s\n' "$names" | grep -v -e '^fctCreateWASSetupUIPlugIn$' \
  -e '^CORVANTA_ZEB2_INTERNAL_QimPlugIn$' -e '^_ZN14QimSetupPlugIn' -e '^_ZNK14QimSetupPlugIn' \
  -e '^_ZT[VI]14QimSetupPlugIn$' \
  -e '^$' || true)
if [ -n "$others" ]; then
  echo "the module exports more than it should:"
  printf '%s\n' "$others"
  exit 1
fi
echo "exports ok"

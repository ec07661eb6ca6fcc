#!/usr/bin/env bash
# Quick start: installs what is missing, builds the tool and the module, and runs the main
# job: the deployment plan of wassetup on the shipped catalogs with a fresh preference folder.
# Extra arguments replace the default command ("plan"), for instance: scripts/run.sh show
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target wassetup

prefs=$(mktemp -d "${TMPDIR:-/tmp}/wassetup-prefs.XXXXXX")
echo "Preference folder: $prefs" >&2
[ $# -gt 0 ] || set -- plan
exec build/dev/bin/wassetup --prefs-dir "$prefs" "$@"

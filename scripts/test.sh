#!/usr/bin/env bash
# Builds everything and runs the whole test suite (CTest with GoogleTest).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset dev

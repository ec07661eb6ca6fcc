#!/usr/bin/env bash
# Builds with clang++ under AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole
# test suite there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset asan

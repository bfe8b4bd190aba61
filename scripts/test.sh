#!/usr/bin/env bash
# Installs what is missing, builds everything with the default preset and runs
# the whole test suite (benchmarks excluded).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default

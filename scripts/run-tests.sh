#!/usr/bin/env bash
# Sets everything up and runs every test (program, library, fuzz smoke runs).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cd build
ctest --output-on-failure --parallel "$(nproc)" --timeout 600

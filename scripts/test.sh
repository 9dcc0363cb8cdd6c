#!/usr/bin/env bash
# Sets up, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default
cmake --build --preset default
ctest --preset default -j2
# The Windows DLLs: cross builds, export check, and the 64-bit suite under Wine.
scripts/test-windows.sh

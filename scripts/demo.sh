#!/usr/bin/env bash
# Sets up, builds and runs the demo host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target vantrel_demo vantrel-reg
build/default/examples/vantrel_demo "$@"

#!/usr/bin/env bash
# Sets up, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# With the benchmarks, which the suite runs briefly to keep them working (scripts/bench.sh
# measures).
cmake --preset default -DVANTREL_BUILD_BENCH=ON
cmake --build --preset default
ctest --preset default -j2
# Formatting and clang-tidy.
scripts/lint.sh
# The suite again under AddressSanitizer+UBSan and ThreadSanitizer, the demo under valgrind,
# then each fuzz target for a bounded time (VANTREL_FUZZ_SECONDS, 0 skips fuzzing).
scripts/test-sanitizers.sh
fuzz_seconds="${VANTREL_FUZZ_SECONDS:-45}"
if [ "$fuzz_seconds" -gt 0 ]; then scripts/fuzz.sh "$fuzz_seconds"; fi
# The Windows DLLs: cross builds, export check, and the 64-bit suite under Wine.
scripts/test-windows.sh

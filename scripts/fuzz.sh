#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang with AddressSanitizer and UBSan) and runs
# each for a bounded time from its corpus in fuzz/corpus/<target>. New inputs the fuzzer finds
# go to a scratch folder, not into the repository; a crash leaves its input in build/fuzz/.
# Usage: scripts/fuzz.sh [seconds per target, default 45] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-45}"
shift || true
targets=("$@")
[ $# -gt 0 ] || targets=(reg_file_parser log_first_open bitmap_snapshot)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target "${targets[@]/#/fuzz_}"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-fuzz-XXXXXX")"
trap 'rm -rf "$scratch" /tmp/vantrel-fuzz-files-*' EXIT
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  echo "fuzzing $target for ${seconds}s"
  # -rss_limit_mb: the targets hold at most a few MiB per input; anything more is a fault.
  status=0
  (cd build/fuzz && "./fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=1024 \
    -timeout=10 -print_final_stats=1 "$scratch/$target" "../../fuzz/corpus/$target") \
    >"$scratch/$target.log" 2>&1 || status=$?
  grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)" "$scratch/$target.log" || true
  if [ "$status" -ne 0 ]; then
    tail -60 "$scratch/$target.log" >&2
    echo "fuzz_$target failed (exit $status)" >&2
    exit 1
  fi
done

#!/usr/bin/env bash
# Builds the benchmarks (Release, build/bench) and prints the table of a full run: each case
# beside its comparison from the same run, as medians of the repetitions, and their ratio.
#   scripts/bench.sh                 5 repetitions of every case but the growth curves
#   REPETITIONS=9 scripts/bench.sh   more repetitions (these machines are noisy)
# The growth curves of the default mode are drawn by bench/plot_growth.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# The table is printed by a Python script.
if ! command -v python3 > /dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y python3
fi
cmake --preset bench
cmake --build --preset bench -- -j2
results=build/bench/bench-results.json
threads=build/bench/bench-results-threads.json
run() {
  "$@" --benchmark_repetitions="${REPETITIONS:-5}" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_out_format=json > /dev/null
}
# One thread's cases on one processor, so that moving between processors (and their caches)
# does not blur them; the cases of several threads on all.
last=$(($(nproc) - 1))
run taskset -c "$last" build/bench/bench/vantrel_bench --benchmark_filter='-BM_(Growth|Threads)' \
  --benchmark_out="$results"
run build/bench/bench/vantrel_bench --benchmark_filter='BM_Threads' --benchmark_out="$threads"
echo "medians of ${REPETITIONS:-5} repetitions ($results, $threads):"
python3 bench/ratio_table.py "$results" "$threads"

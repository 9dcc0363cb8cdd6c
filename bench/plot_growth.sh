#!/usr/bin/env bash
# Draws the cost per entry of the default mode against the entries already in the log: the
# full rewrite of every merge, the incremental merge, and spdlog flushed after every message,
# from one run of the growth benchmarks. Writes docs/performance-growth.png (and its data
# beside the build). Uses the Release build in build/bench (or $BENCH_BUILD), making it when
# it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
command -v gnuplot > /dev/null || missing+=(gnuplot-nox)
command -v python3 > /dev/null || missing+=(python3)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
build="${BENCH_BUILD:-build/bench}"
[ -x "$build/bench/vantrel_bench" ] || { cmake --preset bench && cmake --build --preset bench -- -j2; }
results="$build/growth-results.json"
data="$build/growth.dat"
"$build/bench/vantrel_bench" --benchmark_filter=BM_Growth \
  --benchmark_out="$results" --benchmark_out_format=json > /dev/null
python3 - "$results" "$data" <<'PY'
import json, sys
runs = {r["name"].split("/")[0]: r for r in json.load(open(sys.argv[1]))["benchmarks"]}
names = ["BM_Growth_FullRewrite", "BM_Growth_IncrementalMerge", "BM_Growth_SpdlogFlushEach"]
points = sorted({int(k[3:]) for r in runs.values() for k in r if k.startswith("at_")})
with open(sys.argv[2], "w") as out:
    out.write("# entries full_rewrite_us incremental_us spdlog_flush_us\n")
    for n in points:
        cells = []
        for name in names:
            value = runs.get(name, {}).get(f"at_{n}")
            cells.append(f"{value / 1000:.3f}" if value is not None else "NaN")
        out.write(f"{n} {' '.join(cells)}\n")
PY
gnuplot <<GP
set terminal pngcairo size 900,540 font ",11"
set output "docs/performance-growth.png"
set title "Default mode (write immediately): cost per entry as the log grows"
set xlabel "entries already in the log"
set ylabel "microseconds per entry (mean of 500 entries)"
set logscale xy
set grid
set key top left
plot "$data" using 1:2 with linespoints title "full rewrite per merge", \
     "$data" using 1:3 with linespoints title "incremental merge", \
     "$data" using 1:4 with linespoints title "spdlog, flush after every message"
GP
cat "$data"
echo "wrote docs/performance-growth.png"

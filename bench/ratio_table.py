#!/usr/bin/env python3
"""Prints the table of a vantrel_bench run: each case beside its comparison from the same run,
as medians of the repetitions, and their ratio.

usage: ratio_table.py results.json [more-results.json ...]
"""
import json
import sys

# case, vantrel benchmark, comparison benchmark, what is compared, target (or None). A time
# ratio meets its target at or below it, a throughput ratio at or above it. "cpu" is the
# process's CPU time per iteration (user and system), which other work on a shared machine
# inflates far less than the wall time ("time"); the cases that time themselves and the
# throughput of several threads use the wall time.
PAIRS = [
    ("default mode: entry vs spdlog \"%v\" flush each", "BM_DefaultEntry_Vantrel",
     "BM_DefaultEntry_SpdlogFlushEach", "cpu", 1.0),
    ("default mode: entry vs bare pwrite of entry and summary", "BM_DefaultEntry_Vantrel",
     "BM_DefaultEntry_BarePwrite", "cpu", None),
    ("default mode: after 200,000 vs after 1,000", "BM_DefaultAfter200k_Vantrel/iterations:2000",
     "BM_DefaultAfter1k_Vantrel/iterations:2000", "cpu", 1.2),
    ("memory mode: entry vs spdlog \"%v\" no flush", "BM_MemoryEntry_Vantrel",
     "BM_MemoryEntry_SpdlogNoFlush", "cpu", 1.0),
    ("memory mode: entry vs snprintf into string", "BM_MemoryEntry_Vantrel",
     "BM_MemoryEntry_SnprintfString", "cpu", None),
    ("function begin/end pair vs 2 spdlog entries", "BM_FunctionPair_Vantrel",
     "BM_FunctionPair_SpdlogTwoEntries", "cpu", None),
    ("time-stamped entry vs spdlog no flush", "BM_StampedEntry_Vantrel",
     "BM_StampedEntry_SpdlogNoFlush", "cpu", None),
    ("bitmap snapshot 64x64x24 vs create+write+close", "BM_BitmapSnapshot_Vantrel",
     "BM_BitmapSnapshot_BareSyscalls", "cpu", None),
    ("dtimer begin/end pair vs clock_gettime pair", "BM_DtimerPair/0", "BM_ClockMonotonicPair",
     "cpu", 1.0),
    ("load: dlopen+dlclose vs libspdlog", "BM_Load_Vantrel/iterations:20/manual_time",
     "BM_Load_Spdlog/iterations:20/manual_time", "time", None),
    ("memory mode: 2 threads vs 1 (entries/s)", "BM_ThreadsMemory_Vantrel/real_time/threads:2",
     "BM_ThreadsMemory_Vantrel/real_time/threads:1", "items_per_second", 1.6),
    ("memory mode: 4 threads vs 2 (entries/s)", "BM_ThreadsMemory_Vantrel/real_time/threads:4",
     "BM_ThreadsMemory_Vantrel/real_time/threads:2", "items_per_second", 1.0),
]
PAIRS += [
    ("memory mode, service alone: 2 threads vs 1 (entries/s)",
     "BM_ThreadsMemoryService_Vantrel/real_time/threads:2",
     "BM_ThreadsMemoryService_Vantrel/real_time/threads:1", "items_per_second", 1.6),
    ("memory mode, service alone: 4 threads vs 2 (entries/s)",
     "BM_ThreadsMemoryService_Vantrel/real_time/threads:4",
     "BM_ThreadsMemoryService_Vantrel/real_time/threads:2", "items_per_second", 1.0),
]
for size, iterations in (("1k", 25), ("10k", 100), ("100k", 100)):
    family = f"BM_ThreadsDefault{size}_Vantrel/iterations:{iterations}/real_time/threads:"
    for threads in (2, 4):
        # CPU per entry of all threads together: what the merge's rewriting of the later
        # threads' text costs, which the scheduler's share of a loaded machine does not blur.
        PAIRS.append((f"default mode, {size} entries: {threads} threads vs 1 (CPU per entry)",
                      family + str(threads), family + "1", "cpu", None))

# Figures that stand alone: case, benchmark, counter, target.
SINGLES = [
    ("load: dlopen to return (ms)", "BM_Load_Vantrel/iterations:20/manual_time", "dlopen_ms",
     10.0),
    ("memory mode: resident / text held", "BM_MemoryResident_Vantrel/iterations:1",
     "resident_over_text", 1.25),
]

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def medians(report):
    """Median of each benchmark: the median aggregate when there are repetitions, else the
    single run."""
    found = {}
    for run in report["benchmarks"]:
        name = run.get("run_name", run["name"])
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") == "median":
                found[name] = run
        elif name not in found:
            found[name] = run
    return found


def value(run, what):
    if what == "time":
        return run["real_time"] * UNIT_NS[run.get("time_unit", "ns")]
    if what == "cpu":
        return run["cpu_time"] * UNIT_NS[run.get("time_unit", "ns")]
    return run[what]


def show(number, what):
    if what in ("time", "cpu"):
        if number >= 1e6:
            return f"{number / 1e6:.3f} ms"
        if number >= 1e3:
            return f"{number / 1e3:.2f} us"
        return f"{number:.1f} ns"
    if what == "items_per_second":
        return f"{number / 1e3:.1f} k/s"
    return f"{number:.3f}"


def main():
    runs = {}
    for path in sys.argv[1:]:
        with open(path) as source:
            runs.update(medians(json.load(source)))
    rows = [("case", "vantrel", "comparison", "ratio", "target")]
    for case, ours, theirs, what, target in PAIRS:
        if ours not in runs or theirs not in runs:
            rows.append((case, "-", "-", "missing", ""))
            continue
        a, b = value(runs[ours], what), value(runs[theirs], what)
        direction = ">=" if what == "items_per_second" else "<="
        rows.append((case, show(a, what), show(b, what), f"{a / b:.2f}",
                     f"{direction} {target}" if target else ""))
    for case, name, counter, target in SINGLES:
        if name not in runs or counter not in runs[name]:
            rows.append((case, "-", "", "missing", ""))
            continue
        rows.append((case, f"{runs[name][counter]:.3f}", "", "", f"< {target}"))
    widths = [max(len(row[i]) for row in rows) for i in range(5)]
    for index, row in enumerate(rows):
        print("| " + " | ".join(cell.ljust(widths[i]) for i, cell in enumerate(row)) + " |")
        if index == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")


if __name__ == "__main__":
    main()

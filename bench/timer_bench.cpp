// The stopwatch timers: cost of a begin/end pair against a pair of CLOCK_MONOTONIC reads,
// accuracy against CLOCK_MONOTONIC over 100 ms, and what building the table and its first
// use cost. The dtimer benchmarks call the exports of the real library; the table ones call
// the same code in this process.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "bench_environment.h"
#include "timer/timer_table.h"

namespace {

int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct DtimerExports {
    int64_t (*recordBegin)(int32_t, int32_t) = nullptr;
    int64_t (*recordEnd)(int32_t) = nullptr;
    void (*reset)(int32_t) = nullptr;
};

// The library as the other benchmarks load it: one copy per process, so that every case
// finds the settings store and runtime folder it was loaded with.
const DtimerExports* LoadedDtimer() {
    static const DtimerExports* exports = []() -> const DtimerExports* {
        const vantrel::bench::LoggingExports* library = vantrel::bench::Library();
        if (!library) return nullptr;
        static DtimerExports loaded;
        loaded.recordBegin = library->recordBegin;
        loaded.recordEnd = library->recordEnd;
        loaded.reset = library->reset;
        return &loaded;
    }();
    return exports;
}

// The comparison: what measuring a section with the system clock costs.
void BM_ClockMonotonicPair(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(MonotonicNanoseconds());
        benchmark::DoNotOptimize(MonotonicNanoseconds());
    }
}
BENCHMARK(BM_ClockMonotonicPair);

// dtimerRecordBegin/dtimerRecordEnd through the library's exports; arg 0: timer 19 (plain),
// arg 1: timer 5 (render timer behind an open gate).
void BM_DtimerPair(benchmark::State& state) {
    const DtimerExports* dtimer = LoadedDtimer();
    if (!dtimer) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    const int32_t index = state.range(0) == 0 ? 19 : 5;
    dtimer->recordBegin(0, 1);  // opens the gate and calibrates before the timing starts
    for (auto _ : state) {
        benchmark::DoNotOptimize(dtimer->recordBegin(index, 1));
        benchmark::DoNotOptimize(dtimer->recordEnd(index));
    }
    dtimer->reset(index);
    dtimer->reset(0);
}
BENCHMARK(BM_DtimerPair)->Arg(0)->Arg(1);

// The same pair on a table in this process (no call through the dynamic linker).
void BM_TimerTablePair(benchmark::State& state) {
    vantrel::CTimerTable table;
    table.RecordBegin(19, 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.RecordBegin(19, 1));
        benchmark::DoNotOptimize(table.RecordEnd(19));
    }
}
BENCHMARK(BM_TimerTablePair);

// A dtimer measurement of a 100 ms busy loop against CLOCK_MONOTONIC around the same loop.
// Reports the largest relative difference seen, in percent (target: below 0.1).
void BM_DtimerAccuracyOver100ms(benchmark::State& state) {
    const DtimerExports* dtimer = LoadedDtimer();
    if (!dtimer) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    constexpr int64_t kLoopNanoseconds = 100'000'000;
    double worst = 0;
    for (auto _ : state) {
        const int64_t referenceBegin = MonotonicNanoseconds();
        const int64_t begin = dtimer->recordBegin(20, 1);
        while (MonotonicNanoseconds() - referenceBegin < kLoopNanoseconds) {
        }
        const int64_t end = dtimer->recordEnd(20);
        const int64_t referenceEnd = MonotonicNanoseconds();
        const double reference = static_cast<double>(referenceEnd - referenceBegin) / 1000.0;
        const double error = std::fabs(static_cast<double>(end - begin) - reference) / reference;
        if (error > worst) worst = error;
    }
    state.counters["worst_error_percent"] = worst * 100.0;
    state.counters["within_0.1_percent"] = worst < 0.001 ? 1 : 0;
}
BENCHMARK(BM_DtimerAccuracyOver100ms)->Iterations(10)->Unit(benchmark::kMillisecond);

// Building the table is what loading the library does with the timers; the first clock
// reading is where the one calibration happens.
void BM_TimerTableBuild(benchmark::State& state) {
    for (auto _ : state) {
        vantrel::CTimerTable table;
        benchmark::DoNotOptimize(&table);
    }
}
BENCHMARK(BM_TimerTableBuild)->Unit(benchmark::kMicrosecond);

void BM_TimerTableBuildAndFirstUse(benchmark::State& state) {
    for (auto _ : state) {
        vantrel::CTimerTable table;
        benchmark::DoNotOptimize(table.RecordBegin(19, 1));
    }
}
BENCHMARK(BM_TimerTableBuildAndFirstUse)->Unit(benchmark::kMicrosecond);

}  // namespace

// Cost per entry in the default mode as the log grows: the full rewrite of every thread's text
// at each merge (CLogService::UseFullRewrite), the incremental merge, and spdlog writing the
// same text flushed after every message. Drives CLogService from vantrel_internal directly, which
// runs the same code as the exports minus the manager's look-up, so the log can start afresh
// for each run. Reports the cost per entry averaged over the kWindow entries that end at each
// checkpoint as counters "at_<entries>"; bench/plot_growth.sh draws them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdarg>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_environment.h"
#include "log/clog_service.h"
#include "log/log_mode.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "spdlog_plain.h"

namespace vantrel::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWindow = 500;
constexpr int kCheckpoints[] = {1000, 2000, 5000, 10000, 20000, 50000, 100000, 200000};

int32_t LogLine(CLogService& service, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int32_t result = service.Printf(0, format, args);
    va_end(args);
    return result;
}

// Runs `entries` calls of logOne and records the checkpoints.
template <typename LogOne>
void MeasureGrowth(benchmark::State& state, int entries, LogOne logOne) {
    Clock::time_point windowStart = Clock::now();
    const Clock::time_point runStart = windowStart;
    size_t next = 0;
    for (int i = 1; i <= entries; ++i) {
        if (next < std::size(kCheckpoints) && i == kCheckpoints[next] - kWindow + 1)
            windowStart = Clock::now();
        if (!logOne(i)) {
            state.SkipWithError("logging failed");
            return;
        }
        if (next < std::size(kCheckpoints) && i == kCheckpoints[next]) {
            const double ns =
                std::chrono::duration<double, std::nano>(Clock::now() - windowStart).count();
            state.counters["at_" + std::to_string(i)] = ns / kWindow;
            ++next;
        }
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - runStart).count());
}

void GrowingService(benchmark::State& state, bool fullRewrite, int entries) {
    for (auto _ : state) {
        PrepareEnvironment();
        const std::string logs = MakeTempFolder("growth");
        auto service = std::make_unique<CLogService>();
        service->UseFullRewrite(fullRewrite);
        platform::ThreadHandle handle = nullptr;
        platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle);
        if (!service->Init("bench/growth", 1, 0, platform::GetCurrentProcessId(), handle,
                           platform::GetCurrentThreadId(), LogModeFromSettings,
                           (logs + "/").c_str(), "vantrel.log")) {
            state.SkipWithError("Init failed");
            return;
        }
        MeasureGrowth(state, entries,
                      [&](int i) { return LogLine(*service, kEntryFormat, i, kFrameName) != 0; });
        service->Close();
        platform::ReleaseRegistryStore();
        std::error_code ignored;
        std::filesystem::remove_all(logs, ignored);
    }
}

// O(n^2) bytes: 20,000 entries keep it to a few seconds.
void BM_Growth_FullRewrite(benchmark::State& state) {
    GrowingService(state, true, 20000);
}
BENCHMARK(BM_Growth_FullRewrite)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Growth_IncrementalMerge(benchmark::State& state) {
    GrowingService(state, false, 200000);
}
BENCHMARK(BM_Growth_IncrementalMerge)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_Growth_SpdlogFlushEach(benchmark::State& state) {
    for (auto _ : state) {
        const std::string logs = MakeTempFolder("growth-spdlog");
        auto logger = PlainSpdlogLogger(logs + "/spdlog.log", true);
        MeasureGrowth(state, 200000, [&](int i) {
            logger->info(kSpdlogEntryFormat, i, kFrameName);
            return true;
        });
        logger.reset();
        std::error_code ignored;
        std::filesystem::remove_all(logs, ignored);
    }
}
BENCHMARK(BM_Growth_SpdlogFlushEach)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantrel::bench

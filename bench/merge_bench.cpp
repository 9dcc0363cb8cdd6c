// Cost per entry of a write-immediately log as it grows: with the default settings every
// entry opens the service file, merges and closes it, so the merge must not rewrite the
// whole log each time. Reports the cost per entry over the first and the last 10,000
// entries, their ratio, and (for the incremental merge) the ratio of its late cost to the
// full rewrite's late cost measured just before in the same process.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdarg>
#include <filesystem>
#include <memory>
#include <string>

#include "log/clog_service.h"
#include "log/log_mode.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace {

using vantrel::CLogService;
using Clock = std::chrono::steady_clock;

constexpr int kWindow = 10000;

std::string MakeBenchDir(const char* tag) {
    std::string pattern = std::string("/tmp/vantrel-bench-") + tag + "-XXXXXX";
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

// A fresh settings store, so the service runs on the built-in defaults.
struct BenchFolder {
    std::string logs = MakeBenchDir("logs");
    std::string config = MakeBenchDir("config");
    BenchFolder() {
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        vantrel::platform::ReleaseRegistryStore();
    }
    ~BenchFolder() {
        vantrel::platform::ReleaseRegistryStore();
        std::error_code ignored;
        std::filesystem::remove_all(logs, ignored);
        std::filesystem::remove_all(config, ignored);
    }
};

int32_t LogLine(CLogService& service, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int32_t result = service.Printf(0, format, args);
    va_end(args);
    return result;
}

double lastWindowOfFullRewrite = 0;  // ns per entry, from BM_FullRewrite

void RunGrowingLog(benchmark::State& state, bool fullRewrite, int entries) {
    for (auto _ : state) {
        BenchFolder folder;
        CLogService::ForceFullRewrite(fullRewrite);
        auto service = std::make_unique<CLogService>();
        vantrel::platform::ThreadHandle handle = nullptr;
        vantrel::platform::DuplicateThreadHandle(vantrel::platform::GetCurrentThread(), &handle);
        if (!service->Init("bench/host", 1, 0, vantrel::platform::GetCurrentProcessId(), handle,
                           vantrel::platform::GetCurrentThreadId(), vantrel::LogModeFromSettings,
                           (folder.logs + "/").c_str(), "vantrel.log")) {
            state.SkipWithError("Init failed");
            return;
        }
        double firstNs = 0;
        double lastNs = 0;
        Clock::time_point windowStart = Clock::now();
        const Clock::time_point runStart = windowStart;
        for (int i = 0; i < entries; ++i) {
            if (i == entries - kWindow) windowStart = Clock::now();
            // About 40 bytes per entry.
            if (!LogLine(*service, "entry %07d: the quick brown fox jumps\n", i)) {
                state.SkipWithError("Printf failed");
                break;
            }
            if (i == kWindow - 1) {
                firstNs =
                    std::chrono::duration<double, std::nano>(Clock::now() - windowStart).count() /
                    kWindow;
            }
        }
        lastNs =
            std::chrono::duration<double, std::nano>(Clock::now() - windowStart).count() / kWindow;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - runStart).count());
        service->Close();
        CLogService::ForceFullRewrite(false);

        state.counters["entries"] = entries;
        state.counters["first10k_ns_per_entry"] = firstNs;
        state.counters["last10k_ns_per_entry"] = lastNs;
        state.counters["last_over_first"] = lastNs / firstNs;
        if (fullRewrite) {
            lastWindowOfFullRewrite = lastNs;
        } else if (lastWindowOfFullRewrite > 0) {
            state.counters["last_over_full_rewrite_last"] = lastNs / lastWindowOfFullRewrite;
        }
    }
}

// The comparison run: every merge rewrites all text. 20,000 entries keep it short.
void BM_FullRewrite(benchmark::State& state) {
    RunGrowingLog(state, true, 20000);
}
void BM_IncrementalMerge(benchmark::State& state) {
    RunGrowingLog(state, false, 200000);
}

BENCHMARK(BM_FullRewrite)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IncrementalMerge)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

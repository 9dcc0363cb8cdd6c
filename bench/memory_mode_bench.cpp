// WriteImmediately 0: entries stay in memory until unload. Compared with spdlog's
// single-threaded basic file sink without flushing and with snprintf appending into a
// std::string. Goes through the real library's exports.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench_environment.h"

namespace vantrel::bench {
namespace {

const LoggingExports* MemoryModeLibrary() {
    static const LoggingExports* library = [] {
        ConfigureLog("memory.log", LogSettings{0, 0});
        return Library();
    }();
    return library;
}

void BM_MemoryEntry_Vantrel(benchmark::State& state) {
    const LoggingExports* library = MemoryModeLibrary();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    library->printf("memory.log", "warm-up\n");  // creates the service
    int i = 0;
    for (auto _ : state) {
        if (!library->printf("memory.log", kEntryFormat, ++i, kFrameName)) {
            state.SkipWithError("logging failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemoryEntry_Vantrel);

void BM_MemoryEntry_SpdlogNoFlush(benchmark::State& state) {
    const std::string path = LogFolder() + "/spdlog-st.log";
    auto logger = spdlog::basic_logger_st("no-flush", path, true);
    int i = 0;
    for (auto _ : state) logger->info("{} items in frame {}", ++i, kFrameName);
    state.SetItemsProcessed(state.iterations());
    spdlog::drop("no-flush");
    unlink(path.c_str());
}
BENCHMARK(BM_MemoryEntry_SpdlogNoFlush);

void BM_MemoryEntry_SnprintfString(benchmark::State& state) {
    std::string text;
    char line[128];
    int i = 0;
    for (auto _ : state) {
        const int length = std::snprintf(line, sizeof line, kEntryFormat, ++i, kFrameName);
        text.append(line, static_cast<size_t>(length));
    }
    benchmark::DoNotOptimize(text.data());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemoryEntry_SnprintfString);

// Resident memory gained while one thread logs a million entries into a new log, per byte of
// text held.
void BM_MemoryResident_Vantrel(benchmark::State& state) {
    const LoggingExports* library = MemoryModeLibrary();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    static int run = 0;
    const std::string logName = "resident_" + std::to_string(++run) + ".log";
    ConfigureLog(logName.c_str(), LogSettings{0, 0});
    library->printf(logName.c_str(), "warm-up\n");  // creates the service
    constexpr int kEntries = 1000000;
    double ratio = 0;
    for (auto _ : state) {
        const uint64_t before = ResidentBytes();
        uint64_t text = 0;
        char line[128];
        for (int i = 0; i < kEntries; ++i) {
            library->printf(logName.c_str(), kEntryFormat, i, kFrameName);
            // The text as the log holds it: the final LF becomes CR LF.
            text += static_cast<uint64_t>(
                        std::snprintf(line, sizeof line, kEntryFormat, i, kFrameName)) +
                    1;
        }
        ratio = static_cast<double>(ResidentBytes() - before) / static_cast<double>(text);
    }
    state.counters["resident_over_text"] = ratio;
}
BENCHMARK(BM_MemoryResident_Vantrel)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantrel::bench

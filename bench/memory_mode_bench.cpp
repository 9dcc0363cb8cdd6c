// WriteImmediately 0: entries stay in memory until unload. Compared with spdlog writing the
// same text through its single-threaded basic file sink without flushing, and with snprintf
// appending into a std::string. Goes through the real library's exports.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_environment.h"
#include "spdlog_plain.h"

namespace vantrel::bench {
namespace {

void BM_MemoryEntry_Vantrel(benchmark::State& state) {
    const LoggingExports* library = Library();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    library->printf(kMemoryLog, "warm-up\n");  // creates the service
    // Kept in memory, the text reaches no file before unload: a file there (from an earlier
    // run) stays as it is.
    const std::string path = LogFolder() + "/" + kMemoryLog;
    std::error_code ignored;
    const auto sizeBefore = std::filesystem::file_size(path, ignored);
    LogEntriesWhileRunning(state, *library, kMemoryLog);
    if (std::filesystem::file_size(path, ignored) != sizeBefore)
        state.SkipWithError("the log is not in memory mode");
}
BENCHMARK(BM_MemoryEntry_Vantrel);

void BM_MemoryEntry_SpdlogNoFlush(benchmark::State& state) {
    // One file for the whole run, as in the default-mode comparison.
    static const auto logger = PlainSpdlogLogger(LogFolder() + "/spdlog-st.log", false);
    int i = 0;
    for (auto _ : state) logger->info(kSpdlogEntryFormat, ++i, kFrameName);
    state.SetItemsProcessed(state.iterations());
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

constexpr char kResidentChildVariable[] = "VANTREL_BENCH_RESIDENT_CHILD";

// Resident memory gained while one thread logs a million entries into a new log, per byte of
// text held, measured in a process of its own: in this one the heap already holds what the
// other cases freed, and reused pages would hide what the log takes or count what it does
// not.
double MeasureResidentRatio() {
    const LoggingExports* library = Library();
    if (!library) return -1;
    library->printf("resident.log", "warm-up\n");  // creates the service
    constexpr int kEntries = 1000000;
    const uint64_t before = ResidentBytes();
    uint64_t text = 0;
    char line[128];
    for (int i = 0; i < kEntries; ++i) {
        if (!library->printf("resident.log", kEntryFormat, i, kFrameName)) return -1;
        // The text as the log holds it: the final LF becomes CR LF.
        text +=
            static_cast<uint64_t>(std::snprintf(line, sizeof line, kEntryFormat, i, kFrameName)) +
            1;
    }
    return static_cast<double>(ResidentBytes() - before) / static_cast<double>(text);
}

// The measuring process is this program again, started with kResidentChildVariable set: it
// measures before main and leaves without unloading (which would write the whole log).
const bool residentChild = [] {
    const char* folder = getenv(kResidentChildVariable);
    if (!folder) return false;
    setenv("XDG_CONFIG_HOME", folder, 1);
    KeepEnvironment();
    std::printf("%f\n", MeasureResidentRatio());
    std::fflush(stdout);
    _exit(0);
}();

void BM_MemoryResident_Vantrel(benchmark::State& state) {
    double ratio = -1;
    for (auto _ : state) {
        // The child uses a store of its own, with resident.log in memory mode; this process
        // goes on with its own.
        PrepareEnvironment();
        const std::string ownStore = getenv("XDG_CONFIG_HOME");
        const std::string store = MakeTempFolder("resident");
        setenv("XDG_CONFIG_HOME", store.c_str(), 1);
        const bool configured = ConfigureLog("resident.log", LogSettings{0, 0});
        setenv("XDG_CONFIG_HOME", ownStore.c_str(), 1);
        const std::string command = std::string(kResidentChildVariable) + "=" + store +
                                    " XDG_RUNTIME_DIR=" + MakeTempFolder("resident-run") +
                                    " /proc/" + std::to_string(getpid()) + "/exe";
        FILE* child = configured ? popen(command.c_str(), "r") : nullptr;
        if (!child || std::fscanf(child, "%lf", &ratio) != 1) ratio = -1;
        if (child) pclose(child);
        if (ratio < 0) {
            state.SkipWithError("the measuring process failed");
            break;
        }
    }
    state.counters["resident_over_text"] = ratio;
}
BENCHMARK(BM_MemoryResident_Vantrel)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantrel::bench

// Default settings (write immediately): every entry is merged into the file, which is closed
// again before the call returns. Compared with the least the behaviour needs from the system
// (open, seek, write the entry, write the summary, close, on a file of the same size) and with
// spdlog's basic file sink flushed after every message. Goes through the real library's
// exports.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "bench_environment.h"

namespace vantrel::bench {
namespace {

// The summary block the service writes behind the entries is about this long.
constexpr size_t kTrailerBytes = 150;

void VantrelEntries(benchmark::State& state, const char* logName, int alreadyLogged) {
    const LoggingExports* library = Library();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    // The log is filled once per process (at least with the entry that creates the service);
    // later repetitions start a little further on.
    static std::set<std::string> filled;
    if (filled.insert(logName).second) {
        for (int i = 0; i < alreadyLogged || i == 0; ++i)
            library->printf(logName, kEntryFormat, i, kFrameName);
    }
    LogEntriesWhileRunning(state, *library, logName);
}

void BM_DefaultEntry_Vantrel(benchmark::State& state) {
    VantrelEntries(state, "default.log", 0);
}
BENCHMARK(BM_DefaultEntry_Vantrel);

void BM_DefaultAfter1k_Vantrel(benchmark::State& state) {
    VantrelEntries(state, "after1k.log", 1000);
}
BENCHMARK(BM_DefaultAfter1k_Vantrel)->Iterations(2000);

void BM_DefaultAfter200k_Vantrel(benchmark::State& state) {
    VantrelEntries(state, "after200k.log", 200000);
}
BENCHMARK(BM_DefaultAfter200k_Vantrel)->Iterations(2000);

// open, seek, write the entry, write the trailer, close: the file grows by one entry a call.
void BM_DefaultEntry_BareSyscalls(benchmark::State& state) {
    const std::string path = LogFolder() + "/bare-syscalls.log";
    char entry[64];
    const int length = std::snprintf(entry, sizeof entry, kEntryFormat, 12, kFrameName);
    const std::string trailer(kTrailerBytes, '/');
    off_t position = 0;
    const int created = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    if (created < 0) {
        state.SkipWithError("cannot create the file");
        return;
    }
    close(created);
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        lseek(fd, position, SEEK_SET);
        benchmark::DoNotOptimize(write(fd, entry, static_cast<size_t>(length)));
        benchmark::DoNotOptimize(write(fd, trailer.data(), trailer.size()));
        close(fd);
        position += length;
    }
    state.SetItemsProcessed(state.iterations());
    unlink(path.c_str());
}
BENCHMARK(BM_DefaultEntry_BareSyscalls);

void BM_DefaultEntry_SpdlogFlushEach(benchmark::State& state) {
    const std::string path = LogFolder() + "/spdlog-flush.log";
    auto logger = spdlog::basic_logger_mt("flush-each", path, true);
    logger->flush_on(spdlog::level::trace);
    int i = 0;
    for (auto _ : state) logger->info("{} items in frame {}", ++i, kFrameName);
    state.SetItemsProcessed(state.iterations());
    spdlog::drop("flush-each");
    unlink(path.c_str());
}
BENCHMARK(BM_DefaultEntry_SpdlogFlushEach);

}  // namespace
}  // namespace vantrel::bench

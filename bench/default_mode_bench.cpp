// Default settings (write immediately): every entry is merged into the file, which is
// complete when the call returns. Compared with the least the behaviour needs from the system
// (one positioned write of the entry and a summary-sized trailer into a file kept open) and
// with spdlog writing the same text, flushed after every message (one write each). Goes
// through the real library's exports.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "bench_environment.h"
#include "spdlog_plain.h"

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

// One positioned write of the entry and the trailer at the end of the text, from one buffer,
// the file kept open: the file grows by one entry a call.
void BM_DefaultEntry_BarePwrite(benchmark::State& state) {
    // Each logger keeps one file for the whole process, as the library keeps its log: a file
    // started anew for every repetition and deleted after it would be spared the writeback
    // that a growing log brings, and be cheaper to append to.
    static const int fd = open((LogFolder() + "/bare-pwrite.log").c_str(),
                               O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0644);
    static off_t position = 0;
    if (fd < 0) {
        state.SkipWithError("cannot create the file");
        return;
    }
    char entry[64];
    const int length = std::snprintf(entry, sizeof entry, kEntryFormat, 12, kFrameName);
    const std::string trailer(kTrailerBytes, '/');
    char block[256];
    for (auto _ : state) {
        std::memcpy(block, entry, static_cast<size_t>(length));
        std::memcpy(block + length, trailer.data(), trailer.size());
        benchmark::DoNotOptimize(pwrite(fd, block, length + trailer.size(), position));
        position += length;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DefaultEntry_BarePwrite);

void BM_DefaultEntry_SpdlogFlushEach(benchmark::State& state) {
    static const auto logger = PlainSpdlogLogger(LogFolder() + "/spdlog-flush.log", true);
    int i = 0;
    for (auto _ : state) logger->info(kSpdlogEntryFormat, ++i, kFrameName);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DefaultEntry_SpdlogFlushEach);

}  // namespace
}  // namespace vantrel::bench

// What the system calls that the default mode used to make, and makes, cost on this machine,
// on a file in the log folder: the figures beside the tables in docs/PERFORMANCE.md.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "bench_environment.h"

namespace vantrel::bench {
namespace {

// A 150-byte file in the folder where the logs go.
struct LogFolderFile {
    std::string path = LogFolder() + "/syscall-costs.log";
    int fd = open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    char block[150] = {};
    LogFolderFile() {
        if (fd >= 0) benchmark::DoNotOptimize(pwrite(fd, block, sizeof block, 0));
    }
    ~LogFolderFile() {
        if (fd >= 0) close(fd);
        unlink(path.c_str());
    }
};

void BM_SyscallCost_StatFolderPath(benchmark::State& state) {
    if (!Library()) {  // makes the log folder
        state.SkipWithError("the library could not be loaded");
        return;
    }
    const std::string folder = LogFolder();
    struct stat info;
    for (auto _ : state) benchmark::DoNotOptimize(stat(folder.c_str(), &info));
}
BENCHMARK(BM_SyscallCost_StatFolderPath);

void BM_SyscallCost_Fstat(benchmark::State& state) {
    LogFolderFile file;
    struct stat info;
    for (auto _ : state) benchmark::DoNotOptimize(fstat(file.fd, &info));
}
BENCHMARK(BM_SyscallCost_Fstat);

void BM_SyscallCost_FcntlFlagsPair(benchmark::State& state) {
    LogFolderFile file;
    for (auto _ : state) {
        const int flags = fcntl(file.fd, F_GETFL);
        benchmark::DoNotOptimize(fcntl(file.fd, F_SETFL, flags));
    }
}
BENCHMARK(BM_SyscallCost_FcntlFlagsPair);

void BM_SyscallCost_LseekEnd(benchmark::State& state) {
    LogFolderFile file;
    for (auto _ : state) benchmark::DoNotOptimize(lseek(file.fd, 0, SEEK_END));
}
BENCHMARK(BM_SyscallCost_LseekEnd);

void BM_SyscallCost_Pwrite150(benchmark::State& state) {
    LogFolderFile file;
    for (auto _ : state) benchmark::DoNotOptimize(pwrite(file.fd, file.block, 150, 0));
}
BENCHMARK(BM_SyscallCost_Pwrite150);

void BM_SyscallCost_FlockPair(benchmark::State& state) {
    LogFolderFile file;
    for (auto _ : state) {
        benchmark::DoNotOptimize(flock(file.fd, LOCK_EX | LOCK_NB));
        benchmark::DoNotOptimize(flock(file.fd, LOCK_UN));
    }
}
BENCHMARK(BM_SyscallCost_FlockPair);

// What an entry costs the system at least: spdlog's flush writes the entry (32 bytes) at the
// end; the merge writes entry and summary (about 180 bytes) at the entry's offset.
void BM_SyscallCost_WriteEntry(benchmark::State& state) {
    LogFolderFile file;
    for (auto _ : state) benchmark::DoNotOptimize(write(file.fd, file.block, 32));
}
BENCHMARK(BM_SyscallCost_WriteEntry);

void BM_SyscallCost_PwriteEntryAndSummary(benchmark::State& state) {
    LogFolderFile file;
    char block[180] = {};
    off_t at = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pwrite(file.fd, block, sizeof block, at));
        at += 32;
    }
}
BENCHMARK(BM_SyscallCost_PwriteEntryAndSummary);

// The look at the path every 100 ms, and the clock read that decides when.
void BM_SyscallCost_FstatAndLstat(benchmark::State& state) {
    LogFolderFile file;
    struct stat open, atPath;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fstat(file.fd, &open));
        benchmark::DoNotOptimize(lstat(file.path.c_str(), &atPath));
    }
}
BENCHMARK(BM_SyscallCost_FstatAndLstat);

void BM_SyscallCost_ClockMonotonicRaw(benchmark::State& state) {
    timespec now{};
    for (auto _ : state) benchmark::DoNotOptimize(clock_gettime(CLOCK_MONOTONIC_RAW, &now));
}
BENCHMARK(BM_SyscallCost_ClockMonotonicRaw);

}  // namespace
}  // namespace vantrel::bench

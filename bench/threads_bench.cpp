// Four threads logging to one file name, in each mode, against one thread: the manager
// serialises every call, so four threads share one thread's throughput (less what handing the
// lock between them costs). Goes through the real library's exports.
#include <benchmark/benchmark.h>

#include "bench_environment.h"

namespace vantrel::bench {
namespace {

void ThreadsLogging(benchmark::State& state, const char* logName) {
    const LoggingExports* library = Library();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    // The first call of a thread creates its log (and the first of all, the service).
    library->printf(logName, "warm-up\n");
    LogEntriesWhileRunning(state, *library, logName);
}

// One log per thread count: in the default mode every merge rewrites the texts of the
// threads after the one that logged (the file holds them grouped by thread), so the cost per
// entry grows with a log that several threads write, and the two cases must not share one.
void BM_ThreadsDefault_Vantrel(benchmark::State& state) {
    ThreadsLogging(state, state.threads() == 1 ? "threads1_default.log" : "threads4_default.log");
}
BENCHMARK(BM_ThreadsDefault_Vantrel)->Threads(1)->Threads(4)->UseRealTime();

void BM_ThreadsMemory_Vantrel(benchmark::State& state) {
    ThreadsLogging(state, state.threads() == 1 ? kOneThreadMemoryLog : kFourThreadsMemoryLog);
}
BENCHMARK(BM_ThreadsMemory_Vantrel)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace
}  // namespace vantrel::bench

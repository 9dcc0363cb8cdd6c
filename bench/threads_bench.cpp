// Several threads logging to one file name, in each mode, against one thread. Memory mode: the
// threads' entries go to caches of their own, so throughput should add up. Default mode: the
// file groups the text by thread, so an entry of an early thread moves the text of every later
// thread, which the merge writes again; measured at three sizes of the log. Goes through the
// real library's exports.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdarg>
#include <map>
#include <mutex>
#include <string>

#include "bench_environment.h"
#include "log/clog_service.h"
#include "log/log_mode.h"
#include "platform/process.h"

namespace vantrel::bench {
namespace {

const char* MemoryLogFor(int threads) {
    switch (threads) {
        case 1:
            return kOneThreadMemoryLog;
        case 2:
            return kTwoThreadsMemoryLog;
        default:
            return kFourThreadsMemoryLog;
    }
}

void BM_ThreadsMemory_Vantrel(benchmark::State& state) {
    const LoggingExports* library = Library();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    const char* logName = MemoryLogFor(state.threads());
    // The first call of a thread creates its log (and the first of all, the service).
    library->printf(logName, "warm-up\n");
    LogEntriesWhileRunning(state, *library, logName);
}
BENCHMARK(BM_ThreadsMemory_Vantrel)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

// The same through one CLogService directly, without the manager's look-up in front of it:
// what the service itself lets threads do in parallel. One service per thread count, kept
// open (and never merged) until the process ends.
CLogService* MemoryModeService(int threads) {
    static std::mutex mutex;
    static std::map<int, CLogService*> services;
    std::lock_guard<std::mutex> hold(mutex);
    CLogService*& service = services[threads];
    if (!service) {
        PrepareEnvironment();
        auto* created = new CLogService();
        platform::ThreadHandle handle = nullptr;
        platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle);
        const std::string folder = MakeTempFolder("threads-service") + "/";
        if (!created->Init("bench/threads", 1, 0, platform::GetCurrentProcessId(), handle,
                           platform::GetCurrentThreadId(), LogModeMergeFromFiles, folder.c_str(),
                           "memory.log")) {
            delete created;
            return nullptr;
        }
        service = created;
    }
    return service;
}

int32_t ServiceEntry(CLogService& service, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int32_t result = service.Printf(0, format, args);
    va_end(args);
    return result;
}

void BM_ThreadsMemoryService_Vantrel(benchmark::State& state) {
    CLogService* service = MemoryModeService(state.threads());
    if (!service) {
        state.SkipWithError("the service could not be made");
        return;
    }
    int i = 0;
    for (auto _ : state) {
        if (!ServiceEntry(*service, kEntryFormat, ++i, kFrameName)) {
            state.SkipWithError("logging failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ThreadsMemoryService_Vantrel)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

// The threads of one run fill a new log in turn, in the order of their index (which is then
// the order of their texts in the file), before the timed loop starts; filling it in that
// order costs each entry only the text behind it, which is still empty.
class TurnTaking {
  public:
    // Waits for the thread's turn and returns the run it belongs to.
    long WaitForTurn(int index, int threads) {
        std::unique_lock<std::mutex> hold(mutex_);
        if (arrived_ == 0) {
            ++run_;
            turn_ = 0;
        }
        const long run = run_;
        if (++arrived_ == threads) arrived_ = 0;
        changed_.wait(hold, [&] { return turn_ == index; });
        return run;
    }
    void EndTurn() {
        std::lock_guard<std::mutex> hold(mutex_);
        ++turn_;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrived_ = 0;
    int turn_ = 0;
    long run_ = 0;
};

void DefaultModeThreads(benchmark::State& state, int entriesInFile) {
    const LoggingExports* library = Library();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    static TurnTaking turns;
    const int threads = state.threads();
    const long run = turns.WaitForTurn(static_cast<int>(state.thread_index()), threads);
    const std::string logName = "threads" + std::to_string(threads) + "_" +
                                std::to_string(entriesInFile) + "_" + std::to_string(run) + ".log";
    bool filled = true;
    for (int i = 0; i < entriesInFile / threads && filled; ++i)
        filled = library->printf(logName.c_str(), kEntryFormat, i, kFrameName) != 0;
    turns.EndTurn();
    if (!filled) {
        state.SkipWithError("logging failed");
        return;
    }
    LogEntriesWhileRunning(state, *library, logName.c_str());
}

// Iterations per thread stay small against the size of the log, which they grow.
void BM_ThreadsDefault1k_Vantrel(benchmark::State& state) {
    DefaultModeThreads(state, 1000);
}
BENCHMARK(BM_ThreadsDefault1k_Vantrel)
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->Iterations(25)
    ->UseRealTime();

void BM_ThreadsDefault10k_Vantrel(benchmark::State& state) {
    DefaultModeThreads(state, 10000);
}
BENCHMARK(BM_ThreadsDefault10k_Vantrel)
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->Iterations(100)
    ->UseRealTime();

void BM_ThreadsDefault100k_Vantrel(benchmark::State& state) {
    DefaultModeThreads(state, 100000);
}
BENCHMARK(BM_ThreadsDefault100k_Vantrel)
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->Iterations(100)
    ->UseRealTime();

}  // namespace
}  // namespace vantrel::bench

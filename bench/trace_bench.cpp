// The tracing add-on in memory mode: what a traced call costs, against the same call
// untraced and against the function-begin/function-end pair a hand-written scope logs. The
// add-on is loaded after the library, into the same process, and its hooks are called around
// the function exactly as -finstrument-functions calls them.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "bench_environment.h"

namespace vantrel::bench {
namespace {

constexpr char kTracedLog[] = "traced.log";

using Hook = void (*)(void* function, void* callSite);
struct TraceHooks {
    Hook enter = nullptr;
    Hook exit = nullptr;
};

const TraceHooks* LoadTraceAddOn() {
    static const TraceHooks* loaded = []() -> const TraceHooks* {
        if (!Library() || !ConfigureLog(kTracedLog, LogSettings{0, 0})) return nullptr;
        setenv("VANTREL_TRACE_LOG", kTracedLog, 1);
        void* addOn = dlopen(VANTREL_TRACE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!addOn) return nullptr;
        static TraceHooks hooks;
        hooks.enter = reinterpret_cast<Hook>(dlsym(addOn, "__cyg_profile_func_enter"));
        hooks.exit = reinterpret_cast<Hook>(dlsym(addOn, "__cyg_profile_func_exit"));
        return hooks.enter && hooks.exit ? &hooks : nullptr;
    }();
    return loaded;
}

// The traced function: small, so that the figures show what tracing adds to a call.
__attribute__((noinline)) int Scale(int value) {
    benchmark::DoNotOptimize(value);
    return value * 3 + 1;
}

// What an instrumented Scale does: its body between the two hooks.
__attribute__((noinline)) int TracedScale(const TraceHooks& hooks, int value) {
    void* self = reinterpret_cast<void*>(&Scale);
    hooks.enter(self, __builtin_return_address(0));
    int result = Scale(value);
    hooks.exit(self, __builtin_return_address(0));
    return result;
}

void BM_TracedCall_AddOn(benchmark::State& state) {
    const TraceHooks* hooks = LoadTraceAddOn();
    if (!hooks) {
        state.SkipWithError("the library or the tracing add-on could not be loaded");
        return;
    }
    int value = TracedScale(*hooks, 0);  // creates the service
    // Kept in memory, the text reaches the log file only at unload.
    const std::string path = LogFolder() + "/" + kTracedLog;
    std::error_code ignored;
    const auto sizeBefore = std::filesystem::file_size(path, ignored);
    for (auto _ : state) value = TracedScale(*hooks, value);
    benchmark::DoNotOptimize(value);
    state.SetItemsProcessed(state.iterations());
    if (std::filesystem::file_size(path, ignored) != sizeBefore)
        state.SkipWithError("the log is not in memory mode");
}
BENCHMARK(BM_TracedCall_AddOn);

void BM_TracedCall_Untraced(benchmark::State& state) {
    int value = 0;
    for (auto _ : state) value = Scale(value);
    benchmark::DoNotOptimize(value);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TracedCall_Untraced);

// The same two entries written by hand, as VANTREL_FUNC does, into the same log.
void BM_TracedCall_HandWrittenScope(benchmark::State& state) {
    const LoggingExports* library = Library();
    if (!library || !LoadTraceAddOn()) {
        state.SkipWithError("the library or the tracing add-on could not be loaded");
        return;
    }
    int value = 0;
    for (auto _ : state) {
        if (!library->funcBegin(kTracedLog, 0, "Scale(int)")) {
            state.SkipWithError("logging failed");
            break;
        }
        value = Scale(value);
        library->funcEnd(kTracedLog, 0);
    }
    benchmark::DoNotOptimize(value);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TracedCall_HandWrittenScope);

}  // namespace
}  // namespace vantrel::bench

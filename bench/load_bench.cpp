// Library load: dlopen to return, then dlclose, with the settings store already populated.
// The copy loaded claims the next instance number, since the copy the other benchmarks hold
// keeps instance 1.
// Compared with loading and unloading libspdlog, a library of similar size that does no work
// at load.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "bench_environment.h"

namespace vantrel::bench {
namespace {

using Clock = std::chrono::steady_clock;

// A copy of the library at a path of its own, so that a copy this process already holds does
// not turn dlopen into a reference count.
std::string CopyOf(const char* library, const char* tag) {
    const std::string copy =
        MakeTempFolder(tag) + "/" + std::filesystem::path(library).filename().string();
    std::error_code error;
    std::filesystem::copy_file(library, copy, error);
    return error ? std::string() : copy;
}

void LoadAndUnload(benchmark::State& state, const std::string& path) {
    if (path.empty()) {
        state.SkipWithError("cannot copy the library");
        return;
    }
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        const Clock::time_point loaded = Clock::now();
        if (!library) {
            state.SkipWithError("dlopen failed");
            break;
        }
        dlclose(library);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        state.counters["dlopen_ms"] +=
            std::chrono::duration<double, std::milli>(loaded - start).count();
    }
    state.counters["dlopen_ms"] /= static_cast<double>(state.iterations());
}

void BM_Load_Vantrel(benchmark::State& state) {
    // The store and the instance folder exist once the shared copy has logged.
    const LoggingExports* shared = Library();
    if (!shared) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    shared->printf("load.log", "populated\n");
    const std::string copy = CopyOf(VANTREL_LIBRARY_PATH, "load");
    LoadAndUnload(state, copy);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(copy).parent_path(), ignored);
}
BENCHMARK(BM_Load_Vantrel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_Load_Spdlog(benchmark::State& state) {
    const std::string copy = CopyOf(SPDLOG_LIBRARY_PATH, "load-spdlog");
    LoadAndUnload(state, copy);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(copy).parent_path(), ignored);
}
BENCHMARK(BM_Load_Spdlog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace vantrel::bench

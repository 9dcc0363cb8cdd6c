// What the benchmarks share: a temporary settings store and runtime folder, the real library
// loaded once with dlopen (so its exports run exactly as in a host), the per-log settings that
// select a mode, and the entry every case logs.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace vantrel::bench {

// The message of every case: about 30 bytes once formatted.
constexpr char kEntryFormat[] = "%d items in frame %s\n";
constexpr char kFrameName[] = "intro";

struct LoggingExports {
    int32_t (*printf)(const char* fname, const char* fmt, ...) = nullptr;
    int32_t (*funcBegin)(const char* fname, int32_t device, const char* funcName) = nullptr;
    int32_t (*funcEnd)(const char* fname, int32_t device) = nullptr;
    int32_t (*drawBitmap)(const char* fname, const char* imageName, void* bitmap, const char* fmt,
                          ...) = nullptr;
    int64_t (*recordBegin)(int32_t index, int32_t countIt) = nullptr;
    int64_t (*recordEnd)(int32_t index) = nullptr;
    void (*reset)(int32_t index) = nullptr;
};

// Settings of one log file name, written into the store before the library first serves it.
struct LogSettings {
    uint32_t writeImmediately = 1;
    uint32_t needTimeStamp = 0;
};

// A fresh temporary folder below /tmp (left for the caller to remove).
std::string MakeTempFolder(const char* tag);

// Points XDG_CONFIG_HOME and XDG_RUNTIME_DIR at temporary folders, once per process, before
// anything opens the store or loads the library.
void PrepareEnvironment();
// Takes XDG_CONFIG_HOME and XDG_RUNTIME_DIR as they are set (for a measuring child process).
void KeepEnvironment();

// Gives a log file name its settings; call before the name is first logged to. False when
// the store could not take them.
bool ConfigureLog(const char* logName, const LogSettings& settings);

// The log names the benchmarks use in memory mode (WriteImmediately 0); stampedLog also has
// NeedTimeStamp 1. They are configured before the library is loaded.
constexpr char kMemoryLog[] = "memory.log";
constexpr char kFunctionsLog[] = "functions.log";
constexpr char kStampedLog[] = "stamped.log";
constexpr char kBitmapsLog[] = "bitmaps.log";
constexpr char kOneThreadMemoryLog[] = "threads1_memory.log";
constexpr char kTwoThreadsMemoryLog[] = "threads2_memory.log";
constexpr char kFourThreadsMemoryLog[] = "threads4_memory.log";

// The real library, loaded once into this process with the memory-mode logs configured
// (nullptr when either fails).
const LoggingExports* Library();

// The folder the loaded library writes its logs into (the instance folder of proc1), emptied
// once per run before anything writes there.
std::string LogFolder();

// The timed loop of the entry cases: one printf entry of the shared message per iteration to
// logName; a refused entry ends the case with an error.
void LogEntriesWhileRunning(benchmark::State& state, const LoggingExports& library,
                            const char* logName);

// Resident memory of this process in bytes.
uint64_t ResidentBytes();

}  // namespace vantrel::bench

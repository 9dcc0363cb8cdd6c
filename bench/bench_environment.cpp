#include "bench_environment.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/registry.h"
#include "settings/process_identity.h"
#include "settings/settings_store.h"

namespace vantrel::bench {

namespace {

// The executable's folder and file name, which name its log folder and its settings keys.
bool ExecutableParts(std::string* folder, std::string* name) {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return false;
    const std::string exe(path, static_cast<size_t>(length));
    const size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return false;
    *folder = exe.substr(0, slash);
    *name = exe.substr(slash + 1);
    return true;
}

bool SetDword(const std::string& key, const char* name, uint32_t value) {
    platform::RegKey handle = nullptr;
    if (platform::RegCreateKey(key, platform::kKeyAllAccess, &handle) != platform::kErrorSuccess)
        return false;
    const bool set = platform::RegSetValue(handle, name, platform::kRegDword, &value,
                                           sizeof value) == platform::kErrorSuccess;
    platform::RegCloseKey(handle);
    return set;
}

std::string InstanceFolder() {
    std::string folder, name;
    if (!ExecutableParts(&folder, &name)) return {};
    return makeInstanceFolder(folder, name, 1, '/');
}

}  // namespace

std::string MakeTempFolder(const char* tag) {
    std::string pattern = std::string("/tmp/vantrel-bench-") + tag + "-XXXXXX";
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

namespace {
bool environmentPrepared = false;
}  // namespace

void PrepareEnvironment() {
    if (environmentPrepared) return;
    // Every run starts on an empty log folder. Left in place, each run's logs would be
    // appended to the back-ups of the last, which grow without end until their size stops the
    // library from opening the logs at all (and the first entry of a case would pay for
    // copying gigabytes).
    const std::string logFolder = InstanceFolder();
    std::error_code ignored;
    if (!logFolder.empty()) {
        std::filesystem::remove_all(logFolder, ignored);
        std::filesystem::create_directories(logFolder, ignored);
    }
    setenv("XDG_CONFIG_HOME", MakeTempFolder("config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", MakeTempFolder("run").c_str(), 1);
    environmentPrepared = true;
}

void KeepEnvironment() {
    environmentPrepared = true;
}

bool ConfigureLog(const char* logName, const LogSettings& settings) {
    PrepareEnvironment();
    std::string folder, name;
    if (!ExecutableParts(&folder, &name)) return false;
    // A fresh runtime folder: the loaded library claims instance 1.
    const std::string instancePath = makeProcessKeyName(folder, name) + "\\" + makeProcName(1);
    const std::string key = ComposeSettingsKeyPath(instancePath, logName);
    const bool set = SetDword(key, "WriteImmediately", settings.writeImmediately) &&
                     SetDword(key, "NeedTimeStamp", settings.needTimeStamp);
    // The library's own copy of the store code opens the database by itself.
    platform::ReleaseRegistryStore();
    return set;
}

const LoggingExports* Library() {
    static const LoggingExports* loaded = []() -> const LoggingExports* {
        PrepareEnvironment();
        for (const char* logName : {kMemoryLog, kFunctionsLog, kBitmapsLog, kOneThreadMemoryLog,
                                    kTwoThreadsMemoryLog, kFourThreadsMemoryLog}) {
            if (!ConfigureLog(logName, LogSettings{0, 0})) return nullptr;
        }
        if (!ConfigureLog(kStampedLog, LogSettings{0, 1})) return nullptr;
        void* library = dlopen(VANTREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
        static LoggingExports exports;
        auto find = [library](auto& function, const char* name) {
            function =
                reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
            return function != nullptr;
        };
        if (!find(exports.printf, "logPrintfMgr_deviceDefault_fname") ||
            !find(exports.funcBegin, "logFuncBeginMgr_device_fname") ||
            !find(exports.funcEnd, "logFuncEndMgr_device_fname") ||
            !find(exports.drawBitmap, "logDrawBitmapMgr_deviceDefault_fname") ||
            !find(exports.recordBegin, "dtimerRecordBegin") ||
            !find(exports.recordEnd, "dtimerRecordEnd") || !find(exports.reset, "dtimerReset"))
            return nullptr;
        return &exports;
    }();
    return loaded;
}

std::string LogFolder() {
    PrepareEnvironment();
    return InstanceFolder();
}

uint64_t ResidentBytes() {
    FILE* statm = fopen("/proc/self/statm", "re");
    if (!statm) return 0;
    unsigned long long size = 0, resident = 0;
    const int got = fscanf(statm, "%llu %llu", &size, &resident);
    fclose(statm);
    return got == 2 ? resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

void LogEntriesWhileRunning(benchmark::State& state, const LoggingExports& library,
                            const char* logName) {
    int i = 0;
    for (auto _ : state) {
        if (!library.printf(logName, kEntryFormat, ++i, kFrameName)) {
            state.SkipWithError("logging failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace vantrel::bench

// CLogServiceMgr: the one process-wide manager. It gates logging on the library's readiness
// and finds or creates the service of a log file name. Its lock covers that look-up only
// (a thread that logs to the same name again skips it):
// the call then runs under the service's own locks, so calls of different threads and logs
// do not wait for each other here. Services live until unload (or until a forked child lets
// its parent's go), and the unload first waits until no call is in flight.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/critical_section.h"
#include "platform/handles.h"

namespace vantrel {

class CLogService;

class CLogServiceMgr {
  public:
    CLogServiceMgr();
    virtual ~CLogServiceMgr();
    CLogServiceMgr(const CLogServiceMgr&) = delete;
    CLogServiceMgr& operator=(const CLogServiceMgr&) = delete;

    // Dispatch.
    int32_t Printf(const char* fname, int32_t device, const char* fmt, va_list list);
    int32_t DrawBitmap(const char* fname, int32_t device, const char* imageName, void* bitmap,
                       const char* fmt, va_list list);
    int32_t FuncBegin(const char* fname, int32_t device, const char* funcName);
    int32_t FuncEnd(const char* fname, int32_t device);

    CLogService* FindService(const char* fname);
    CLogService* CreateService(const char* fname);

    // Start-up: default settings (readiness 1), then the process instance (readiness 2).
    bool loadDefaultSettings(platform::ProcessHandle process, uint32_t pid,
                             platform::ModuleHandle exeModule, platform::ThreadHandle thread,
                             uint32_t threadId);
    bool establishInstance();
    bool claimInstanceNumber(const std::string& exeFolder, const std::string& exeFileName,
                             platform::ProcessHandle process, uint32_t pid);

    // Shut-down, in this order.
    void ReleaseInstance();
    void ReleaseServices();

    // In a forked child (only the forking thread runs): the parent's services, files and
    // number are not this process's. Lets them go without writing, emptying or deleting any
    // file, so that the next call establishes an instance of the child's own.
    void ForgetParentAfterFork();

    // Fields, in their order in the object.
    std::vector<std::unique_ptr<CLogService>> services;
    platform::CriticalSection lock;
    int32_t readyLevel = 0;
    platform::ProcessHandle hProcess = nullptr;
    uint32_t processId = 0;
    platform::ModuleHandle hExeModule = nullptr;
    platform::ThreadHandle hInitThread = nullptr;
    uint32_t initThreadId = 0;
    std::string instanceFolder;
    int32_t instanceNumber = 0;
    std::string processKeyName;
    platform::MutexHandle instanceMutex = nullptr;

  private:
    template <typename Operation>
    int32_t Dispatch(const char* fname, Operation operation);
    // The service for fname once the library is ready: the calling thread's last one when
    // the name is the same, else found or created under lock.
    CLogService* ServiceForCall(const char* fname);
    // Makes every thread's last service unusable; before anything that removes services or
    // readiness.
    void StartNewGeneration();
    std::atomic<uint64_t> generation;
    // The defaults are loaded again when the store was only busy at load (another process
    // held it past the busy time-out), at most once per kDefaultsRetryMs.
    void RetryBusyDefaults();
    static constexpr uint32_t kDefaultsRetryMs = 1000;
    bool defaultsStoreBusy = false;
    uint32_t defaultsTriedAtMs = 0;

    // The services last found by name, so that a hot name costs a comparison rather than an
    // atom-table look-up. A service lives, and keeps its name's atom, until unload, which
    // empties this; so an entry gives what the atom table would.
    struct RecentService {
        std::string name;
        CLogService* service = nullptr;
    };
    static constexpr size_t kRecentServices = 4;
    CLogService* FindRecentService(const char* fname) const;
    void RememberService(const char* fname, CLogService* service);
    RecentService recentServices[kRecentServices];
    size_t nextRecentService = 0;
};

}  // namespace vantrel

// CLogServiceMgr: the one process-wide manager. It gates logging on the library's readiness,
// finds or creates the service of a log file name, and serialises every logging call.
#pragma once

#include <cstdarg>
#include <cstdint>
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

    // Fields, in their order in the object.
    std::vector<CLogService*> services;
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

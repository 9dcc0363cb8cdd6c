#include "manager/log_service_mgr.h"

#include <atomic>
#include <cstring>
#include <new>

#include "log/clog_service.h"
#include "log/log_mode.h"
#include "platform/ascii_case.h"
#include "platform/atom_table.h"
#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

namespace vantrel {

namespace {

// Each manager state that services can be found in has a number of its own, never reused in
// the process.
std::atomic<uint64_t> nextGeneration{1};

// The service this thread found last. Trivially destructible (no thread-exit destructor that
// would keep the library loaded); a longer name is simply not kept.
struct ThreadRecentService {
    uint64_t generation = 0;
    CLogService* service = nullptr;
    char name[64] = "";
};
thread_local ThreadRecentService threadRecent;

}  // namespace

CLogServiceMgr::CLogServiceMgr() : generation(nextGeneration.fetch_add(1)) {}

CLogServiceMgr::~CLogServiceMgr() = default;

CLogService* CLogServiceMgr::ServiceForCall(const char* fname) {
    if (!fname) return nullptr;
    // The same bytes name the same service for as long as the generation lasts, so a hit
    // needs neither the lock nor a comparison without regard to case.
    if (threadRecent.generation == generation.load(std::memory_order_acquire) &&
        std::strcmp(threadRecent.name, fname) == 0) {
        return threadRecent.service;
    }
    platform::CriticalSectionGuard guard(lock);
    if (readyLevel == 0 && defaultsStoreBusy) RetryBusyDefaults();
    if (readyLevel == 1) establishInstance();
    if (readyLevel < 2) return nullptr;
    CLogService* service = FindService(fname);
    if (!service) service = CreateService(fname);
    const size_t length = std::strlen(fname);
    if (service && length < sizeof threadRecent.name) {
        std::memcpy(threadRecent.name, fname, length + 1);
        threadRecent.service = service;
        threadRecent.generation = generation.load(std::memory_order_relaxed);
    }
    return service;
}

void CLogServiceMgr::StartNewGeneration() {
    generation.store(nextGeneration.fetch_add(1), std::memory_order_release);
}

void CLogServiceMgr::RetryBusyDefaults() {
    if (platform::TimeGetTime() - defaultsTriedAtMs < kDefaultsRetryMs) return;
    loadDefaultSettings(hProcess, processId, hExeModule, hInitThread, initThreadId);
}

template <typename Operation>
int32_t CLogServiceMgr::Dispatch(const char* fname, Operation operation) {
    // The service outlives the call: only the unload removes services, and it waits for the
    // calls in flight.
    CLogService* service = ServiceForCall(fname);
    return service ? operation(*service) : 0;
}

int32_t CLogServiceMgr::Printf(const char* fname, int32_t device, const char* fmt, va_list list) {
    if (!fmt) return 0;
    return Dispatch(fname, [&](CLogService& service) { return service.Printf(device, fmt, list); });
}

int32_t CLogServiceMgr::DrawBitmap(const char* fname, int32_t device, const char* imageName,
                                   void* bitmap, const char* fmt, va_list list) {
    if (!fmt) return 0;
    return Dispatch(fname, [&](CLogService& service) {
        return service.DrawBitmap(device, imageName, bitmap, fmt, list);
    });
}

int32_t CLogServiceMgr::FuncBegin(const char* fname, int32_t device, const char* funcName) {
    return Dispatch(fname,
                    [&](CLogService& service) { return service.FuncBegin(device, funcName); });
}

int32_t CLogServiceMgr::FuncEnd(const char* fname, int32_t device) {
    return Dispatch(fname, [&](CLogService& service) { return service.FuncEnd(device); });
}

namespace {

// Atom names compare without regard to ASCII case.
bool SameName(const std::string& known, const char* name) {
    size_t i = 0;
    for (; i < known.size(); ++i) {
        if (name[i] == 0 || platform::AsciiLower(known[i]) != platform::AsciiLower(name[i]))
            return false;
    }
    return name[i] == 0;
}

}  // namespace

CLogService* CLogServiceMgr::FindRecentService(const char* fname) const {
    for (const RecentService& recent : recentServices) {
        if (recent.service && SameName(recent.name, fname)) return recent.service;
    }
    return nullptr;
}

void CLogServiceMgr::RememberService(const char* fname, CLogService* service) {
    RecentService& slot = recentServices[nextRecentService];
    try {
        slot.name = fname;
        slot.service = service;
    } catch (const std::bad_alloc&) {
        slot = RecentService{};  // only a look-up the next call makes again
    }
    nextRecentService = (nextRecentService + 1) % kRecentServices;
}

CLogService* CLogServiceMgr::FindService(const char* fname) {
    if (CLogService* recent = FindRecentService(fname)) return recent;
    uint16_t atom = platform::FindAtom(fname);
    if (atom == 0) return nullptr;
    for (auto it = services.rbegin(); it != services.rend(); ++it) {
        if ((*it)->GetAtom() == atom) {
            RememberService(fname, it->get());
            return it->get();
        }
    }
    return nullptr;
}

CLogService* CLogServiceMgr::CreateService(const char* fname) {
    auto service = std::make_unique<CLogService>();
    // Room first, so that registering the ready service cannot fail.
    services.reserve(services.size() + 1);
    uint16_t atom = platform::AddAtom(fname);
    if (atom == 0) return nullptr;
    platform::ThreadHandle thread = nullptr;
    if (!platform::DuplicateThreadHandle(hInitThread, &thread)) {
        platform::DeleteAtom(atom);
        return nullptr;
    }
    bool ready = false;
    try {
        ready = service->Init(processKeyName, instanceNumber, atom, processId, thread, initThreadId,
                              LogModeFromSettings, instanceFolder.c_str(), fname);
    } catch (...) {
        ready = false;  // released below like any failed Init
    }
    if (ready) {
        services.push_back(std::move(service));
        return services.back().get();
    }
    platform::DeleteAtom(atom);
    // A service whose Open failed never took the handle; one that opened owns it and its
    // destruction releases it.
    if (!service->GetIsOpen() && service->GetThreadHandle() != thread) {
        platform::CloseThreadHandle(thread);
    }
    return nullptr;
}

void CLogServiceMgr::ReleaseInstance() {
    StartNewGeneration();
    --readyLevel;
    platform::CloseNamedMutex(instanceMutex);
    instanceMutex = nullptr;
}

void CLogServiceMgr::ReleaseServices() {
    StartNewGeneration();
    platform::CloseThreadHandle(hInitThread);
    hInitThread = nullptr;
    --readyLevel;
    for (RecentService& recent : recentServices) recent = RecentService{};
    while (!services.empty()) {
        services.back()->Close();
        services.pop_back();
    }
}

void CLogServiceMgr::ForgetParentAfterFork() {
    StartNewGeneration();
    for (RecentService& recent : recentServices) recent = RecentService{};
    while (!services.empty()) {
        services.back()->Abandon();
        services.pop_back();
    }
    // Closing the inherited handle only drops this process's reference: the parent keeps
    // its number.
    platform::CloseNamedMutex(instanceMutex);
    instanceMutex = nullptr;
    instanceNumber = 0;
    processKeyName.clear();
    instanceFolder.clear();
    processId = platform::GetCurrentProcessId();
    // The forking thread is the child's first thread, as the loading thread was the parent's.
    initThreadId = platform::GetCurrentThreadId();
    if (readyLevel > 1) readyLevel = 1;
}

}  // namespace vantrel

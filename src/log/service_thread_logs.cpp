// The service's thread registry: one CLog per calling thread, found by thread id and
// liveness, created on the thread's first call.
#include <memory>

#include "log/clog_service.h"
#include "log/log_mode.h"
#include "platform/process.h"

namespace vantrel {

namespace {

// The part of the service's file name that thread file names are built from: the name up
// to its last "." (for HTML, up to the last "." before ".htm"). False when there is none.
bool ThreadLogBaseName(const std::string& serviceFileName, bool html, std::string* base) {
    size_t dot = serviceFileName.rfind('.');
    if (dot == std::string::npos) return false;
    std::string name = serviceFileName.substr(0, dot);
    if (html) {
        dot = name.rfind('.');
        if (dot == std::string::npos) return false;
        name.resize(dot);
    }
    *base = name;
    return true;
}

uint32_t ThreadLogMode(uint32_t serviceMode) {
    if (serviceMode & LogModeMergeFromMemory) {
        return serviceMode | LogModeNoFileOutput | LogModeTruncate | LogModeDeleteOnClose;
    }
    if (serviceMode & LogModeMergeFromFiles) {
        return serviceMode | LogModeNoSummary | LogModeTruncate | LogModeDeleteOnClose;
    }
    return serviceMode | LogModeTruncate;
}

}  // namespace

CLog* CLogService::GetThreadLog() {
    const uint32_t id = platform::GetCurrentThreadId();
    platform::CriticalSectionGuard guard(*lock);
    int32_t index = -1;
    // Only a new log needs the thread's handle, so a thread that has its log asks for none.
    if (CLog* log = FindThreadLog(id, &index)) return log;
    platform::ThreadHandle handle = nullptr;
    if (!platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle)) return nullptr;
    CLog* log = nullptr;
    try {
        log = CreateThreadLog(handle, id);
    } catch (...) {
        platform::CloseThreadHandle(handle);
        throw;
    }
    if (!log) platform::CloseThreadHandle(handle);
    return log;
}

namespace {

// The logs this thread found last, by service and thread id (a forked child's thread has a
// new id, so it never takes its parent's log). A thread log lives as long as its service is
// open, and only this thread uses its own.
struct KnownThreadLog {
    uint64_t serviceSerial = 0;
    uint32_t threadId = 0;
    CLog* log = nullptr;
};
constexpr size_t kKnownThreadLogs = 4;
thread_local KnownThreadLog knownThreadLogs[kKnownThreadLogs];
thread_local size_t nextKnownThreadLog = 0;

}  // namespace

CLog* CLogService::CallingThreadLog() {
    const uint32_t id = platform::GetCurrentThreadId();
    for (const KnownThreadLog& known : knownThreadLogs) {
        if (known.serviceSerial == serial && known.threadId == id) return known.log;
    }
    CLog* log;
    {
        platform::CriticalSectionGuard guard(*lock);
        log = GetThreadLog();
    }
    if (log) {
        knownThreadLogs[nextKnownThreadLog] = KnownThreadLog{serial, id, log};
        nextKnownThreadLog = (nextKnownThreadLog + 1) % kKnownThreadLogs;
    }
    return log;
}

CLog* CLogService::FindThreadLog(uint32_t id, int32_t* index) {
    for (size_t i = threadLogs.size(); i-- > 0;) {
        CLog* log = threadLogs[i];
        // A log whose thread has ended is skipped, so a recycled id gets a log of its own.
        if (log && log->GetThreadId() == id &&
            !platform::IsThreadSignalled(log->GetThreadHandle())) {
            if (index) *index = static_cast<int32_t>(i);
            return log;
        }
    }
    if (index) *index = -1;
    return nullptr;
}

CLog* CLogService::CreateThreadLog(platform::ThreadHandle hThread, uint32_t id) {
    int32_t found = -1;
    if (FindThreadLog(id, &found)) return nullptr;
    std::string base;
    if (!ThreadLogBaseName(fileName, (mode & LogModeHtml) != 0, &base)) return nullptr;

    auto log = std::make_unique<CLog>();
    size_t index;
    // Entry 0 belongs to the loading thread. Once filled it is kept even after that thread
    // ends: its text stays in the merge, and a new thread with a recycled id is appended
    // rather than taking over entry 0 (and its part file name).
    if (id == threadId && !threadLogs.empty() && threadLogs[0] == nullptr) {
        index = 0;
    } else {
        threadLogs.push_back(nullptr);
        index = threadLogs.size() - 1;
    }
    const std::string name = base + "_" + std::to_string(index) + ".log";
    CLog* created = log.release();
    threadLogs[index] = created;
    // Entering a lock this thread holds already is a plain count, not an atomic operation:
    // where the service's lock is held around every entry, the thread log takes that one.
    if (EntriesUnderServiceLock()) created->lock = lock;
    // A log whose Open failed still stays registered; its writes then fail inside it.
    created->Open(processId, hThread, id, ThreadLogMode(mode), folder.c_str(), name.c_str(),
                  cacheSize, indentSize);
    return created;
}

}  // namespace vantrel

#include "log/clog_service.h"

#include "log/log_mode.h"
#include "log/open_log_files.h"
#include "platform/atom_table.h"
#include "platform/clock.h"
#include "platform/platform_config.h"

namespace vantrel {

namespace {
std::atomic<uint64_t> nextServiceSerial{1};
}  // namespace

uint64_t NewServiceSerial() {
    return nextServiceSerial.fetch_add(1, std::memory_order_relaxed);
}

CLogService::CLogService() : serial(NewServiceSerial()) {}

CLogService::~CLogService() {
    ForgetOpenLogFile(*this);
    // Close normally empties the registry. Logs still here mean the service was destroyed
    // without Close; release them rather than leak their handles and part files.
    for (auto entry = threadLogs.rbegin(); entry != threadLogs.rend(); ++entry) {
        CLog* log = *entry;
        if (!log) continue;
        try {
            if (log->GetIsOpen()) log->Close();
        } catch (...) {
        }
        delete log;
    }
    threadLogs.clear();
    // The CLog part releases the thread handle that Init took, also after a failed Init.
}

template <typename Operation>
int32_t CLogService::Forward(Operation operation) {
    if (!lock) return 0;  // not opened by Init, or already closed
    if (!EntriesUnderServiceLock()) {
        // Nothing of the service is touched after the look-up: the entry goes into the
        // thread's own log under that log's lock, so threads do not wait for each other.
        CLog* log = CallingThreadLog();
        return log ? operation(*log) : 0;
    }
    // The merge reads the thread logs' caches under the service's lock alone, so an entry
    // that a merge follows is made under it too.
    platform::CriticalSectionGuard guard(*lock);
    CLog* log = CallingThreadLog();
    if (!log) return 0;
    int32_t result = operation(*log);
    // The caller relies on the file being complete when the call returns; a merge that
    // failed (full disk, file held elsewhere) must not pass for success. The text stays in
    // the thread's cache and goes in with the next merge that works.
    if constexpr (platform::kLogFilesStayOpenBetweenCalls) {
        if (!MergeIntoKeptFile()) result = 0;
    } else {
        if (!IsFileOpen() && !OpenFile()) result = 0;
        if (IsFileOpen() && !CloseFile()) result = 0;
    }
    return result;
}

namespace {
// How long an open file may go without a look at its path: what other programs do to it
// (delete, cut, move away, replace) is noticed within this time, at one fstat and one lstat
// per interval instead of per entry.
constexpr int64_t kPathCheckInterval = 100000000;  // ns: 100 ms
}  // namespace

int32_t CLogService::MergeIntoKeptFile() {
    const int64_t now = platform::CoarseMonotonicNanoseconds();
    if (file.IsOpen() && now - pathCheckedAt >= kPathCheckInterval) {
        uint64_t length = 0;
        if (file.IsStillAtPath(&length)) {
            // A length that is not what the last merge left makes the merge rewrite all.
            knownFileLength = length;
            fileLengthKnown = true;
        } else {
            // The reopening below makes the log whole again at its path; the file that was
            // moved away keeps what it held.
            file.Abort();
            fileLengthKnown = false;
        }
        pathCheckedAt = now;
    }
    if (!file.IsOpen()) {
        if (!OpenFile()) return 0;
        pathCheckedAt = now;  // the opening went by the path
    }
    lastUsedAt.store(now, std::memory_order_relaxed);
    if (!keptOpen) {
        keptOpen = true;
        KeepLogFileOpen(*this);
    }
    // FlushCache without taking the lock again.
    return isOpen && (mode & LogModeMergeFromMemory) ? MergeFromMemory() : FlushCache(false);
}

bool CLogService::ReleaseKeptFile() {
    if (!lock || !lock->TryEnter()) return false;
    // Complete since its last call; its next call opens it again.
    file.Abort();
    fileLengthKnown = false;
    keptOpen = false;
    lock->Leave();
    return true;
}

int32_t CLogService::Printf(int32_t device, const char* format, va_list args) {
    if (!format) return 0;
    return Forward([&](CLog& log) { return log.Printf(device, format, args); });
}

int32_t CLogService::DrawBitmap(int32_t device, const char* imageName, void* bitmap,
                                const char* format, va_list args) {
    if (!format) return 0;
    return Forward(
        [&](CLog& log) { return log.DrawBitmap(device, imageName, bitmap, format, args); });
}

int32_t CLogService::FuncBegin(int32_t device, const char* funcName) {
    const char* name = funcName ? funcName : "";
    return Forward([&](CLog& log) { return log.FuncBegin(device, name); });
}

int32_t CLogService::FuncEnd(int32_t device) {
    return Forward([&](CLog& log) { return log.FuncEnd(device); });
}

int32_t CLogService::Close() {
    ForgetOpenLogFile(*this);
    keptOpen = false;
    int32_t result = 1;
    // The final merge must run before the thread logs close, since closing deletes their
    // part files and their text.
    if ((mode & (LogModeMergeFromMemory | LogModeMergeFromFiles)) && lock) {
        result = CLog::Close();
    }
    // When the final merge could not bring the texts from the part files into the service
    // file, the part files are all that is left of them; a thread log's Close would delete
    // its file, so the logs are only released.
    const bool keepPartFiles =
        result == 0 && (mode & LogModeMergeFromFiles) && !(mode & LogModeMergeFromMemory);
    for (auto entry = threadLogs.rbegin(); entry != threadLogs.rend(); ++entry) {
        CLog* log = *entry;
        if (!log) continue;
        if (log->GetIsOpen() && !keepPartFiles) {
            result &= log->Close();
        } else {
            result = 0;
        }
        delete log;
    }
    threadLogs.clear();
    serial = NewServiceSerial();  // the threads' memory of the logs just destroyed
    mergedTexts.clear();
    mergedTextsValid = false;
    summaryThreads = -1;
    if (atom != 0) {
        platform::DeleteAtom(atom);
        atom = 0;
    }
    return result;
}

void CLogService::Abandon() {
    for (CLog* log : threadLogs) {
        if (!log) continue;
        log->GetFileObject().Abort();
        delete log;  // a log destroyed without Close touches no file
    }
    threadLogs.clear();
    serial = NewServiceSerial();  // the threads' memory of the logs just destroyed
    ForgetOpenLogFile(*this);
    keptOpen = false;
    file.Abort();
    isOpen = 0;
    mergedTexts.clear();
    mergedTextsValid = false;
    if (atom != 0) {
        platform::DeleteAtom(atom);
        atom = 0;
    }
}

bool CLogService::IsCacheFull() {
    int64_t total = 0;
    for (CLog* log : threadLogs) {
        if (log) total += log->GetCacheLength();
    }
    return total > cacheSize;
}

bool CLogService::IsCacheEmpty() {
    for (CLog* log : threadLogs) {
        if (log && !log->IsCacheEmpty()) return false;
    }
    return true;
}

void CLogService::Commit() {
    if (!lock) return;
    platform::CriticalSectionGuard guard(*lock);
    try {
        if (IsFileOpen()) {
            CloseFile();
            OpenFile();
        } else {
            OpenFile();
            CloseFile();
        }
    } catch (const platform::FileError&) {
    }
}

}  // namespace vantrel

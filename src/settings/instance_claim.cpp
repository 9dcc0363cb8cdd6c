// Establishing the process instance: which executable runs, and which instance number this
// process holds among the live processes of that executable.
#include "manager/log_service_mgr.h"
#include "platform/named_mutex.h"
#include "platform/platform_config.h"
#include "platform/process.h"
#include "settings/process_identity.h"

namespace vantrel {

namespace {

// The search for a free number has no natural end when mutex creation fails for a reason
// that does not depend on the number; these bounds end it with a failed claim.
constexpr int32_t kMaxInstanceNumber = 4096;
constexpr int kMaxConsecutiveCreateFailures = 16;

}  // namespace

bool CLogServiceMgr::establishInstance() {
    if (readyLevel < 1 || !hExeModule) return false;
    std::string path;
    if (!platform::GetModuleFileName(hExeModule, &path) || path.empty()) return false;
    std::string exeFolder, exeFileName;
    if (!splitExecutablePath(path, platform::kPathSeparator, platform::kExecutableNeedsExtension,
                             &exeFolder, &exeFileName)) {
        return false;
    }
    if (!claimInstanceNumber(exeFolder, exeFileName, hProcess, processId)) return false;
    instanceFolder =
        makeInstanceFolder(exeFolder, exeFileName, instanceNumber, platform::kPathSeparator);
    ++readyLevel;
    return true;
}

bool CLogServiceMgr::claimInstanceNumber(const std::string& exeFolder,
                                         const std::string& exeFileName,
                                         platform::ProcessHandle process, uint32_t pid) {
    platform::SystemTime creationTime;
    if (!platform::GetProcessCreationLocalTime(process, &creationTime)) return false;
    const std::string identity = makeIdentity(pid, creationTime);

    std::string keyName;
    // Only failures in a row end the search: a number held by another process breaks the run.
    int createFailures = 0;
    for (int32_t number = 1; number <= kMaxInstanceNumber; ++number) {
        // At each number the process's own record is tested before the mutex, so a process
        // that loads the library again takes its old number back; it holds the number's mutex
        // again, or another process could take the number from under it.
        const bool ownRecord = readIdentifier(exeFolder, exeFileName, number, &keyName) == identity;
        const std::string mutexName = keyName + "/" + makeProcName(number);
        if (!ownRecord && platform::ScopedNamedMutex(platform::OpenNamedMutex(mutexName))) {
            createFailures = 0;  // another process holds this number
            continue;
        }
        bool existed = false;
        platform::ScopedNamedMutex fresh(platform::CreateNamedMutex(mutexName, &existed));
        if (!fresh) {
            if (++createFailures >= kMaxConsecutiveCreateFailures) return false;
            continue;
        }
        createFailures = 0;
        if (existed) continue;  // another process created it first
        if (!ownRecord && !writeIdentifier(exeFolder, exeFileName, number, pid, creationTime)) {
            instanceMutex = nullptr;
            processKeyName.clear();
            instanceNumber = 0;
            return false;
        }
        instanceMutex = fresh.release();
        processKeyName = keyName;
        instanceNumber = number;
        return true;
    }
    return false;
}

}  // namespace vantrel

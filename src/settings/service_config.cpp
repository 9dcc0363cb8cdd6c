// CLogService::Init: the configuration of a log service from the settings of its log key.
#include <string>

#include "log/clog_service.h"
#include "log/log_mode.h"
#include "settings/process_identity.h"
#include "settings/settings_store.h"

namespace vantrel {

namespace {

// Used when a setting can be neither read nor created, in the order of Setting.
constexpr int32_t kUnreadableFallback[kSettingCount] = {0, 1, 64, 0, 0, 3, 0, 0};

bool IsLogNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.';
}

// Letters, digits, "_" and "." only: the name becomes an atom, a registry key and a file. A
// final "." is refused too: Windows drops it, so "x.log." would write the file of "x.log".
bool IsValidLogName(const char* name) {
    if (!name || !*name) return false;
    const char* c = name;
    for (; *c; ++c) {
        if (!IsLogNameCharacter(*c)) return false;
    }
    return c[-1] != '.';
}

int32_t ReadOrCreateSetting(Setting setting, const std::string& instancePath,
                            const std::string& logName) {
    uint32_t value = readSetting(setting, instancePath, logName);
    if (value == kMissingMarker) {
        writeSettingDefault(setting, instancePath, logName);
        value = readSetting(setting, instancePath, logName);
        if (value == kMissingMarker) return kUnreadableFallback[static_cast<int>(setting)];
    }
    return static_cast<int32_t>(value);
}

uint32_t ModeFromSettings(const int32_t (&values)[kSettingCount]) {
    auto value = [&](Setting setting) { return values[static_cast<int>(setting)]; };
    uint32_t mode = LogModeMergeFromFiles;
    if (value(Setting::ShowThreadId) != 0) mode |= LogModeThreadId;
    if (value(Setting::NeedTimeStamp) != 0) mode |= LogModeTimeStamp;
    if (value(Setting::WriteImmediately) > 0) {
        mode |= LogModeWriteImmediately | LogModeMergeFromMemory;
    }
    if (value(Setting::CreateNewLogFile) == 0) mode |= LogModeAppend;
    if (value(Setting::HtmlDoc) != 0) mode |= LogModeHtml;
    return mode;
}

}  // namespace

int32_t CLogService::Init(const std::string& processKeyName, int32_t instanceNumber,
                          uint16_t atomOfName, uint32_t pid, platform::ThreadHandle hThread,
                          uint32_t initThreadId, uint32_t modeArgument, const char* folderPath,
                          const char* logName) {
    // The service owns the handle from here on, also when it fails before Open takes it.
    threadHandle = hThread;
    // Registry paths always use "\", whatever the file system's separator.
    const std::string instancePath = processKeyName + "\\" + makeProcName(instanceNumber);
    if (!IsValidLogName(logName)) return 0;

    int32_t values[kSettingCount];
    for (int i = 0; i < kSettingCount; ++i) {
        values[i] = ReadOrCreateSetting(static_cast<Setting>(i), instancePath, logName);
    }
    const uint32_t logMode =
        modeArgument == LogModeFromSettings ? ModeFromSettings(values) : modeArgument;

    atom = atomOfName;
    mergedLength = 0;
    int32_t result = 0;
    if (Open(pid, hThread, initThreadId, logMode, folderPath, logName,
             values[static_cast<int>(Setting::CacheSizeKB)],
             values[static_cast<int>(Setting::IndentSize)])) {
        std::string recordedFolder;
        {
            platform::CriticalSectionGuard guard(*lock);
            recordedFolder = folder;
        }
        if (!recordedFolder.empty()) recordedFolder.pop_back();  // the final separator
        result = writeLogFolderPath(instancePath, logName, recordedFolder) ? 1 : 0;
    }
    threadLogs.push_back(nullptr);  // entry 0: the loading thread's, filled on its first call
    return result;
}

}  // namespace vantrel

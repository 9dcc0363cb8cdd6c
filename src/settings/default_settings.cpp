// Start-up of the settings: the defaults key must hold all eight values before the library
// may go on to claim its instance.
#include "manager/log_service_mgr.h"
#include "platform/clock.h"
#include "settings/settings_store.h"

namespace vantrel {

bool CLogServiceMgr::loadDefaultSettings(platform::ProcessHandle process, uint32_t pid,
                                         platform::ModuleHandle exeModule,
                                         platform::ThreadHandle thread, uint32_t threadId) {
    hProcess = process;
    processId = pid;
    hExeModule = exeModule;
    hInitThread = thread;
    initThreadId = threadId;

    bool ok = true;
    for (int i = 0; i < kSettingCount; ++i) {
        auto setting = static_cast<Setting>(i);
        if (readSetting(setting, kDefaultsInstancePath, kDefaultsLogName) != kMissingMarker) {
            continue;
        }
        writeSettingDefault(setting, kDefaultsInstancePath, kDefaultsLogName);
        if (readSetting(setting, kDefaultsInstancePath, kDefaultsLogName) == kMissingMarker) {
            ok = false;
        }
    }
    // A store that another process holds is tried again by a later call; missing rights or
    // a damaged store stay failures for the life of the process.
    defaultsStoreBusy = !ok && settingsStoreBusy();
    defaultsTriedAtMs = platform::TimeGetTime();
    if (!ok) return false;
    ++readyLevel;
    return true;
}

}  // namespace vantrel

#include "settings/settings_store.h"

#include "platform/registry.h"

namespace vantrel {

const char kRootSubKey[] = "Software\\Osmirel Systems\\Kelvra";
const char kDefaultsInstancePath[] = "default settings\\proc";
const char kDefaultsLogName[] = "log";

namespace {

constexpr SettingInfo kSettings[kSettingCount] = {
    {"NeedTimeStamp", 0},    {"ShowThreadId", 1}, {"CacheSize(KB)", 256}, {"CreateNewLogFile", 1},
    {"WriteImmediately", 1}, {"IndentSize", 3},   {"HtmlDoc", 0},         {"OutDev", 0},
};

// Opens or creates a settings key with the rights the writers use.
bool CreateSettingsKey(const std::string& instancePath, const std::string& logName,
                       platform::ScopedRegKey* key) {
    return key->Create(ComposeSettingsKeyPath(instancePath, logName), platform::kKeyReadWrite) ==
           platform::kErrorSuccess;
}

}  // namespace

const SettingInfo& GetSettingInfo(Setting setting) {
    return kSettings[static_cast<int>(setting)];
}

std::string ComposeSettingsKeyPath(const std::string& instancePath, const std::string& logName) {
    std::string path = kRootSubKey;
    path += '\\';
    path += instancePath;
    path += '\\';
    path += logName;
    return path;
}

uint32_t readSetting(Setting setting, const std::string& instancePath, const std::string& logName) {
    uint32_t result = kMissingMarker;
    platform::ScopedRegKey key;
    // Every read asks for all access: a key the user may read but not write reads as missing.
    if (key.Open(ComposeSettingsKeyPath(instancePath, logName), platform::kKeyAllAccess) !=
        platform::kErrorSuccess) {
        return kMissingMarker;
    }
    // Shorter data of another type replaces only the first bytes of the all-ones result.
    uint32_t size = sizeof result;
    if (platform::RegQueryValue(key.get(), GetSettingInfo(setting).valueName, nullptr, &result,
                                &size) != platform::kErrorSuccess) {
        result = kMissingMarker;
    }
    return result;
}

bool writeSettingDefault(Setting setting, const std::string& instancePath,
                         const std::string& logName) {
    platform::ScopedRegKey key;
    if (!CreateSettingsKey(instancePath, logName, &key)) return false;
    uint32_t value = readSetting(setting, kDefaultsInstancePath, kDefaultsLogName);
    if (value == kMissingMarker) value = GetSettingInfo(setting).builtInDefault;
    platform::RegSetValue(key.get(), GetSettingInfo(setting).valueName, platform::kRegDword, &value,
                          sizeof value);
    return true;
}

bool writeLogFolderPath(const std::string& instancePath, const std::string& logName,
                        const std::string& folderPath) {
    platform::ScopedRegKey key;
    if (!CreateSettingsKey(instancePath, logName, &key)) return false;
    platform::RegSetValue(key.get(), "LogFolderPath", platform::kRegSz, folderPath.data(),
                          static_cast<uint32_t>(folderPath.size()));
    return true;
}

bool settingsStoreBusy() {
    platform::ScopedRegKey key;
    return key.Open(ComposeSettingsKeyPath(kDefaultsInstancePath, kDefaultsLogName),
                    platform::kKeyAllAccess) == platform::kErrorBusy;
}

}  // namespace vantrel

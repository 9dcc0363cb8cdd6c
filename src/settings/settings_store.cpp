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
platform::RegKey CreateSettingsKey(const std::string& instancePath, const std::string& logName) {
    platform::RegKey key = nullptr;
    if (platform::RegCreateKey(ComposeSettingsKeyPath(instancePath, logName),
                               platform::kKeyReadWrite, &key) != platform::kErrorSuccess) {
        return nullptr;
    }
    return key;
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
    platform::RegKey key = nullptr;
    // Every read asks for all access: a key the user may read but not write reads as missing.
    if (platform::RegOpenKey(ComposeSettingsKeyPath(instancePath, logName), platform::kKeyAllAccess,
                             &key) != platform::kErrorSuccess) {
        return kMissingMarker;
    }
    // Shorter data of another type replaces only the first bytes of the all-ones result.
    uint32_t size = sizeof result;
    if (platform::RegQueryValue(key, GetSettingInfo(setting).valueName, nullptr, &result, &size) !=
        platform::kErrorSuccess) {
        result = kMissingMarker;
    }
    platform::RegCloseKey(key);
    return result;
}

bool writeSettingDefault(Setting setting, const std::string& instancePath,
                         const std::string& logName) {
    platform::RegKey key = CreateSettingsKey(instancePath, logName);
    if (!key) return false;
    uint32_t value = readSetting(setting, kDefaultsInstancePath, kDefaultsLogName);
    if (value == kMissingMarker) value = GetSettingInfo(setting).builtInDefault;
    platform::RegSetValue(key, GetSettingInfo(setting).valueName, platform::kRegDword, &value,
                          sizeof value);
    platform::RegCloseKey(key);
    return true;
}

bool writeLogFolderPath(const std::string& instancePath, const std::string& logName,
                        const std::string& folderPath) {
    platform::RegKey key = CreateSettingsKey(instancePath, logName);
    if (!key) return false;
    platform::RegSetValue(key, "LogFolderPath", platform::kRegSz, folderPath.data(),
                          static_cast<uint32_t>(folderPath.size()));
    platform::RegCloseKey(key);
    return true;
}

bool settingsStoreBusy() {
    platform::RegKey key = nullptr;
    const long result =
        platform::RegOpenKey(ComposeSettingsKeyPath(kDefaultsInstancePath, kDefaultsLogName),
                             platform::kKeyAllAccess, &key);
    if (result == platform::kErrorSuccess) platform::RegCloseKey(key);
    return result == platform::kErrorBusy;
}

}  // namespace vantrel

// The registry settings store: below HKEY_CURRENT_USER\Software\Osmirel Systems\Kelvra, a
// defaults key with the eight DWORD settings, instance keys and one key per log file name.
// Nothing is kept in memory: each operation opens, touches one value and closes its key.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

enum class Setting {
    NeedTimeStamp,
    ShowThreadId,
    CacheSizeKB,
    CreateNewLogFile,
    WriteImmediately,
    IndentSize,
    HtmlDoc,
    OutDev,
};
constexpr int kSettingCount = 8;

struct SettingInfo {
    const char* valueName;
    uint32_t builtInDefault;
};

// Name and built-in default of a setting; settings are numbered in the order of the enum.
const SettingInfo& GetSettingInfo(Setting setting);

// What a DWORD read yields when the value is absent.
constexpr uint32_t kMissingMarker = 0xFFFFFFFF;

extern const char kRootSubKey[];            // Software\Osmirel Systems\Kelvra
extern const char kDefaultsInstancePath[];  // default settings\proc
extern const char kDefaultsLogName[];       // log

// root + "\" + instancePath + "\" + logName.
std::string ComposeSettingsKeyPath(const std::string& instancePath, const std::string& logName);

// The DWORD value, or kMissingMarker when the key or value cannot be read.
uint32_t readSetting(Setting setting, const std::string& instancePath, const std::string& logName);
// Creates the key if needed and writes the setting's current default (the defaults key's
// value, else the built-in one). True when the key could be created or opened.
bool writeSettingDefault(Setting setting, const std::string& instancePath,
                         const std::string& logName);
// True when the store is locked by another process (a transient failure), as opposed to
// missing rights or a damaged store.
bool settingsStoreBusy();
// Creates the key if needed and writes "LogFolderPath" (REG_SZ, no terminating zero).
bool writeLogFolderPath(const std::string& instancePath, const std::string& logName,
                        const std::string& folderPath);

}  // namespace vantrel

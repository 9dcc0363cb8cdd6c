#include "support/settings_values.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "settings/settings_store.h"

namespace vantrel::test {

void PutValue(const std::string& keyPath, const char* name, uint32_t type, const void* data,
              uint32_t size) {
    platform::RegKey key = nullptr;
    ASSERT_EQ(platform::RegCreateKey(keyPath, platform::kKeyAllAccess, &key), 0) << keyPath;
    EXPECT_EQ(platform::RegSetValue(key, name, type, data, size), platform::kErrorSuccess) << name;
    platform::RegCloseKey(key);
}

void PutLogSetting(const std::string& instancePath, const std::string& logName, const char* name,
                   uint32_t value) {
    PutValue(ComposeSettingsKeyPath(instancePath, logName), name, platform::kRegDword, &value, 4);
}

void PutDefaultSetting(const char* name, uint32_t value) {
    PutLogSetting(kDefaultsInstancePath, kDefaultsLogName, name, value);
    platform::ReleaseRegistryStore();
}

std::optional<std::string> GetValue(const std::string& keyPath, const char* name) {
    platform::RegKey key = nullptr;
    if (platform::RegOpenKey(keyPath, platform::kKeyRead, &key) != platform::kErrorSuccess)
        return std::nullopt;
    char data[1024];
    uint32_t size = sizeof data;
    const long status = platform::RegQueryValue(key, name, nullptr, data, &size);
    platform::RegCloseKey(key);
    if (status != platform::kErrorSuccess) return std::nullopt;
    return std::string(data, size);
}

}  // namespace vantrel::test

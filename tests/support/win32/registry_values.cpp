#include "support/win32/registry_values.h"

#include <gtest/gtest.h>

#include "settings/settings_store.h"
#include "win32_api.h"

namespace vantrel::test {

namespace {

std::string FullPath(const std::string& key) {
    return std::string(kRootSubKey) + "\\" + key;
}

}  // namespace

RegistryValue QueryValue(const std::string& key, const std::string& name) {
    RegistryValue value;
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, FullPath(key).c_str(), 0, KEY_READ, &handle) !=
        ERROR_SUCCESS) {
        return value;
    }
    char buffer[1024];
    DWORD type = 0, size = sizeof buffer;
    if (::RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                           &size) == ERROR_SUCCESS) {
        value.found = true;
        value.type = type;
        value.data.assign(buffer, size);
    }
    ::RegCloseKey(handle);
    return value;
}

bool KeyExists(const std::string& key) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, FullPath(key).c_str(), 0, KEY_READ, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(handle);
    return true;
}

void SetDword(const std::string& key, const std::string& name, uint32_t value) {
    HKEY handle = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, FullPath(key).c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExA(handle, name.c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
    ::RegCloseKey(handle);
}

}  // namespace vantrel::test

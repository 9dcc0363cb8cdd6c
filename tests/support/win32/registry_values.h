// The settings tree as the registry API itself shows it, for checking what hosts left there.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel::test {

struct RegistryValue {
    bool found = false;
    uint32_t type = 0;
    std::string data;  // the raw bytes, exactly as many as the registry reports
};

// Key paths are below HKEY_CURRENT_USER\Software\Osmirel Systems\Kelvra.
RegistryValue QueryValue(const std::string& key, const std::string& name);
bool KeyExists(const std::string& key);
void SetDword(const std::string& key, const std::string& name, uint32_t value);

}  // namespace vantrel::test

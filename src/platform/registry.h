// The registry below HKEY_CURRENT_USER, reduced to the calls the library makes. Results are
// Windows error codes (0 = success), so both backends report alike.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"

namespace vantrel::platform {

// Access rights, with the values of the Windows constants.
constexpr uint32_t kKeyAllAccess = 0xF003F;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyReadWrite = kKeyRead | kKeyWrite;  // 0x2001F

// Value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Result codes.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorMoreData = 234;
constexpr long kErrorBusy = 170;

// RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, rights). Asking for write rights fails when
// the store cannot be written.
long RegOpenKey(const std::string& subKey, uint32_t rights, RegKey* key);
// RegCreateKeyExA(HKEY_CURRENT_USER, subKey, ...): creates missing keys on the way.
long RegCreateKey(const std::string& subKey, uint32_t rights, RegKey* key);
// RegQueryValueExA: *size is the buffer size on entry and the data size on return; a
// buffer that is too small fails with kErrorMoreData and leaves the buffer alone. type and
// data may be null.
long RegQueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size);
// RegSetValueExA.
long RegSetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size);
void RegCloseKey(RegKey key);

// Owns an open key: closes it on every way out of the scope that opened it.
class ScopedRegKey {
  public:
    ScopedRegKey() = default;
    ~ScopedRegKey() {
        if (key_) RegCloseKey(key_);
    }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;

    // RegOpenKey / RegCreateKey into this owner (which must not hold a key yet).
    long Open(const std::string& subKey, uint32_t rights) {
        return RegOpenKey(subKey, rights, &key_);
    }
    long Create(const std::string& subKey, uint32_t rights) {
        return RegCreateKey(subKey, rights, &key_);
    }
    RegKey get() const { return key_; }

  private:
    RegKey key_ = nullptr;
};

// Lets go of whatever the backend keeps open for the store (the POSIX backend keeps one
// database connection); the next call opens it again. Called at unload, and by tests after
// they point the store elsewhere.
void ReleaseRegistryStore();
}  // namespace vantrel::platform

// The registry below HKEY_CURRENT_USER, through the single-byte calls.
#include "platform/registry.h"

#include <cstring>
#include <vector>

#include "platform/test_seam.h"
#include "platform/win32/win32_api.h"

namespace vantrel::platform {

namespace {

using testing::Fault;
using testing::ShouldFail;

HKEY ToHkey(RegKey key) {
    return win32::HandleCast<HKEY>(key);
}

}  // namespace

long RegOpenKey(const std::string& subKey, uint32_t rights, RegKey* key) {
    *key = nullptr;
    if (ShouldFail(Fault::RegistryOpen)) return kErrorAccessDenied;
    HKEY opened = nullptr;
    const LONG result = ::RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, rights, &opened);
    if (result == ERROR_SUCCESS) *key = win32::HandleCast<RegKey>(opened);
    return result;
}

long RegCreateKey(const std::string& subKey, uint32_t rights, RegKey* key) {
    *key = nullptr;
    if (ShouldFail(Fault::RegistryCreate)) return kErrorAccessDenied;
    // Settings keys are made with read and write rights, the empty class and a key that
    // persists; the instance record is made with write rights alone and no class.
    char emptyClass[] = "";
    const bool writeOnly = rights == kKeyWrite;
    HKEY created = nullptr;
    DWORD disposition = 0;
    const LONG result =
        ::RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, writeOnly ? nullptr : emptyClass,
                          REG_OPTION_NON_VOLATILE, rights, nullptr, &created, &disposition);
    if (result == ERROR_SUCCESS) *key = win32::HandleCast<RegKey>(created);
    return result;
}

long RegQueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
    if (ShouldFail(Fault::RegistryQuery)) return kErrorAccessDenied;
    DWORD storedType = 0;
    DWORD dataSize = size ? *size : 0;
    // The system leaves the caller's buffer undefined when the data does not fit; the
    // interface promises to leave it alone, so the data lands in a buffer of our own first.
    std::vector<BYTE> landing(data ? (dataSize > 0 ? dataSize : 1) : 0);
    const LONG result =
        ::RegQueryValueExA(ToHkey(key), name, nullptr, &storedType, data ? landing.data() : nullptr,
                           size ? &dataSize : nullptr);
    if (type) *type = storedType;
    if (size) *size = dataSize;
    if (result == ERROR_SUCCESS && data && dataSize > 0) memcpy(data, landing.data(), dataSize);
    return result;
}

long RegSetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) {
    if (ShouldFail(Fault::RegistrySet)) return kErrorAccessDenied;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    // RegSetValueExA counts one more byte for string data that it was given without its
    // terminating zero when a zero follows in memory, and stores that zero. Strings are
    // stored with exactly the size given, so they are passed from a copy that has none.
    std::vector<BYTE> unterminated;
    const bool isString = type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
    if (isString && bytes && size > 0 && bytes[size - 1] != 0) {
        unterminated.assign(bytes, bytes + size);
        unterminated.push_back(1);
        bytes = unterminated.data();
    }
    return ::RegSetValueExA(ToHkey(key), name, 0, type, bytes, size);
}

void RegCloseKey(RegKey key) {
    if (key) ::RegCloseKey(ToHkey(key));
}

void ReleaseRegistryStore() {
    // Nothing is kept open between calls: every key is closed by the operation that opened it.
}

}  // namespace vantrel::platform

#include "key_path.h"

#include "ascii_case.h"
#include "platform/posix/registry_store.h"

namespace vantrel::reg {

namespace {

bool IsOtherHive(std::string_view hive) {
    for (const char* name : {"HKLM", "HKEY_LOCAL_MACHINE", "HKCR", "HKEY_CLASSES_ROOT", "HKU",
                             "HKEY_USERS", "HKCC", "HKEY_CURRENT_CONFIG"}) {
        if (EqualsIgnoringAsciiCase(hive, name)) return true;
    }
    return false;
}

}  // namespace

bool ParseKeyName(std::string_view text, std::string* subPath, std::string* error) {
    if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
        *error = "Remote machines are not supported; use HKCU\\... on this machine.";
        return false;
    }
    size_t separator = text.find('\\');
    std::string_view hive = text.substr(0, separator);
    std::string_view rest =
        separator == std::string_view::npos ? std::string_view() : text.substr(separator + 1);
    if (!EqualsIgnoringAsciiCase(hive, "HKCU") &&
        !EqualsIgnoringAsciiCase(hive, "HKEY_CURRENT_USER")) {
        if (IsOtherHive(hive)) {
            *error = "Only HKEY_CURRENT_USER (HKCU) exists here; " + std::string(hive) +
                     " is a Windows-only hive.";
        } else {
            *error = "Invalid key name \"" + std::string(text) +
                     "\": it must start with HKCU\\ or HKEY_CURRENT_USER\\.";
        }
        return false;
    }
    if (platform::RegistryStore::NormalizePath(rest, subPath) != platform::kErrorSuccess) {
        *error = "Invalid key name \"" + std::string(text) + "\".";
        return false;
    }
    return true;
}

std::string FullKeyName(std::string_view subPath) {
    std::string name = "HKEY_CURRENT_USER";
    if (!subPath.empty()) {
        name += '\\';
        name.append(subPath);
    }
    return name;
}

}  // namespace vantrel::reg

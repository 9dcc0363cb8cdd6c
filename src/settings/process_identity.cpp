#include "settings/process_identity.h"

#include <cstdio>

#include "platform/ascii_case.h"
#include "platform/registry.h"
#include "settings/settings_store.h"

namespace vantrel {

namespace {
constexpr char kIdentifierValue[] = "Identifier";
constexpr uint32_t kIdentifierBufferSize = 256;
}  // namespace

std::string makeProcName(int32_t number) {
    return number > 0 ? "proc" + std::to_string(number) : std::string("proc");
}

std::string makeProcessKeyName(const std::string& exeFolder, const std::string& exeFileName) {
    std::string name = exeFolder + "/" + exeFileName;
    for (char& c : name) c = c == '\\' ? '/' : platform::AsciiLower(c);
    return name;
}

std::string makeIdentity(uint32_t processId, const platform::SystemTime& t) {
    char text[128];
    snprintf(text, sizeof text, "0x%x, %d/%d/%d %02d:%02d:%02d:%03d", processId, t.year, t.month,
             t.day, t.hour, t.minute, t.second, t.milliseconds);
    return text;
}

std::string makeInstanceFolder(const std::string& exeFolder, const std::string& exeFileName,
                               int32_t number, char separator) {
    std::string folder = exeFolder;
    folder += separator;
    folder += "vantrel";
    folder += separator;
    folder += exeFileName;
    folder += separator;
    folder += makeProcName(number);
    return folder;
}

std::string makeInstanceKeyPath(const std::string& processKeyName, int32_t number) {
    return std::string(kRootSubKey) + "\\" + processKeyName + "\\" + makeProcName(number);
}

bool splitExecutablePath(const std::string& path, char separator, bool needsExtension,
                         std::string* exeFolder, std::string* exeFileName) {
    if (needsExtension) {
        size_t dot = path.rfind('.');
        if (dot == std::string::npos) return false;
        std::string stem = path.substr(0, dot);
        size_t slash = stem.rfind(separator);
        if (slash == std::string::npos) return false;
        *exeFolder = stem.substr(0, slash);
        *exeFileName = stem.substr(slash + 1) + "." + path.substr(dot + 1);
        return true;
    }
    size_t slash = path.rfind(separator);
    if (slash == std::string::npos || slash + 1 == path.size()) return false;
    *exeFolder = path.substr(0, slash);
    *exeFileName = path.substr(slash + 1);
    return true;
}

std::string readIdentifier(const std::string& exeFolder, const std::string& exeFileName,
                           int32_t number, std::string* keyName) {
    *keyName = makeProcessKeyName(exeFolder, exeFileName);
    platform::ScopedRegKey key;
    if (key.Open(makeInstanceKeyPath(*keyName, number), platform::kKeyAllAccess) !=
        platform::kErrorSuccess) {
        return std::string();
    }
    char buffer[kIdentifierBufferSize];
    uint32_t size = sizeof buffer;
    std::string text;
    if (platform::RegQueryValue(key.get(), kIdentifierValue, nullptr, buffer, &size) ==
        platform::kErrorSuccess) {
        size_t length = 0;
        while (length < size && buffer[length] != '\0') ++length;
        text.assign(buffer, length);
    }
    return text;
}

bool writeIdentifier(const std::string& exeFolder, const std::string& exeFileName, int32_t number,
                     uint32_t processId, const platform::SystemTime& creationTime) {
    std::string keyName = makeProcessKeyName(exeFolder, exeFileName);
    std::string identity = makeIdentity(processId, creationTime);
    platform::ScopedRegKey key;
    if (key.Create(makeInstanceKeyPath(keyName, number), platform::kKeyWrite) !=
        platform::kErrorSuccess) {
        // The number stays held by its mutex alone.
        return true;
    }
    return platform::RegSetValue(key.get(), kIdentifierValue, platform::kRegSz, identity.data(),
                                 static_cast<uint32_t>(identity.size())) == platform::kErrorSuccess;
}

}  // namespace vantrel

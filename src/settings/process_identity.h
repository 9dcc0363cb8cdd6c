// The names that identify a process instance: its proc name, registry key name, identity
// text and log folder, and the split of the executable's path.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace vantrel {

// "proc" + number for numbers above 0, the bare "proc" otherwise.
std::string makeProcName(int32_t number);
// exeFolder with separators turned into "/", "/", exeFileName; all lower-cased (ASCII).
std::string makeProcessKeyName(const std::string& exeFolder, const std::string& exeFileName);
// "0x%x, %d/%d/%d %02d:%02d:%02d:%03d" from the process id and its creation time.
std::string makeIdentity(uint32_t processId, const platform::SystemTime& creationTime);
// exeFolder + sep + "vantrel" + sep + exeFileName + sep + proc name.
std::string makeInstanceFolder(const std::string& exeFolder, const std::string& exeFileName,
                               int32_t number, char separator);
// The instance key below HKEY_CURRENT_USER: root + "\" + processKeyName + "\" + proc name.
std::string makeInstanceKeyPath(const std::string& processKeyName, int32_t number);

// Splits the executable's path into its folder (no trailing separator) and file name.
// With needsExtension the path must hold a "." (its last one marks the extension) and a
// separator before it; otherwise only a separator is needed. False when the path does not
// qualify.
bool splitExecutablePath(const std::string& path, char separator, bool needsExtension,
                         std::string* exeFolder, std::string* exeFileName);

// The identity recorded in the instance key of number (empty when there is none); gives the
// processKeyName it composed back through keyName.
std::string readIdentifier(const std::string& exeFolder, const std::string& exeFileName,
                           int32_t number, std::string* keyName);
// Writes the identity into the instance key of number. True when written, and also when the
// key cannot be created (the number is then held by its mutex alone).
bool writeIdentifier(const std::string& exeFolder, const std::string& exeFileName, int32_t number,
                     uint32_t processId, const platform::SystemTime& creationTime);

}  // namespace vantrel

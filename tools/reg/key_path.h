// Key names on the command line and in .reg files: "HKCU\..." or "HKEY_CURRENT_USER\...",
// the only hive the POSIX store has.
#pragma once

#include <string>
#include <string_view>

namespace vantrel::reg {

// Splits off the hive (letter case ignored; "HKCU" alone is the root) and returns the path
// below it, normalized as the store takes it. False with a one-line reason for another hive,
// a remote machine or a malformed path.
bool ParseKeyName(std::string_view text, std::string* subPath, std::string* error);

// "HKEY_CURRENT_USER" followed by "\" and the path below it, if any.
std::string FullKeyName(std::string_view subPath);

}  // namespace vantrel::reg

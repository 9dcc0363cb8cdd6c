// Writes keys and their values as a .reg file the way reg.exe exports them: "Windows
// Registry Editor Version 5.00", UTF-16LE with a byte-order mark, CR LF line ends. A pure
// function: export gathers the sections from the store.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/registry_store.h"

namespace vantrel::reg {

struct RegFileSection {
    std::string keyName;  // full name, "HKEY_CURRENT_USER\..."
    std::vector<platform::RegistryStore::Value> values;
};

// REG_SZ as "text" (with \\ and \" escaped, its terminating zero dropped) unless it holds a
// zero, CR or LF byte before its end, then as hex(1); REG_DWORD of 4 bytes as dword:;
// REG_BINARY as hex:; any other type as hex(N):. The data of hex(1), hex(2) and hex(7) is
// the text in UTF-16LE, as the Windows registry holds it. Hex data is wrapped as regedit
// wraps it.
std::string WriteRegFile(const std::vector<RegFileSection>& sections);

}  // namespace vantrel::reg

// Writes keys and their values as a .reg file in regedit's "Windows Registry Editor Version
// 5.00" format, single-byte text with LF line ends. A pure function: export gathers the
// sections from the store.
#pragma once

#include <string>
#include <vector>

#include "registry_store.h"

namespace vantrel::reg {

struct RegFileSection {
    std::string keyName;  // full name, "HKEY_CURRENT_USER\..."
    std::vector<platform::RegistryStore::Value> values;
};

// REG_SZ as "text" (with \\ and \" escaped) unless it holds a zero, CR or LF byte, then as
// hex(1): so that every byte comes back; REG_DWORD of 4 bytes as dword:; REG_BINARY as hex:;
// any other type as hex(N):. Hex data is wrapped as regedit wraps it.
std::string WriteRegFile(const std::vector<RegFileSection>& sections);

}  // namespace vantrel::reg

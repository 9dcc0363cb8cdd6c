// Value types and data as reg.exe spells them: type names, the /d text of `add`, and the
// data column of `query`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel::reg {

// The types `add /t` accepts (letter case ignored): REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ,
// REG_DWORD, REG_DWORD_LITTLE_ENDIAN, REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY, REG_NONE.
bool TypeFromName(std::string_view name, uint32_t* type);

// "REG_SZ", ...; a type without a name as "0x" and its number in hex.
std::string TypeName(uint32_t type);

// The bytes `add /d TEXT` stores, those the library would read on Windows after reg.exe
// stored them: strings with their terminating zero; REG_NONE as UTF-16LE text with its zero
// (a type the ANSI calls do not convert); REG_MULTI_SZ items are separated by the two characters
// "\0" (or by `separator` when it is not 0) and stored in the usual "a\0b\0\0" layout. DWORD and
// QWORD take decimal or 0x-prefixed hex; REG_BINARY takes hex digits. False with a reason for data
// the type cannot hold.
bool ParseData(uint32_t type, std::string_view text, char separator, std::string* bytes,
               std::string* error);

// The data column of `query`: text for strings, items joined by "\0" for REG_MULTI_SZ,
// 0x-hex for DWORD and QWORD, upper-case hex pairs for everything else.
std::string FormatData(uint32_t type, std::string_view bytes);

}  // namespace vantrel::reg

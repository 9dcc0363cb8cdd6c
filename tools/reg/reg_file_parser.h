// Reads the text of a .reg file (regedit's "Windows Registry Editor Version 5.00" format, or
// "REGEDIT4") into the list of changes it describes, without touching any store: import
// applies the list only when the whole file has parsed. A pure function of the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::reg {

struct RegFileOperation {
    enum class Kind {
        CreateKey,    // [HKEY_CURRENT_USER\path]: the following values go to this key
        DeleteKey,    // [-HKEY_CURRENT_USER\path]: the key and all below it
        SetValue,     // "Name"=data or @=data
        DeleteValue,  // "Name"=-
    };
    Kind kind = Kind::CreateKey;
    int line = 0;           // 1-based line where the entry starts
    std::string keyPath;    // below HKEY_CURRENT_USER, normalized; for values, their section's
    std::string valueName;  // "" = the default value (@)
    uint32_t type = 0;
    std::string data;  // the bytes to store; a quoted string with its terminating zero
};

struct RegFileParse {
    std::vector<RegFileOperation> operations;
    int errorLine = 0;  // 0 when the text parsed
    std::string error;  // what is wrong on errorLine
    bool ok() const { return errorLine == 0; }
};

// Accepts LF or CR LF line ends, a UTF-8 byte-order mark, and UTF-16LE text with its BOM,
// which is converted to the store's code page (text_encoding.h). The hex(1), hex(2) and
// hex(7) data of a version 5.00 file is UTF-16LE and converted the same way; REGEDIT4 data
// is stored as it is, and so is that of vantrel-reg's earlier 5.00 exports (8-bit text with
// LF line ends, which no Windows tool writes). Lines ending in "\" inside hex data continue on the
// next line. Lines starting with ";" are comments.
RegFileParse ParseRegFile(std::string_view text);

}  // namespace vantrel::reg

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
// which is converted to the store's code page (text_encoding.h). As regedit, it takes the
// hex(1), hex(2) and hex(7) data of a UTF-16 file (reg.exe's exports) for UTF-16LE and
// converts it the same way, and stores that of an 8-bit file (REGEDIT4, or vantrel-reg's
// earlier exports) as it is, whichever header the file has. Lines ending in "\" inside hex data
// continue on the next line. Lines starting with ";" are comments.
RegFileParse ParseRegFile(std::string_view text);

}  // namespace vantrel::reg

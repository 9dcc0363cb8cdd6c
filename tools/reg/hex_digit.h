// The value of one hex digit, as .reg files and `add /d` write them; -1 for any other byte.
#pragma once

namespace vantrel::reg {

inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace vantrel::reg

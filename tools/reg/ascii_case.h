// Letter case as reg.exe's grammar and the store ignore it: ASCII letters only, so a name's
// other bytes (UTF-8 text included) always compare exactly.
#pragma once

#include <string>
#include <string_view>

namespace vantrel::reg {

inline char FoldAsciiCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

inline std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = FoldAsciiCase(c);
    return lower;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
    }
    return true;
}

}  // namespace vantrel::reg

// Names compared without regard to ASCII letter case, as Windows compares file names, atoms and
// registry names; other bytes compare as they are.
#pragma once

#include <cstddef>
#include <string>

namespace vantrel::platform {

constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoringAsciiCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

inline bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && EqualsIgnoringAsciiCase(a.data(), b.data(), a.size());
}

}  // namespace vantrel::platform

// The store's letter-case rule (platform/ascii_case.h: ASCII letters only) over the editor's
// string views.
#pragma once

#include <string>
#include <string_view>

#include "platform/ascii_case.h"

namespace vantrel::reg {

inline std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = platform::AsciiLower(c);
    return lower;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && platform::EqualsIgnoringAsciiCase(a.data(), b.data(), a.size());
}

}  // namespace vantrel::reg

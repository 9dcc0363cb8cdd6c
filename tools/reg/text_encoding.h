// Between the store's single-byte text and the UTF-16LE of Windows .reg files. The store's
// code page is UTF-8, the Linux counterpart of the ANSI code page, so every character of a
// Windows file has a place in it. A store byte that is not part of valid UTF-8 travels as
// the lone surrogate U+DC00 + byte and comes back as that byte: nothing is lost either way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel::reg {

// UTF-16LE bytes to store bytes. False, with the offset of the faulty unit in `*bad`, for an
// odd byte count or a lone surrogate other than the U+DC80..U+DCFF stand-ins.
bool Utf16LeToStore(std::string_view utf16, std::string* text, size_t* bad);

// Store bytes to UTF-16LE bytes; total.
std::string StoreToUtf16Le(std::string_view text);

}  // namespace vantrel::reg

// The text of one log entry: an optional time-stamp prefix followed by a printf-formatted
// message, plus the small time texts that entries carry.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "log/text_cache.h"

namespace vantrel {

// "(hh:mm:ss:mmm) " from the local time, as printf and bitmap entries start with it.
// Returns the number of characters written (the text is always NUL-terminated).
size_t FormatTimeStampPrefix(char* out, size_t size);

// ", (hh:mm:ss:mmm)" from the local time, as function-begin lines end with it.
size_t FormatTimeStampSuffix(char* out, size_t size);

// Appends the text of one entry to out: the time-stamp prefix when asked for, then the message
// as printf formats it, up to its first NUL. False, with out as it was, when there is no
// format, when the C runtime rejects it, or when the text cannot be held (over 2 GiB, out of
// memory). args is consumed.
bool AppendEntryText(TextCache& out, bool withTimeStamp, const char* format, va_list args);

// The text of one entry on its own.
class EntryText {
  public:
    // False as AppendEntryText is, leaving no text.
    bool Format(bool withTimeStamp, const char* format, va_list args);

    const char* data() const { return text_.data(); }
    int32_t length() const { return static_cast<int32_t>(text_.size()); }

  private:
    TextCache text_;
};

}  // namespace vantrel

// The text of one log entry: an optional time-stamp prefix followed by a printf-formatted
// message, plus the small time texts that entries carry.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vantrel {

// "(hh:mm:ss:mmm) " from the local time, as printf and bitmap entries start with it.
// Returns the number of characters written (the text is always NUL-terminated).
size_t FormatTimeStampPrefix(char* out, size_t size);

// ", (hh:mm:ss:mmm)" from the local time, as function-begin lines end with it.
size_t FormatTimeStampSuffix(char* out, size_t size);

class EntryText {
  public:
    EntryText() = default;
    EntryText(const EntryText&) = delete;
    EntryText& operator=(const EntryText&) = delete;

    // Formats the message behind the prefix. False when there is no format, when the C
    // runtime rejects it, or when the result cannot be held (over 2 GiB, out of memory).
    // args is consumed.
    bool Format(bool withTimeStamp, const char* format, va_list args);

    const char* data() const { return data_; }
    // Characters up to the first NUL: a message that contains a NUL ends there.
    int32_t length() const { return length_; }

  private:
    // Large enough that ordinary entries never touch the heap.
    char inline_[1024];
    std::unique_ptr<char[]> heap_;
    const char* data_ = inline_;
    int32_t length_ = 0;
};

}  // namespace vantrel

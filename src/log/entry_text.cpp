#include "log/entry_text.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "log/common_conversions.h"
#include "log/time_text.h"
#include "platform/clock.h"

namespace vantrel {

namespace {

// open + the clock time + close, cut to what fits in size (always NUL-terminated).
size_t FormatStamp(char* out, size_t size, const char* open, const char* close) {
    if (size == 0) return 0;
    char text[64];
    const size_t openLength = std::strlen(open);
    // text is assembled without terminators and ended once, when it is copied out.
    std::memcpy(text, open, openLength);  // NOLINT(bugprone-not-null-terminated-result)
    size_t length = openLength + FormatClockTime(text + openLength, platform::GetLocalTime());
    const size_t closeLength = std::strlen(close);
    std::memcpy(text + length, close, closeLength);  // NOLINT(bugprone-not-null-terminated-result)
    length += closeLength;
    if (length > size - 1) length = size - 1;
    std::memcpy(out, text, length);
    out[length] = '\0';
    return length;
}

}  // namespace

size_t FormatTimeStampPrefix(char* out, size_t size) {
    return FormatStamp(out, size, "(", ") ");
}

size_t FormatTimeStampSuffix(char* out, size_t size) {
    return FormatStamp(out, size, ", (", ")");
}

bool EntryText::Format(bool withTimeStamp, const char* format, va_list args) {
    data_ = inline_;
    length_ = 0;
    inline_[0] = '\0';
    if (format == nullptr) return false;

    const size_t prefix = withTimeStamp ? FormatTimeStampPrefix(inline_, sizeof inline_) : 0;

    // The common conversions first, then the C runtime; each attempt consumes a copy, so
    // args stays usable for the next.
    va_list attempt;
    va_copy(attempt, args);
    const int common =
        FormatCommonConversions(inline_ + prefix, sizeof inline_ - prefix, format, attempt);
    va_end(attempt);
    if (common >= 0) {
        length_ = static_cast<int32_t>(prefix + strnlen(inline_ + prefix, common));
        return true;
    }
    va_copy(attempt, args);
    const int needed = std::vsnprintf(inline_ + prefix, sizeof inline_ - prefix, format, attempt);
    va_end(attempt);
    if (needed < 0) return false;

    const size_t total = prefix + static_cast<size_t>(needed);
    if (total > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
    if (total < sizeof inline_) {
        length_ = static_cast<int32_t>(prefix + strnlen(inline_ + prefix, needed));
        return true;
    }

    heap_.reset(new (std::nothrow) char[total + 1]);
    if (!heap_) return false;
    std::memcpy(heap_.get(), inline_, prefix);
    const int written = std::vsnprintf(heap_.get() + prefix, needed + 1, format, args);
    if (written < 0) return false;
    // Arguments that changed between the passes must not take us past the measured size.
    const size_t kept = static_cast<size_t>(written) < static_cast<size_t>(needed)
                            ? static_cast<size_t>(written)
                            : static_cast<size_t>(needed);
    data_ = heap_.get();
    length_ = static_cast<int32_t>(prefix + strnlen(heap_.get() + prefix, kept));
    return true;
}

}  // namespace vantrel

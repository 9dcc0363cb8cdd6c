#include "log/entry_text.h"

#include <cstdio>
#include <cstring>
#include <limits>

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

bool AppendEntryText(TextCache& out, bool withTimeStamp, const char* format, va_list args) {
    if (format == nullptr) return false;
    const size_t before = out.size();
    // Ordinary entries fit in this much room and are formatted in one pass.
    if (!out.Reserve(1024)) return false;
    const size_t prefix = withTimeStamp ? FormatTimeStampPrefix(out.end(), out.room()) : 0;
    out.Extend(prefix);
    auto fail = [&] {
        out.Truncate(before);
        return false;
    };

    // The common conversions first, then the C runtime; each attempt consumes a copy, so
    // args stays usable for the next.
    va_list attempt;
    va_copy(attempt, args);
    const int common = FormatCommonConversions(out.end(), out.room(), format, attempt);
    va_end(attempt);
    if (common >= 0) {
        out.Extend(static_cast<size_t>(common));
        return true;
    }
    va_copy(attempt, args);
    const int needed = std::vsnprintf(out.end(), out.room(), format, attempt);
    va_end(attempt);
    if (needed < 0) return fail();
    if (prefix + static_cast<size_t>(needed) >
        static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        return fail();
    }
    if (static_cast<size_t>(needed) < out.room()) {
        out.Extend(strnlen(out.end(), static_cast<size_t>(needed)));
        return true;
    }

    if (!out.Reserve(static_cast<size_t>(needed) + 1)) return fail();
    const int written = std::vsnprintf(out.end(), static_cast<size_t>(needed) + 1, format, args);
    if (written < 0) return fail();
    // Arguments that changed between the passes must not take us past the measured size.
    const size_t kept = static_cast<size_t>(written) < static_cast<size_t>(needed)
                            ? static_cast<size_t>(written)
                            : static_cast<size_t>(needed);
    out.Extend(strnlen(out.end(), kept));
    return true;
}

bool EntryText::Format(bool withTimeStamp, const char* format, va_list args) {
    text_.clear();
    return AppendEntryText(text_, withTimeStamp, format, args);
}

}  // namespace vantrel

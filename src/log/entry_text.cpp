#include "log/entry_text.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "platform/clock.h"

namespace vantrel {

namespace {

// snprintf's result clamped to what really landed in the buffer.
size_t Written(int result, size_t size) {
    if (result < 0 || size == 0) return 0;
    return static_cast<size_t>(result) < size ? static_cast<size_t>(result) : size - 1;
}

}  // namespace

size_t FormatTimeStampPrefix(char* out, size_t size) {
    const platform::SystemTime now = platform::GetLocalTime();
    return Written(std::snprintf(out, size, "(%02d:%02d:%02d:%03d) ", now.hour, now.minute,
                                 now.second, now.milliseconds),
                   size);
}

size_t FormatTimeStampSuffix(char* out, size_t size) {
    const platform::SystemTime now = platform::GetLocalTime();
    return Written(std::snprintf(out, size, ", (%02d:%02d:%02d:%03d)", now.hour, now.minute,
                                 now.second, now.milliseconds),
                   size);
}

bool EntryText::Format(bool withTimeStamp, const char* format, va_list args) {
    data_ = inline_;
    length_ = 0;
    inline_[0] = '\0';
    if (format == nullptr) return false;

    const size_t prefix = withTimeStamp ? FormatTimeStampPrefix(inline_, sizeof inline_) : 0;

    // First attempt in the inline buffer; the copy keeps args usable for a second pass.
    va_list first;
    va_copy(first, args);
    const int needed = std::vsnprintf(inline_ + prefix, sizeof inline_ - prefix, format, first);
    va_end(first);
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

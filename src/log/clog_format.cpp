// How a log turns calls into entry text: printf entries, function begin and end markers with
// their indentation, image-tag lines, the line-end rules every piece passes through, and the
// closing summary block.
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "log/clog.h"
#include "log/entry_text.h"
#include "log/html_document.h"
#include "log/log_layout.h"
#include "log/log_mode.h"
#include "log/time_text.h"
#include "log/wrapping_add.h"
#include "platform/clock.h"

namespace vantrel {

namespace {

constexpr int64_t kMaxCacheLength = std::numeric_limits<int32_t>::max();

// Only the final LF of a piece becomes CR LF; a CR that ended the previous piece counts,
// so a pair split over two appends is not doubled.
bool NeedsCarriageReturn(const char* text, size_t length, char lastChar) {
    if (length == 0 || text[length - 1] != '\n') return false;
    const char before = length >= 2 ? text[length - 2] : lastChar;
    return before != '\r';
}

void TrackLineEnd(const char* text, size_t length, char* prevLastChar, char* lastChar) {
    if (length == 0) return;
    *prevLastChar = length >= 2 ? text[length - 2] : *lastChar;
    *lastChar = text[length - 1];
}

int64_t Positive(int64_t value) {
    return value > 0 ? value : 0;
}

}  // namespace

int32_t CLog::GetIndent(int32_t level) const {
    // Saturates: an indentation too wide for 32 bits is as wide as the cache can be (and so
    // refused by the size limit), and one too far below 0 is no indentation.
    const int64_t width = static_cast<int64_t>(indentSize) * level;
    if (width > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (width < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(width);
}

int32_t CLog::AppendText(const char* text, int32_t length, bool bIndent) {
    // The text ends at its NUL or after length characters, whichever comes first, so the
    // line-end tracking never looks past what is appended.
    const size_t count =
        (text != nullptr && length > 0) ? strnlen(text, static_cast<size_t>(length)) : 0;
    return AppendCharacters(text, count, bIndent);
}

int32_t CLog::AppendCharacters(const char* text, size_t count, bool bIndent) {
    const int32_t width = GetIndent(indentLevel);
    // Refused before anything is allocated for it; the inserted CR counts too.
    const int addCr = NeedsCarriageReturn(text, count, lastChar) ? 1 : 0;
    if (static_cast<int64_t>(cache.size()) + static_cast<int64_t>(count) + Positive(width) + addCr >
        kMaxCacheLength) {
        return 0;
    }
    const size_t before = cache.size();
    if (bIndent && width > 0 && !cache.AppendFill(static_cast<size_t>(width), ' ')) return 0;
    const size_t textAt = cache.size();
    if (!cache.Append(text, count)) {
        cache.Truncate(before);
        return 0;
    }
    return EndAppend(before, textAt);
}

int32_t CLog::EndAppend(size_t before, size_t textAt) {
    const char* text = cache.data() + textAt;
    const size_t count = cache.size() - textAt;
    const bool addCr = NeedsCarriageReturn(text, count, lastChar);
    // The line state follows the text as given, before its LF becomes CR LF.
    char prev = prevLastChar;
    char last = lastChar;
    TrackLineEnd(text, count, &prev, &last);
    // The inserted CR counts too: the cache length must stay a signed 32-bit number.
    if (static_cast<int64_t>(cache.size()) + (addCr ? 1 : 0) > kMaxCacheLength ||
        (addCr && !cache.Append("\n", 1))) {
        cache.Truncate(before);
        return 0;
    }
    if (addCr) cache.end()[-2] = '\r';
    prevLastChar = prev;
    lastChar = last;
    return FillCheck(false);
}

int32_t CLog::AppendImageTag(const char* imageName, const char* text, int32_t length,
                             bool bIndent) {
    const int32_t width = GetIndent(indentLevel);
    const char* name = imageName != nullptr ? imageName : "";
    const size_t count =
        (text != nullptr && length > 0) ? strnlen(text, static_cast<size_t>(length)) : 0;

    std::string tag;
    try {
        std::string caption(text != nullptr ? text : "", count);
        if (NeedsCarriageReturn(caption.data(), count, lastChar))
            caption.insert(count - 1, 1, '\r');
        const int size =
            std::snprintf(nullptr, 0, kImageTagFormat, "", name, name, caption.c_str());
        if (size < 0) return 0;
        tag.resize(static_cast<size_t>(size));
        std::snprintf(&tag[0], tag.size() + 1, kImageTagFormat, "", name, name, caption.c_str());
    } catch (const std::bad_alloc&) {
        return 0;
    }

    // The same ceiling as for text: a cache past 2 GiB no longer has a 32-bit length.
    if (static_cast<int64_t>(cache.size()) + static_cast<int64_t>(tag.size()) + Positive(width) >
        kMaxCacheLength) {
        return 0;
    }

    const size_t before = cache.size();
    if ((bIndent && width > 0 && !cache.AppendFill(static_cast<size_t>(width), ' ')) ||
        !cache.Append(tag.data(), tag.size())) {
        cache.Truncate(before);
        return 0;
    }
    // Only the caption moves the line state; a tag without one leaves it as it was.
    TrackLineEnd(text, count, &prevLastChar, &lastChar);
    return FillCheck(true);
}

int32_t CLog::Printf(int32_t /*device*/, const char* format, va_list args) {
    if (!lock || format == nullptr) return 0;
    platform::CriticalSectionGuard guard(*lock);
    // Formatted straight into the cache, behind its indentation.
    const int32_t width = GetIndent(indentLevel);
    if (static_cast<int64_t>(cache.size()) + Positive(width) > kMaxCacheLength) return 0;
    const size_t before = cache.size();
    if (width > 0 && !cache.AppendFill(static_cast<size_t>(width), ' ')) return 0;
    const size_t textAt = cache.size();
    if (!AppendEntryText(cache, (mode & LogModeTimeStamp) != 0, format, args)) {
        cache.Truncate(before);
        return 0;
    }
    return EndAppend(before, textAt);
}

int32_t CLog::FuncBegin(int32_t /*device*/, const char* funcName) {
    if (!lock) return 0;
    platform::CriticalSectionGuard guard(*lock);

    char stamp[64] = "";
    if ((mode & LogModeTimeStamp) != 0) FormatTimeStampSuffix(stamp, sizeof stamp);

    // The caller's own line end would split the line before its suffix.
    const char* name = funcName != nullptr ? funcName : "";
    size_t length = std::strlen(name);
    if (length > 0 && name[length - 1] == '\n') --length;
    if (length > 0 && name[length - 1] == '\r') --length;

    // Each append runs even after a failure, so the entry keeps its shape where it can.
    bool ok = true;
    if (lastChar != '\n') ok = AppendText("\r\n", 2, false) != 0;
    if (length > static_cast<size_t>(kMaxCacheLength)) {
        ok = false;
    } else {
        ok &= AppendText(name, static_cast<int32_t>(length), true) != 0;
    }

    char suffix[96];
    if ((mode & LogModeThreadId) != 0) {
        std::snprintf(suffix, sizeof suffix, " // tid:0x%08x%s", threadId, stamp);
    } else {
        std::snprintf(suffix, sizeof suffix, "%s", stamp);
    }
    const size_t suffixLength = std::strlen(suffix);
    if (suffixLength > 0) ok &= AppendText(suffix, static_cast<int32_t>(suffixLength), false) != 0;

    ok &= AppendText("\r\n", 2, false) != 0;
    ok &= AppendText("{\r\n", 3, true) != 0;
    indentLevel = WrappingAdd(indentLevel, 1);
    return ok ? 1 : 0;
}

int32_t CLog::FuncEnd(int32_t /*device*/) {
    if (!lock) return 0;
    platform::CriticalSectionGuard guard(*lock);
    // Lowered first, so the brace lines up with its opening one.
    indentLevel = WrappingAdd(indentLevel, -1);
    bool ok = true;
    if (lastChar != '\n') ok = AppendText("\r\n", 2, false) != 0;
    ok &= AppendText("}\r\n", 3, true) != 0;
    return ok ? 1 : 0;
}

int32_t CLog::WriteSummary() {
    // The two hexadecimal lines take at most 64 bytes, the time line 96, the end 76.
    char block[256];
    const int ids = std::snprintf(block, 64, "\r\nProcess ID: 0x%x\r\nThe thread ID is 0x%08x\r\n",
                                  processId, threadId);
    size_t length = ids > 0 ? static_cast<size_t>(ids) : 0;
    length += FormatLogTimeLine(block + length, platform::GetLocalTime());
    std::memcpy(block + length, kSummaryEnd, sizeof kSummaryEnd - 1);
    length += sizeof kSummaryEnd - 1;
    WriteRaw(block, static_cast<uint32_t>(length));
    WriteDocumentEnd();
    return 1;
}

void CLog::WriteDocumentEnd() {
    if ((mode & LogModeHtml) == 0) return;
    for (std::string_view part : kHtmlDocumentEnd)
        WriteRaw(part.data(), static_cast<uint32_t>(part.size()));
}

}  // namespace vantrel

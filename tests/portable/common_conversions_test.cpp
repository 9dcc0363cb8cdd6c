// The entry formatter's own handling of the common conversions must give byte for byte what
// the C runtime's printf gives, and leave everything else to it.
#include "log/common_conversions.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace vantrel::test {
namespace {

struct Formatted {
    int result = -1;
    std::string ours;
    std::string runtime;
};

// Both formatters on the same arguments; `size` is the room given to ours.
Formatted Both(size_t size, const char* format, ...) {
    Formatted out;
    char ours[256];
    char runtime[256];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    out.result = FormatCommonConversions(ours, size, format, args);
    const int length = std::vsnprintf(runtime, sizeof runtime, format, copy);
    va_end(copy);
    va_end(args);
    if (out.result >= 0) out.ours.assign(ours, static_cast<size_t>(out.result));
    if (length >= 0) out.runtime.assign(runtime, static_cast<size_t>(length));
    return out;
}

TEST(CommonConversions, GiveWhatPrintfGives) {
    const Formatted rows[] = {
        Both(256, "%d items in frame %s\n", 12, "intro"),      // the usual entry
        Both(256, "%d %i", INT_MIN, INT_MAX),                  // most negative stays exact
        Both(256, "%d|%u|%x", 0, 0u, 0u),                      // zero still has its digit
        Both(256, "%u %x %X", UINT_MAX, 0xBEEFu, 0xBEEFu),     // unsigned, both hex cases
        Both(256, "%ld %lu %lx", LONG_MIN, ULONG_MAX, 0x7FL),  // the platform's long width
        Both(256, "100%% [%c%c]", 'o', 'k'),                   // literal percent and chars
        Both(256, "%s%s|%s", "", "tail", "\xE9t\xE9"),         // empty and high-bit strings
        Both(256, "no conversion at all\r\n"),                 // plain text
        Both(12, "%s", "exactly 11c"),                         // fills the room to the last byte
    };
    for (const Formatted& row : rows) {
        EXPECT_GE(row.result, 0) << row.runtime;
        EXPECT_EQ(row.ours, row.runtime);
    }
}

// What it does not know, or cannot fit, it refuses, so the C runtime formats it.
TEST(CommonConversions, LeaveTheRestToTheRuntime) {
    const Formatted rows[] = {
        Both(256, "%5d", 1),            // width
        Both(256, "%-d", 1),            // flag
        Both(256, "%.3s", "abcdef"),    // precision
        Both(256, "%f", 1.5),           // floating point
        Both(256, "%lld", 1LL),         // not every runtime knows ll
        Both(256, "%s", nullptr),       // "(null)" is the runtime's own choice
        Both(256, "%p", &rows),         // pointers
        Both(256, "trailing %"),        // an unfinished conversion
        Both(11, "%s", "exactly 11c"),  // one byte short for the terminator
        Both(4, "%d", 12345),           // digits that do not fit
    };
    for (const Formatted& row : rows) EXPECT_EQ(row.result, -1) << row.runtime;
}

}  // namespace
}  // namespace vantrel::test

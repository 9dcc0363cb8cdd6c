// The library's own formatting of the common conversions and of time texts must give byte
// for byte what the C runtime's printf gives, and leave everything else to it.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

#include "log/common_conversions.h"
#include "log/time_text.h"

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

// Each row is ours against the C runtime of the system (every conversion through a log is
// checked against it elsewhere): room, sizes, and what ours must leave to the runtime.
TEST(CommonConversions, GiveWhatPrintfGivesOrLeaveItToTheRuntime) {
    const std::pair<Formatted, bool> rows[] = {
        {Both(256, "%d %i", INT_MIN, INT_MAX), true},                  // most negative exact
        {Both(256, "%ld %lu %lx", LONG_MIN, ULONG_MAX, 0x7FL), true},  // the platform's long
        {Both(256, "%d|%u|%x", 0, 0u, 0u), true},                      // zero keeps its digit
        {Both(256, "%d %ld %i", -1, -1L, -9), true},                   // small negatives signed
        {Both(256, "%u %x %X", UINT_MAX, 0xBEEFu, 0xBEEFu), true},     // both hex cases
        {Both(256, "100%% [%c%c]", 'o', 'k'), true},                   // percent and chars
        {Both(256, "%s%s|%s", "", "tail", "\xE9t\xE9"), true},         // empty, high-bit
        {Both(12, "%s", "exactly 11c"), true},                         // room to the last byte
        {Both(256, "%5d", 1), false},                                  // width
        {Both(256, "%.3s", "abcdef"), false},                          // precision
        {Both(256, "%lld", 1LL), false},                               // not every runtime's
        {Both(256, "%s", nullptr), false},                             // "(null)" is theirs
        {Both(256, "trailing %"), false},                              // unfinished
        {Both(11, "%s", "exactly 11c"), false},                        // no room for the NUL
        {Both(4, "%d", 12345), false},                                 // digits that do not fit
    };
    for (const auto& [row, ours] : rows) {
        EXPECT_EQ(row.result >= 0, ours) << row.runtime;
        if (ours) {
            EXPECT_EQ(row.ours, row.runtime);
        }
    }
}

TEST(TimeText, ReadsAsThePrintfFormats) {
    const platform::SystemTime times[] = {
        {2026, 12, 5, 4, 16, 5, 21, 123},
        {2026, 1, 4, 1, 0, 0, 0, 0},
        {1999, 12, 5, 31, 23, 59, 59, 999},
        {7, 2, 0, 3, 4, 5, 6, 7},
        // Wider than the widths: printf widens, so must the fast path.
        {12345, 123, 0, 100, 100, 100, 100, 1000},
        // Never from a real clock, but printf has an answer for them too.
        {-1, -2, 0, 3, -4, 5, -6, -7},
        {2026, 5, 0, 6, 7, 8, 9, -10},
        {2147483647, 5, 0, 6, 7, 8, 9, 2147483647}};
    for (const platform::SystemTime& t : times) {
        char ours[96], theirs[128];
        std::snprintf(theirs, sizeof theirs, "%02d:%02d:%02d:%03d", t.hour, t.minute, t.second,
                      t.milliseconds);
        EXPECT_EQ(std::string(ours, FormatClockTime(ours, t)), theirs);
        std::snprintf(theirs, sizeof theirs, "Log Time: %04d/%02d/%02d %02d:%02d:%02d:%03d\r\n",
                      t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds);
        EXPECT_EQ(std::string(ours, FormatLogTimeLine(ours, t)), theirs);
    }
}

}  // namespace
}  // namespace vantrel::test

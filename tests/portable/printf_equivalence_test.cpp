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

// Ours with `size` bytes of room against the C runtime of the system (every conversion
// through a log is checked against it elsewhere); "-" where ours leaves it to the runtime.
std::string Compared(size_t size, const char* format, ...) {
    char ours[256], runtime[256];
    va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    const int result = FormatCommonConversions(ours, size, format, args);
    const int length = std::vsnprintf(runtime, sizeof runtime, format, copy);
    va_end(copy);
    va_end(args);
    const std::string theirs = length < 0 ? "<fails>" : std::string(runtime, size_t(length));
    if (result < 0) return "-";
    const std::string mine(ours, static_cast<size_t>(result));
    return mine == theirs ? "same" : mine + " != " + theirs;
}

TEST(CommonConversions, GiveWhatPrintfGivesOrLeaveItToTheRuntime) {
    const std::pair<std::string, const char*> rows[] = {
        {Compared(256, "%d %i", INT_MIN, INT_MAX), "same"},                  // most negative exact
        {Compared(256, "%ld %lu %lx", LONG_MIN, ULONG_MAX, 0x7FL), "same"},  // the platform's long
        {Compared(256, "%d|%u|%x", 0, 0u, 0u), "same"},                      // zero keeps its digit
        {Compared(256, "%d %ld %i", -1, -1L, -9), "same"},                // small negatives signed
        {Compared(256, "%u %x %X", UINT_MAX, 0xBEEFu, 0xBEEFu), "same"},  // both hex cases
        {Compared(256, "100%% [%c%c]", 'o', 'k'), "same"},                // percent and chars
        {Compared(256, "%s%s|%s", "", "tail", "\xE9t\xE9"), "same"},      // empty, high-bit
        {Compared(12, "%s", "exactly 11c"), "same"},                      // room to the last byte
        {Compared(256, "%5d", 1), "-"},                                   // width
        {Compared(256, "%.3s", "abcdef"), "-"},                           // precision
        {Compared(256, "%lld", 1LL), "-"},                                // not every runtime's
        {Compared(256, "%s", nullptr), "-"},                              // "(null)" is theirs
        {Compared(256, "trailing %"), "-"},                               // unfinished
        {Compared(11, "%s", "exactly 11c"), "-"},                         // no room for the NUL
        {Compared(4, "%d", 12345), "-"},                                  // digits that do not fit
    };
    for (const auto& [compared, expected] : rows) EXPECT_EQ(compared, expected);
}

TEST(TimeText, ReadsAsThePrintfFormats) {
    const platform::SystemTime times[] = {
        {2026, 12, 5, 4, 16, 5, 21, 123},
        {2026, 1, 4, 1, 0, 0, 0, 0},
        {1999, 12, 5, 31, 23, 59, 59, 999},
        {7, 2, 0, 3, 4, 5, 6, 7},
        // Wider than the widths: printf widens, so must the fast path. Then values never from
        // a real clock, which printf has an answer for too.
        {12345, 123, 0, 100, 100, 100, 100, 1000},
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

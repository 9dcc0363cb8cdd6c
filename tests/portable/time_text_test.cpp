// The digit-by-digit time texts must read exactly as the printf formats they replace.
#include "log/time_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vantrel {
namespace {

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
}  // namespace vantrel

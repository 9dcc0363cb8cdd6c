// The digit-by-digit time texts must read exactly as the printf formats they replace.
#include "log/time_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vantrel {
namespace {

platform::SystemTime Time(int year, int month, int day, int hour, int minute, int second,
                          int milliseconds) {
    platform::SystemTime time;
    time.year = year;
    time.month = month;
    time.day = day;
    time.hour = hour;
    time.minute = minute;
    time.second = second;
    time.milliseconds = milliseconds;
    return time;
}

std::string ClockText(const platform::SystemTime& time) {
    char out[48];
    return std::string(out, FormatClockTime(out, time));
}

std::string LineText(const platform::SystemTime& time) {
    char out[96];
    return std::string(out, FormatLogTimeLine(out, time));
}

std::string PrintfClock(const platform::SystemTime& t) {
    char out[64];
    std::snprintf(out, sizeof out, "%02d:%02d:%02d:%03d", t.hour, t.minute, t.second,
                  t.milliseconds);
    return out;
}

std::string PrintfLine(const platform::SystemTime& t) {
    char out[128];
    std::snprintf(out, sizeof out, "Log Time: %04d/%02d/%02d %02d:%02d:%02d:%03d\r\n", t.year,
                  t.month, t.day, t.hour, t.minute, t.second, t.milliseconds);
    return out;
}

TEST(TimeTextTest, ReadsAsThePrintfFormats) {
    const platform::SystemTime times[] = {
        Time(2026, 12, 4, 16, 5, 21, 123), Time(2026, 1, 1, 0, 0, 0, 0),
        Time(1999, 12, 31, 23, 59, 59, 999), Time(7, 2, 3, 4, 5, 6, 7),
        // Wider than the widths: printf widens, so must the fast path.
        Time(12345, 123, 100, 100, 100, 100, 1000),
        // Never from a real clock, but printf has an answer for them too.
        Time(-1, -2, 3, -4, 5, -6, -7), Time(2026, 5, 6, 7, 8, 9, -10),
        Time(2147483647, 5, 6, 7, 8, 9, 2147483647)};
    for (const platform::SystemTime& time : times) {
        EXPECT_EQ(ClockText(time), PrintfClock(time));
        EXPECT_EQ(LineText(time), PrintfLine(time));
    }
}

}  // namespace
}  // namespace vantrel

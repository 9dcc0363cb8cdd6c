// The POSIX clocks: local time, the millisecond tick and the time-stamp counter (the
// reference clock is checked through the timers' calibration).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/test_seam.h"

namespace vantrel::platform {
namespace {

SystemTime FromTm(const tm& fields, int milliseconds) {
    SystemTime time;
    time.year = fields.tm_year + 1900;
    time.month = fields.tm_mon + 1;
    time.dayOfWeek = fields.tm_wday;
    time.day = fields.tm_mday;
    time.hour = fields.tm_hour;
    time.minute = fields.tm_min;
    time.second = fields.tm_sec;
    time.milliseconds = milliseconds;
    return time;
}

std::string Text(const SystemTime& t) {
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02d (%d) %02d:%02d:%02d.%03d", t.year, t.month, t.day,
             t.dayOfWeek, t.hour, t.minute, t.second, t.milliseconds);
    return text;
}

// The local time of this second as the C library gives it.
tm LocalNow(timespec* now) {
    clock_gettime(CLOCK_REALTIME, now);
    tm fields{};
    localtime_r(&now->tv_sec, &fields);
    return fields;
}

// Compares GetLocalTime with localtime_r within one second of the real clock.
void ExpectLocalTimeAgrees() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        timespec before{}, after{};
        const tm fields = LocalNow(&before);
        const SystemTime got = GetLocalTime();
        LocalNow(&after);
        if (before.tv_sec != after.tv_sec) continue;  // a second boundary in between
        EXPECT_EQ(Text(got), Text(FromTm(fields, got.milliseconds)));
        EXPECT_GE(got.milliseconds, before.tv_nsec / 1000000);
        EXPECT_LE(got.milliseconds, after.tv_nsec / 1000000);
        return;
    }
    ADD_FAILURE() << "no stable second in three attempts";
}

TEST(PlatformClockTest, LocalTimeAgreesWithTheCLibraryInEveryZone) {
    const char* saved = getenv("TZ");
    const std::string original = saved ? saved : "";
    // Whole, odd and negative offsets, and a zone with daylight saving time: the zone the
    // application sets takes effect at once.
    for (const char* zone : {"UTC0", "XST-5:45", "YST+9:30", "EST5EDT,M3.2.0,M11.1.0"}) {
        SCOPED_TRACE(zone);
        setenv("TZ", zone, 1);
        tzset();
        ExpectLocalTimeAgrees();
    }
    if (saved) {
        setenv("TZ", original.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(PlatformClockTest, FakeLocalTimeIsHonoured) {
    SystemTime fake;
    fake.year = 2001;
    fake.month = 2;
    fake.dayOfWeek = 6;
    fake.day = 3;
    fake.hour = 4;
    fake.minute = 5;
    fake.second = 6;
    fake.milliseconds = 789;
    testing::SetFakeLocalTime(&fake);
    EXPECT_EQ(Text(GetLocalTime()), Text(fake));
    testing::SetFakeLocalTime(nullptr);
    EXPECT_NE(GetLocalTime().year, 2001);
}

TEST(PlatformClockTest, MillisecondTickFollowsTheMonotonicClock) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint32_t expected =
        static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
    const uint32_t tick = TimeGetTime();
    // Modular difference: right across the 2^32 wrap as well.
    EXPECT_LE(tick - expected, 5u);
}

TEST(PlatformClockTest, TimeStampCounterAdvancesUnlessMadeUnusable) {
    uint64_t first = 0, second = 0;
    if (!ReadTimeStampCounter(&first)) GTEST_SKIP() << "no usable time-stamp counter";
    ASSERT_TRUE(ReadTimeStampCounter(&second));
    EXPECT_GT(second, first);

    testing::FailAfter(testing::Fault::TimeStampCounter, 1, 1);
    uint64_t ticks = 0;
    EXPECT_TRUE(ReadTimeStampCounter(&ticks));
    ticks = 12345;
    EXPECT_FALSE(ReadTimeStampCounter(&ticks));
    EXPECT_EQ(ticks, 12345u);  // untouched when unusable
    EXPECT_TRUE(ReadTimeStampCounter(&ticks));
}

}  // namespace
}  // namespace vantrel::platform

// The stopwatch timers: the table and the gate of its render timers on an exact clock, the
// real clocks with and without the time-stamp counter, and the tick scale.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "platform/test_seam.h"
#include "timer/clock_calibration.h"
#include "timer/tick_scale.h"
#include "timer/timer_table.h"

namespace vantrel {
namespace {

using platform::testing::FailAfter;
using platform::testing::Fault;

std::atomic<int64_t> fakeNow{0};

// Steps: "b<index>,<count>@<t>" begin, "e<index>@<t>" end, "r<index>" reset; each begin and end
// must return <t>, or 0 where it is written "@<t>=0". Then the timer's elapsed, count, average.
// Render timers 1-18 need timer 0 counted; a reset keeps the begin; the fallback clock is 32-bit.
TEST(TimerTable, StepsOnAnExactClock) {
    const std::tuple<const char*, const char*, int32_t, int64_t, int32_t, int64_t, bool> rows[] = {
        {"Fresh", "", 19, 0, 0, 0, false},
        {"CountFlagZero", "b19,0@100 e19@150", 19, 50, 0, 0, false},
        {"TwoCounted", "b31,1@5000 e31@5010 b31,1@7000 e31@7030", 31, 40, 2, 20, false},
        {"AverageTruncates", "b20,1@100 e20@141 b20,1@100 e20@100", 20, 41, 2, 20, false},
        {"NegativeTruncates", "b21,1@141 e21@100 b21,1@100 e21@100", 21, -41, 2, -20, false},
        {"GateShut", "b0,0@100 e0@110 b5,1@200=0 e5@250=0", 5, 0, 0, 0, false},
        {"GateOpen", "b0,1@300 b5,1@400 e5@425", 5, 25, 1, 25, false},
        {"GateShutAgain", "b0,1@300 b5,1@400 e5@425 r0 b5,1@500=0 e5@900=0", 5, 25, 1, 25, false},
        {"TimerZeroItself", "b0,1@300 e0@310", 0, 10, 1, 10, false},
        {"PlainTimerIgnoresTheGate", "b25,1@100 e25@107", 25, 7, 1, 7, false},
        {"ResetKeepsTheBegin", "b19,1@100 e19@110 r19 e19@130 e19@140", 19, 70, 0, 0, false},
        {"EndWithoutBegin", "e25@123456", 25, 0, 0, 0, false},
        {"EndOfAnUnbegunRenderTimer", "b0,1@5 e7@123456", 7, 0, 0, 0, false},
        {"IndexPastTheTable", "b32,1@100=0 e32@200=0 r32", 32, 0, 0, 0, false},
        {"NegativeIndex", "b-1,1@100=0 e-1@200=0", -1, 0, 0, 0, false},
        {"FallbackAcrossItsWrap", "b19,1@4294967000 e19@704", 19, 1000, 1, 1000, true},
    };
    for (const auto& [name, script, index, elapsed, count, average, withoutCounter] : rows) {
        SCOPED_TRACE(name);
        platform::testing::ClearFaults();
        if (withoutCounter) FailAfter(Fault::TimeStampCounter, 0, -1);
        platform::testing::SetFakeTimerClock([] { return fakeNow.load(); });
        CTimerTable table;
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            const int32_t timer = std::stoi(step.substr(1));
            const size_t at = step.find('@');
            if (at != std::string::npos) fakeNow = std::stoll(step.substr(at + 1));
            const int64_t expected = step.find("=0") != std::string::npos ? 0 : fakeNow.load();
            const int64_t got =
                step[0] == 'b'
                    ? table.RecordBegin(timer, std::stoi(step.substr(step.find(',') + 1)))
                : step[0] == 'e' ? table.RecordEnd(timer)
                                 : (table.Reset(timer), expected);
            EXPECT_EQ(got, expected) << step;
        }
        EXPECT_EQ(table.GetElapsed(index), elapsed);
        EXPECT_EQ(table.GetCount(index), count);
        EXPECT_EQ(table.GetAverageElapsed(index), average);
    }
}

// Without the counter, at calibration, after it or at the end of its window: the millisecond clock.
// Wide products against the compiler's; 2994.7 ticks per microsecond kept over twenty years.
TEST(TimerClock, FallbacksAndTickScale) {
    for (const bool afterCalibration : {false, true}) {
        CTimerTable table;
        if (afterCalibration) table.RecordBegin(19, 1);
        FailAfter(Fault::TimeStampCounter, 0, -1);
        const int64_t begin = table.RecordBegin(19, 1);
        EXPECT_TRUE(begin >= 0 && begin <= int64_t{UINT32_MAX}) << begin;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        table.RecordEnd(19);
        EXPECT_GE(table.GetElapsed(19), 19000);
        EXPECT_EQ(table.GetElapsed(19) % 1000, 0);
        platform::testing::ClearFaults();
    }
    FailAfter(Fault::TimeStampCounter, 16, -1);
    EXPECT_TRUE(MeasureClockCalibration().useFallbackClock);

    const uint64_t a = 0xFEDCBA9876543210u, b = 0x0123456789ABCDEFu;
    const Wide128 portable = MultiplyWidePortable(a, b), native = MultiplyWide(a, b);
    EXPECT_TRUE(portable.high == 0x121FA00AD77D742u && portable.low == 0x2236D88FE5618CF0u);
    EXPECT_TRUE(native.high == portable.high && native.low == portable.low);
    const uint64_t years = 20ull * 365 * 86400 * 1000000;
    const uint64_t converted =
        TickScale::FromMeasurement(2994700, 1000000).ToMicroseconds(years * 2994 + years / 10 * 7);
    EXPECT_NEAR(static_cast<double>(converted), static_cast<double>(years), 1.0);
    EXPECT_FALSE(TickScale::FromMeasurement(1000, 0).IsValid() ||
                 TickScale::FromMeasurement(0, 1000000).IsValid());
    EXPECT_EQ(TickScale::FromMeasurement(500, 1000000).ToMicroseconds(500), 1000u);
    EXPECT_EQ(TickScale().ToMicroseconds(1000), 0u);
}

}  // namespace
}  // namespace vantrel

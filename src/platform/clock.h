// Clocks: local calendar time, the millisecond tick, the processor's time-stamp counter and
// a high-resolution reference clock.
#pragma once

#include <cstdint>

namespace vantrel::platform {

// Calendar fields as GetLocalTime fills a SYSTEMTIME (month 1..12, dayOfWeek 0 = Sunday).
struct SystemTime {
    int year = 0;
    int month = 0;
    int dayOfWeek = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};

SystemTime GetLocalTime();

// The local time from the system's tick clock: its milliseconds move in steps of the tick (4 ms
// or less on Linux; Windows' GetLocalTime is such a clock already), read in a third of the time
// of the precise clock. For times that say when something happened rather than measure it.
SystemTime GetCoarseLocalTime();

// Milliseconds since an arbitrary start, wrapping at 2^32 (timeGetTime).
uint32_t TimeGetTime();

// Reads the time-stamp counter; false where the processor has none or it is disabled for
// the process (the counter then must not be used).
bool ReadTimeStampCounter(uint64_t* ticks);

// The reference clock for calibration, in nanoseconds (CLOCK_MONOTONIC_RAW /
// QueryPerformanceCounter).
int64_t HighResolutionNanoseconds();

// A monotonic clock in nanoseconds that may lag by a few milliseconds (the kernel's tick), for
// deciding when something is due: it costs a fraction of the precise clocks and never reads
// the time-stamp counter.
int64_t CoarseMonotonicNanoseconds();

// The same clock in milliseconds, for waits and time-outs. A raw clock_gettime could read the
// time-stamp counter, which faults where the counter is disabled for the process.
inline int64_t MonotonicMilliseconds() {
    return HighResolutionNanoseconds() / 1000000;
}

}  // namespace vantrel::platform

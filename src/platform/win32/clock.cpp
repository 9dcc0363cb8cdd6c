// Clocks on Windows: GetLocalTime, timeGetTime, the processor's time-stamp counter (probed
// once under an exception guard) and QueryPerformanceCounter as the calibration reference.
#include "platform/clock.h"

#include <intrin.h>

#include "platform/test_seam.h"
#include "platform/win32/counter_probe.h"
#include "platform/win32/win32_api.h"

namespace vantrel::platform {

SystemTime GetLocalTime() {
    SystemTime result;
    if (testing::FakeLocalTime(&result)) return result;
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    result.year = now.wYear;
    result.month = now.wMonth;
    result.dayOfWeek = now.wDayOfWeek;
    result.day = now.wDay;
    result.hour = now.wHour;
    result.minute = now.wMinute;
    result.second = now.wSecond;
    result.milliseconds = now.wMilliseconds;
    return result;
}

SystemTime GetCoarseLocalTime() {
    return GetLocalTime();  // Windows' local time is the tick clock's
}

uint32_t TimeGetTime() {
    return ::timeGetTime();
}

namespace {

// The probe runs once: whether the counter may be read does not change while the process
// runs, and a guarded read costs two system calls.
bool CounterUsable() {
    static const bool usable = [] {
        uint64_t ignored = 0;
        return win32::ProbeTimeStampCounter(&ignored);
    }();
    return usable;
}

}  // namespace

bool ReadTimeStampCounter(uint64_t* ticks) {
    if (testing::ShouldFail(testing::Fault::TimeStampCounter)) return false;
    if (!CounterUsable()) return false;
    *ticks = __rdtsc();
    return true;
}

int64_t CoarseMonotonicNanoseconds() {
    return static_cast<int64_t>(::GetTickCount64()) * 1000000;
}

int64_t HighResolutionNanoseconds() {
    static const int64_t frequency = [] {
        LARGE_INTEGER value{};
        return ::QueryPerformanceFrequency(&value) && value.QuadPart > 0 ? value.QuadPart
                                                                         : int64_t{1};
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    // Whole seconds and the remainder apart, so that the product never overflows.
    const int64_t seconds = now.QuadPart / frequency;
    const int64_t rest = now.QuadPart % frequency;
    return seconds * 1000000000 + rest * 1000000000 / frequency;
}

}  // namespace vantrel::platform

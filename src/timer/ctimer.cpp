#include "timer/ctimer.h"

#include "log/wrapping_add.h"
#include "platform/clock.h"
#include "platform/test_seam.h"

namespace vantrel {

namespace {

int64_t WrappingSubtract(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

}  // namespace

CTimer::CTimer(SharedClockCalibration& clockToShare) : clock(clockToShare) {}

CTimer::~CTimer() = default;

void CTimer::AdoptCalibration() {
    const ClockCalibration calibration = clock.Get();
    useFallbackClock = calibration.useFallbackClock ? 1 : 0;
    ticksPerMicrosecond = calibration.ticksPerMicrosecond;
    scale = calibration.scale;
    calibrated = true;
}

// timeGetTime() * 1000 in 32-bit arithmetic, widened with a zero high half: it wraps every
// 2^32 microseconds (about 71.6 minutes).
int64_t CTimer::ReadFallbackClock() {
    return static_cast<int64_t>(static_cast<uint32_t>(platform::TimeGetTime() * 1000u));
}

int64_t CTimer::GetTime() {
    // Calibration comes first, so that it never falls inside a measurement.
    if (!calibrated) AdoptCalibration();
    if (auto reading = platform::testing::FakeTimerClock()) return reading();
    if (useFallbackClock) return ReadFallbackClock();
    uint64_t ticks = 0;
    if (!platform::ReadTimeStampCounter(&ticks)) {
        // The counter went away after calibration: stay on the fallback clock from now on.
        useFallbackClock = 1;
        ticksPerMicrosecond = 1;
        return ReadFallbackClock();
    }
    return static_cast<int64_t>(scale.ToMicroseconds(ticks));
}

int64_t CTimer::RecordBegin(int32_t countIt) {
    if (countIt != 0) {
        const uint32_t counted = static_cast<uint32_t>(count.load(std::memory_order_relaxed));
        count.store(static_cast<int32_t>(counted + 1u), std::memory_order_relaxed);
    }
    beginTime = GetTime();
    hasBegun = true;
    return beginTime;
}

int64_t CTimer::RecordEnd() {
    const int64_t endTime = GetTime();
    // Never begun: there is no begin time to measure from, so nothing is added.
    if (!hasBegun) return endTime;
    int64_t interval = WrappingSubtract(endTime, beginTime);
    // The fallback clock wraps every 2^32 microseconds; an interval across the wrap is still
    // right modulo 2^32 instead of coming out about 71.6 minutes negative.
    if (useFallbackClock) interval = static_cast<int64_t>(static_cast<uint32_t>(interval));
    elapsed = WrappingAdd(elapsed, interval);
    return endTime;
}

int64_t CTimer::GetElapsed() const {
    return elapsed;
}

int32_t CTimer::GetCount() const {
    return count.load(std::memory_order_relaxed);
}

void CTimer::Reset() {
    elapsed = 0;
    count.store(0, std::memory_order_relaxed);
}

}  // namespace vantrel

// Test seam of the timers: replaces the clock reading of every timer, so that tests can
// assert exact microseconds. While unset it costs one relaxed atomic load per reading.
#pragma once

#include <atomic>
#include <cstdint>

namespace vantrel {

using TimerClockReading = int64_t (*)();

// nullptr restores the real clock. Calibration still happens on the first reading.
void SetTimerClockForTesting(TimerClockReading clock);

namespace detail {
extern std::atomic<TimerClockReading> timerClockForTesting;
}  // namespace detail

inline TimerClockReading TimerClockForTesting() {
    return detail::timerClockForTesting.load(std::memory_order_relaxed);
}

}  // namespace vantrel

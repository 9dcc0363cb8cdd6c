#include "timer/timer_clock_seam.h"

namespace vantrel {

namespace detail {
std::atomic<TimerClockReading> timerClockForTesting{nullptr};
}  // namespace detail

void SetTimerClockForTesting(TimerClockReading clock) {
    detail::timerClockForTesting.store(clock, std::memory_order_relaxed);
}

}  // namespace vantrel

// The timers' clock rate: measured once for all timers of a table, on the first clock reading
// rather than at load, against the platform's high-resolution clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "timer/tick_scale.h"

namespace vantrel {

struct ClockCalibration {
    // Time-stamp counter unusable: the millisecond clock is read instead.
    bool useFallbackClock = true;
    // Whole ticks per microsecond (1 with the fallback clock, 0 for a counter slower than
    // one tick per microsecond); the exact rate is in `scale`.
    int64_t ticksPerMicrosecond = 1;
    TickScale scale;

    bool operator==(const ClockCalibration& other) const {
        return useFallbackClock == other.useFallbackClock &&
               ticksPerMicrosecond == other.ticksPerMicrosecond && scale == other.scale;
    }
};

// Shortest reference window of a calibration. The counter and the reference clock are read
// as close together as possible at both ends of the window; the window is then stretched
// until the uncertainty of those readings is below kCalibrationTolerance of it.
constexpr int64_t kCalibrationWindowNanoseconds = 2'000'000;
constexpr int64_t kLongestCalibrationWindowNanoseconds = 50'000'000;
constexpr double kCalibrationTolerance = 1e-5;

// Measures the time-stamp counter against the high-resolution clock (busy-waits for the
// window). Falls back to the millisecond clock when the counter cannot be read or does not
// advance.
ClockCalibration MeasureClockCalibration(int64_t windowNanoseconds = kCalibrationWindowNanoseconds);

// One calibration shared by several timers, measured on the first request, from any thread.
class SharedClockCalibration {
  public:
    SharedClockCalibration() = default;
    SharedClockCalibration(const SharedClockCalibration&) = delete;
    SharedClockCalibration& operator=(const SharedClockCalibration&) = delete;

    // The fallback calibration in the unlikely event that the lock cannot be taken.
    ClockCalibration Get() {
        if (measured.load(std::memory_order_acquire) || MeasureOnce()) return calibration;
        return ClockCalibration{};
    }

    bool IsMeasured() const { return measured.load(std::memory_order_acquire); }

  private:
    bool MeasureOnce() noexcept;

    std::mutex lock;
    std::atomic<bool> measured{false};
    ClockCalibration calibration;
};

}  // namespace vantrel

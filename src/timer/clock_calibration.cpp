#include "timer/clock_calibration.h"

#include "platform/clock.h"

namespace vantrel {

namespace {

// A counter reading paired with the reference clock, read between two counter readings.
struct ClockSample {
    uint64_t ticks = 0;        // midpoint of the two counter readings
    int64_t nanoseconds = 0;   // the reference clock
    uint64_t spreadTicks = 0;  // distance of the two counter readings: the uncertainty
};

// Tightest of a few attempts, so that an interrupt between the readings does not count.
bool TakeSample(ClockSample* best) {
    constexpr int kAttempts = 8;
    bool have = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        uint64_t before = 0, after = 0;
        if (!platform::ReadTimeStampCounter(&before)) return false;
        const int64_t nanoseconds = platform::HighResolutionNanoseconds();
        if (!platform::ReadTimeStampCounter(&after)) return false;
        if (after < before) continue;
        const uint64_t spread = after - before;
        if (!have || spread < best->spreadTicks) {
            best->ticks = before + spread / 2;
            best->nanoseconds = nanoseconds;
            best->spreadTicks = spread;
            have = true;
        }
    }
    return have;
}

ClockCalibration FallbackCalibration() {
    return ClockCalibration{};
}

}  // namespace

ClockCalibration MeasureClockCalibration(int64_t windowNanoseconds) {
    ClockSample start;
    if (!TakeSample(&start)) return FallbackCalibration();

    // Guards against a reference clock that does not advance: no realistic clock read takes
    // less than a few nanoseconds, so this many reads outlast the longest window.
    constexpr int64_t kMostReads = 100'000'000;
    int64_t reads = 0;
    ClockSample end;
    for (;;) {
        const int64_t waited = platform::HighResolutionNanoseconds() - start.nanoseconds;
        if (++reads > kMostReads) return FallbackCalibration();
        if (waited < windowNanoseconds) continue;
        if (!TakeSample(&end)) return FallbackCalibration();
        const int64_t window = end.nanoseconds - start.nanoseconds;
        if (end.ticks <= start.ticks || window <= 0) return FallbackCalibration();
        const double uncertainty = static_cast<double>(start.spreadTicks + end.spreadTicks) / 2.0 /
                                   static_cast<double>(end.ticks - start.ticks);
        if (uncertainty <= kCalibrationTolerance || window >= kLongestCalibrationWindowNanoseconds)
            break;
        // Readings too far apart for this window (a slow or trapped counter read): measure
        // over a longer one.
        windowNanoseconds = window * 2;
    }

    const TickScale scale =
        TickScale::FromMeasurement(end.ticks - start.ticks, end.nanoseconds - start.nanoseconds);
    if (!scale.IsValid()) return FallbackCalibration();
    ClockCalibration calibration;
    calibration.useFallbackClock = false;
    calibration.ticksPerMicrosecond = scale.WholeTicksPerMicrosecond();
    calibration.scale = scale;
    return calibration;
}

bool SharedClockCalibration::MeasureOnce() noexcept {
    try {
        std::lock_guard<std::mutex> guard(lock);
        if (!measured.load(std::memory_order_relaxed)) {
            calibration = MeasureClockCalibration();
            measured.store(true, std::memory_order_release);
        }
        return true;
    } catch (...) {
        return false;  // only taking the lock can throw
    }
}

}  // namespace vantrel

#include "timer/tick_scale.h"

#include <cmath>

namespace vantrel {

TickScale TickScale::FromMeasurement(uint64_t ticks, int64_t nanoseconds) {
    TickScale scale;
    if (ticks == 0 || nanoseconds <= 0) return scale;

    // microseconds per tick = mantissa * 2^exponent with mantissa in [0.5, 1); the multiplier
    // takes the mantissa to 63 bits. A double carries 53 of them, far finer than any
    // calibration can measure.
    const double microsecondsPerTick =
        static_cast<double>(nanoseconds) / (1000.0 * static_cast<double>(ticks));
    int exponent = 0;
    const double mantissa = std::frexp(microsecondsPerTick, &exponent);
    const int shift = 63 - exponent;
    if (shift < 0 || shift > 127) return scale;
    scale.multiplier = static_cast<uint64_t>(std::ldexp(mantissa, 63));
    scale.shift = static_cast<uint32_t>(shift);

    const uint64_t ns = static_cast<uint64_t>(nanoseconds);
    scale.wholeTicksPerMicrosecond = ticks <= UINT64_MAX / 1000
                                         ? static_cast<int64_t>(ticks * 1000 / ns)
                                         : static_cast<int64_t>(ticks / ns * 1000);
    return scale;
}

}  // namespace vantrel

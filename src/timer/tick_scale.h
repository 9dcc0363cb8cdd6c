// Conversion of time-stamp counter ticks to microseconds at a measured rate.
//
// The rate is kept as a fixed-point reciprocal (microseconds per tick times 2^shift, with 63
// significant bits), so a counter of 2994.7 ticks per microsecond is not rounded to 2994 (a
// 0.02% error), a counter slower than one tick per microsecond still converts, and the
// conversion costs a multiplication instead of a 64-bit division.
#pragma once

#include <cstdint>

namespace vantrel {

struct Wide128 {
    uint64_t high = 0;
    uint64_t low = 0;
};

// The full 128-bit product of a and b, from 32-bit halves (for compilers without a 128-bit
// integer type, such as 32-bit targets).
inline Wide128 MultiplyWidePortable(uint64_t a, uint64_t b) {
    const uint64_t aLow = a & 0xFFFFFFFFu, aHigh = a >> 32;
    const uint64_t bLow = b & 0xFFFFFFFFu, bHigh = b >> 32;
    const uint64_t lowLow = aLow * bLow;
    const uint64_t highLow = aHigh * bLow;
    const uint64_t lowHigh = aLow * bHigh;
    const uint64_t highHigh = aHigh * bHigh;
    const uint64_t middle = (lowLow >> 32) + (highLow & 0xFFFFFFFFu) + (lowHigh & 0xFFFFFFFFu);
    Wide128 product;
    product.low = (middle << 32) | (lowLow & 0xFFFFFFFFu);
    product.high = highHigh + (highLow >> 32) + (lowHigh >> 32) + (middle >> 32);
    return product;
}

inline Wide128 MultiplyWide(uint64_t a, uint64_t b) {
#if defined(__SIZEOF_INT128__)
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    Wide128 result;
    result.high = static_cast<uint64_t>(product >> 64);
    result.low = static_cast<uint64_t>(product);
    return result;
#else
    return MultiplyWidePortable(a, b);
#endif
}

class TickScale {
  public:
    // Converts nothing (IsValid is false).
    TickScale() = default;

    // The rate of a counter that advanced `ticks` while the reference clock advanced
    // `nanoseconds`. Invalid when either is not positive or the rate cannot be represented.
    static TickScale FromMeasurement(uint64_t ticks, int64_t nanoseconds);

    bool IsValid() const { return multiplier != 0; }

    // Whole ticks per microsecond, truncated (0 for a counter slower than that).
    int64_t WholeTicksPerMicrosecond() const { return wholeTicksPerMicrosecond; }

    // ticks / (ticks per microsecond), truncated.
    uint64_t ToMicroseconds(uint64_t ticks) const {
        const Wide128 product = MultiplyWide(ticks, multiplier);
        if (shift >= 64) return product.high >> (shift - 64);
        if (shift == 0) return product.low;
        return (product.high << (64 - shift)) | (product.low >> shift);
    }

    bool operator==(const TickScale& other) const {
        return multiplier == other.multiplier && shift == other.shift;
    }
    bool operator!=(const TickScale& other) const { return !(*this == other); }

  private:
    uint64_t multiplier = 0;  // microseconds per tick, scaled by 2^shift
    uint32_t shift = 0;       // 0..127
    int64_t wholeTicksPerMicrosecond = 0;
};

}  // namespace vantrel

// Counters that are unbounded in both directions: two's complement arithmetic, so that absurd
// values wrap instead of overflowing.
#pragma once

#include <type_traits>

namespace vantrel {

template <typename Signed>
Signed WrappingAdd(Signed value, Signed delta) {
    using Unsigned = std::make_unsigned_t<Signed>;
    return static_cast<Signed>(static_cast<Unsigned>(value) + static_cast<Unsigned>(delta));
}

}  // namespace vantrel

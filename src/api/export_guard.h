// What every export does around its work: no exception reaches the host, and no call reaches
// the library's state once the unload has begun.
#pragma once

#include "api/call_gate.h"

namespace vantrel {

// For calls that reach the manager and its services: they hold a pass through the gate, so
// the unload waits for them and later ones get `failure`.
template <typename Result, typename Call>
Result GuardedCall(Result failure, Call call) noexcept {
    GatePass pass(LibraryGate());
    if (!pass.entered()) return failure;
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

// For the timers, whose table is never freed: a look at the gate costs nothing beside the
// timer's own clock reading, while a pass would double the price of a begin/end pair.
template <typename Result, typename Call>
Result GuardedTimerCall(Result failure, Call call) noexcept {
    if (LibraryGate().IsClosed()) return failure;
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

}  // namespace vantrel

// Test seam of the platform layer: tests arm faults here to make a chosen operation fail,
// and may replace the clocks. Backends ask ShouldFail at the start of each operation. Costs
// one relaxed atomic load while nothing is armed.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace vantrel::platform::testing {

enum class Fault {
    FileOpen,
    // A failed write leaves what a full disk would: a plain write its first half, a positioned
    // write the bytes that fall inside the file's length.
    FileWrite,
    FileRead,
    FileSeek,
    FileLength,
    FileClose,
    FileDelete,
    CreateDirectory,
    RegistryOpen,
    RegistryCreate,
    RegistryQuery,
    RegistrySet,
    MutexOpen,
    MutexCreate,
    AtomAdd,
    DuplicateHandle,
    ModuleFileName,
    ProcessTimes,
    TimeStampCounter,  // the processor counter reads as unusable
    Count
};

// Lets `skip` calls of the operation pass, then fails the next `count` (count < 0: all).
void FailAfter(Fault fault, int skip, int count = 1);
void ClearFaults();

namespace detail {
extern std::atomic<bool> anyArmed;
bool ShouldFailSlow(Fault fault);
}  // namespace detail

inline bool ShouldFail(Fault fault) {
    return detail::anyArmed.load(std::memory_order_relaxed) && detail::ShouldFailSlow(fault);
}

// Replaces the answer of GetLocalTime and GetCoarseLocalTime while set (nullptr restores the
// real clocks).
void SetFakeLocalTime(const SystemTime* time);
namespace detail {
bool FakeLocalTimeSlow(SystemTime* time);
}  // namespace detail
inline bool FakeLocalTime(SystemTime* time) {
    return detail::anyArmed.load(std::memory_order_relaxed) && detail::FakeLocalTimeSlow(time);
}

// Replaces the timers' clock reading, in microseconds, while set (nullptr restores the real
// clocks; calibration still happens on the first reading). ClearFaults also restores them.
using TimerClockReading = int64_t (*)();
void SetFakeTimerClock(TimerClockReading reading);

namespace detail {
extern std::atomic<TimerClockReading> fakeTimerClock;
}  // namespace detail

inline TimerClockReading FakeTimerClock() {
    return detail::fakeTimerClock.load(std::memory_order_relaxed);
}

}  // namespace vantrel::platform::testing

#include "platform/test_seam.h"

#include <mutex>

namespace vantrel::platform::testing {

namespace {
struct FaultPlan {
    int skip = 0;
    int count = 0;  // < 0: without end
    bool armed = false;
};

std::mutex planLock;
FaultPlan plans[static_cast<int>(Fault::Count)];
bool haveFakeTime = false;
SystemTime fakeTime;
}  // namespace

namespace detail {
std::atomic<bool> anyArmed{false};
std::atomic<TimerClockReading> fakeTimerClock{nullptr};

bool ShouldFailSlow(Fault fault) {
    std::lock_guard<std::mutex> guard(planLock);
    FaultPlan& plan = plans[static_cast<int>(fault)];
    if (!plan.armed) return false;
    if (plan.skip > 0) {
        --plan.skip;
        return false;
    }
    if (plan.count == 0) {
        plan.armed = false;
        return false;
    }
    if (plan.count > 0 && --plan.count == 0) plan.armed = false;
    return true;
}
}  // namespace detail

void FailAfter(Fault fault, int skip, int count) {
    std::lock_guard<std::mutex> guard(planLock);
    plans[static_cast<int>(fault)] = FaultPlan{skip, count, count != 0};
    detail::anyArmed.store(true, std::memory_order_relaxed);
}

void ClearFaults() {
    std::lock_guard<std::mutex> guard(planLock);
    for (FaultPlan& plan : plans) plan = FaultPlan{};
    haveFakeTime = false;
    detail::fakeTimerClock.store(nullptr, std::memory_order_relaxed);
    detail::anyArmed.store(false, std::memory_order_relaxed);
}

void SetFakeTimerClock(TimerClockReading reading) {
    detail::fakeTimerClock.store(reading, std::memory_order_relaxed);
}

void SetFakeLocalTime(const SystemTime* time) {
    std::lock_guard<std::mutex> guard(planLock);
    haveFakeTime = time != nullptr;
    if (time) fakeTime = *time;
    detail::anyArmed.store(true, std::memory_order_relaxed);
}

bool detail::FakeLocalTimeSlow(SystemTime* time) {
    std::lock_guard<std::mutex> guard(planLock);
    if (!haveFakeTime) return false;
    *time = fakeTime;
    return true;
}

}  // namespace vantrel::platform::testing

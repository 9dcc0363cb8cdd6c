#include "timer/timer_table.h"

namespace vantrel {

CTimerTable::CTimerTable() noexcept {
    const CRenderTimer* master = nullptr;
    for (int32_t index = 0; index < kRenderTimerCount; ++index) {
        const RenderTimerRole role = index == 0 ? RenderTimerRole::Master : RenderTimerRole::Gated;
        CRenderTimer& timer = renderTimers[index].emplace(calibration, role, master);
        if (index == 0) master = &timer;
        timers[index] = &timer;
    }
    for (int32_t index = kRenderTimerCount; index < kTimerCount; ++index) {
        timers[index] = &plainTimers[index - kRenderTimerCount].emplace(calibration);
    }
}

int64_t CTimerTable::GetElapsed(int32_t index) const {
    const CTimer* timer = Timer(index);
    return timer ? timer->GetElapsed() : 0;
}

int32_t CTimerTable::GetCount(int32_t index) const {
    const CTimer* timer = Timer(index);
    return timer ? timer->GetCount() : 0;
}

int64_t CTimerTable::GetAverageElapsed(int32_t index) const {
    const CTimer* timer = Timer(index);
    if (!timer) return 0;
    const int32_t count = timer->GetCount();
    if (count == 0) return 0;
    const int64_t elapsed = timer->GetElapsed();
    // The one quotient that does not fit (and traps on x86): INT64_MIN / -1 wraps instead.
    if (count == -1) return static_cast<int64_t>(0u - static_cast<uint64_t>(elapsed));
    return elapsed / static_cast<int64_t>(count);
}

void CTimerTable::Reset(int32_t index) {
    if (CTimer* timer = Timer(index)) timer->Reset();
}

}  // namespace vantrel

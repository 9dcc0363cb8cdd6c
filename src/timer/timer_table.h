// CTimerTable: the 32 process-wide timers behind the dtimer exports. Slots 0..18 hold render
// timers gated by slot 0, slots 19..31 plain timers. All share one clock calibration, taken
// on the first clock reading of any of them, so building the table costs no calibration.
//
// The operations take an index as the exports do: an index outside 0..31 gives 0 (and Reset
// does nothing).
//
// The timers live inside the table, not on the heap: the library never destroys its table
// (a dtimer call may still run while the process exits), and a table that owns nothing but
// its own storage leaves nothing behind when the library is unloaded.
#pragma once

#include <cstdint>
#include <optional>

#include "timer/clock_calibration.h"
#include "timer/crender_timer.h"
#include "timer/ctimer.h"

namespace vantrel {

class CTimerTable {
  public:
    static constexpr int32_t kTimerCount = 32;
    static constexpr int32_t kRenderTimerCount = 19;  // indices 0..18

    // Builds the timers in index order.
    CTimerTable() noexcept;
    CTimerTable(const CTimerTable&) = delete;
    CTimerTable& operator=(const CTimerTable&) = delete;

    // The timer in slot `index`; nullptr outside 0..31.
    CTimer* Timer(int32_t index) const {
        if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kTimerCount)) return nullptr;
        return timers[index];
    }

    // The type of each slot is known, so the hot pair calls the timers without virtual
    // dispatch.
    int64_t RecordBegin(int32_t index, int32_t countIt) {
        CTimer* timer = Timer(index);
        if (!timer) return 0;
        if (index < kRenderTimerCount)
            return static_cast<CRenderTimer*>(timer)->RecordBegin(countIt);
        return timer->CTimer::RecordBegin(countIt);
    }

    int64_t RecordEnd(int32_t index) {
        CTimer* timer = Timer(index);
        if (!timer) return 0;
        if (index < kRenderTimerCount) return static_cast<CRenderTimer*>(timer)->RecordEnd();
        return timer->CTimer::RecordEnd();
    }

    int64_t GetElapsed(int32_t index) const;
    int32_t GetCount(int32_t index) const;
    // elapsed / count, truncated toward zero; 0 when count is 0.
    int64_t GetAverageElapsed(int32_t index) const;
    void Reset(int32_t index);

    SharedClockCalibration& Calibration() { return calibration; }

  private:
    SharedClockCalibration calibration;  // outlives the timers that refer to it
    std::optional<CRenderTimer> renderTimers[kRenderTimerCount];
    std::optional<CTimer> plainTimers[kTimerCount - kRenderTimerCount];
    CTimer* timers[kTimerCount] = {};  // into the two arrays above
};

}  // namespace vantrel

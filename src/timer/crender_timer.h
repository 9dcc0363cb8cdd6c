// CRenderTimer: timers 0..18. Timer 0 is the master and runs like any timer; the others
// only run while timer 0 has counted a begin since its last reset.
#pragma once

#include <cstdint>

#include "timer/ctimer.h"

namespace vantrel {

enum class RenderTimerRole { Master, Gated };

class CRenderTimer final : public CTimer {
  public:
    // A gated timer follows `master`'s count; a gated timer without a master never runs.
    CRenderTimer(SharedClockCalibration& clock, RenderTimerRole role,
                 const CRenderTimer* master = nullptr);

    int64_t RecordBegin(int32_t countIt) override;
    int64_t RecordEnd() override;

  private:
    bool GateOpen() const {
        return role == RenderTimerRole::Master || (master && master->GetCount() != 0);
    }

    RenderTimerRole role;
    const CRenderTimer* master;
};

}  // namespace vantrel

#include "timer/crender_timer.h"

namespace vantrel {

CRenderTimer::CRenderTimer(SharedClockCalibration& clock, RenderTimerRole timerRole,
                           const CRenderTimer* masterTimer)
    : CTimer(clock), role(timerRole), master(masterTimer) {}

int64_t CRenderTimer::RecordBegin(int32_t countIt) {
    if (!GateOpen()) return 0;
    return CTimer::RecordBegin(countIt);
}

int64_t CRenderTimer::RecordEnd() {
    if (!GateOpen()) return 0;
    return CTimer::RecordEnd();
}

}  // namespace vantrel

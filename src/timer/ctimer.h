// CTimer: a stopwatch in microseconds that accumulates measured time and counts begins.
#pragma once

#include <atomic>
#include <cstdint>

#include "timer/clock_calibration.h"
#include "timer/tick_scale.h"

namespace vantrel {

class CTimer {
  public:
    // The clock rate comes from `clock`, which is measured on the first reading of any timer
    // that shares it; constructing a timer costs nothing.
    explicit CTimer(SharedClockCalibration& clock);
    virtual ~CTimer();
    CTimer(const CTimer&) = delete;
    CTimer& operator=(const CTimer&) = delete;

    // Virtual operations, in their order.
    virtual int64_t GetTime();
    virtual int64_t RecordBegin(int32_t countIt);
    virtual int64_t RecordEnd();
    virtual int64_t GetElapsed() const;
    virtual int32_t GetCount() const;
    virtual void Reset();

    // Read-only views for tests.
    int64_t GetTicksPerMicrosecond() const { return ticksPerMicrosecond; }
    bool UsesFallbackClock() const { return useFallbackClock != 0; }
    bool IsCalibrated() const { return calibrated; }
    int64_t GetBeginTime() const { return beginTime; }
    ClockCalibration GetCalibration() const {
        return ClockCalibration{useFallbackClock != 0, ticksPerMicrosecond, scale};
    }

  protected:
    // Fields, in their order in the object.
    int64_t ticksPerMicrosecond = 0;
    int32_t useFallbackClock = 0;
    int64_t beginTime = 0;
    int64_t elapsed = 0;
    // Atomic only so that the render timers' gate may read timer 0's count from another
    // thread; relaxed loads and stores cost nothing more than plain ones.
    std::atomic<int32_t> count{0};

  private:
    void AdoptCalibration();
    static int64_t ReadFallbackClock();

    SharedClockCalibration& clock;
    TickScale scale;  // the exact rate behind ticksPerMicrosecond
    bool calibrated = false;
    bool hasBegun = false;  // beginTime holds a reading
};

}  // namespace vantrel

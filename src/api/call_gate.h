// The gate every export passes: it lets calls of many threads run at once, and lets the
// unload (and a fork) wait until none is in flight. On Linux the unload runs inside exit()
// while the host's other threads still call, so a call must never reach state the unload has
// freed; a call arriving at a closed gate fails at once.
//
// One word holds the count of calls in flight and two flags. It is trivially destructible
// and constant-initialised, so it stays usable after the library's static objects are gone.
#pragma once

#include <atomic>
#include <cstdint>

namespace vantrel {

class CallGate {
  public:
    constexpr CallGate() = default;

    // False when the gate is closed; the caller then fails without touching anything else.
    // While a fork is being prepared the call waits for it.
    bool Enter() noexcept;
    void Leave() noexcept { state_.fetch_sub(1, std::memory_order_release); }
    // A cheap look for calls that hold nothing the unload frees (the timers).
    bool IsClosed() const noexcept {
        return (state_.load(std::memory_order_relaxed) & kClosed) != 0;
    }

    // Refuses new calls and waits until the calls in flight have left.
    void CloseAndDrain() noexcept;
    void Open() noexcept { state_.store(0, std::memory_order_release); }

    // Around fork(): new calls wait, and the fork waits until none is in flight, so no
    // library lock is held when the process is copied.
    void PauseForFork() noexcept;
    void ResumeAfterFork() noexcept { state_.fetch_and(~kPaused, std::memory_order_release); }
    // In the child only the forking thread exists: no call is in flight there.
    void ResetInChild() noexcept {
        state_.store(state_.load(std::memory_order_relaxed) & kClosed, std::memory_order_release);
    }

  private:
    static constexpr uint32_t kClosed = 0x80000000u;
    static constexpr uint32_t kPaused = 0x40000000u;
    static constexpr uint32_t kCountMask = 0x3FFFFFFFu;

    void WaitUntilIdle() const noexcept;

    std::atomic<uint32_t> state_{0};
};

// The library's one gate.
CallGate& LibraryGate() noexcept;

// Holds a pass through the gate for one call.
class GatePass {
  public:
    explicit GatePass(CallGate& gate) noexcept : gate_(gate), entered_(gate.Enter()) {}
    ~GatePass() {
        if (entered_) gate_.Leave();
    }
    GatePass(const GatePass&) = delete;
    GatePass& operator=(const GatePass&) = delete;
    bool entered() const noexcept { return entered_; }

  private:
    CallGate& gate_;
    bool entered_;
};

}  // namespace vantrel

// The gate every export passes: it lets calls of many threads run at once, and lets the
// unload (and a fork) wait until none is in flight. On Linux the unload runs inside exit()
// while the host's other threads still call, so a call must never reach state the unload has
// freed; a call arriving at a closed gate fails at once.
//
// The calls in flight are counted in stripes, a cache line each, and a thread always uses the
// same one: threads logging at once would otherwise pass one counter's cache line back and
// forth on every call. The flags sit apart and are only read on the way in. Everything is
// trivially destructible and constant-initialised, so the gate stays usable after the
// library's static objects are gone.
#pragma once

#include <atomic>
#include <cstdint>

namespace vantrel {

class CallGate {
  public:
    constexpr CallGate() = default;

    using Counter = std::atomic<uint32_t>;

    // The calling thread's counter when the gate let the call in, else null (closed): the
    // caller then fails without touching anything else. While a fork is being prepared the
    // call waits for it.
    Counter* Enter() noexcept;
    static void Leave(Counter* counter) noexcept {
        counter->fetch_sub(1, std::memory_order_release);
    }
    // A cheap look for calls that hold nothing the unload frees (the timers).
    bool IsClosed() const noexcept {
        return (flags_.load(std::memory_order_relaxed) & kClosed) != 0;
    }

    // Refuses new calls and waits until the calls in flight have left.
    void CloseAndDrain() noexcept;
    void Open() noexcept { flags_.store(0, std::memory_order_release); }

    // Around fork(): new calls wait, and the fork waits until none is in flight, so no
    // library lock is held when the process is copied.
    void PauseForFork() noexcept;
    void ResumeAfterFork() noexcept { flags_.fetch_and(~kPaused, std::memory_order_release); }
    // In the child only the forking thread exists: no call is in flight there.
    void ResetInChild() noexcept;

  private:
    static constexpr uint32_t kClosed = 1;
    static constexpr uint32_t kPaused = 2;
    static constexpr int kStripes = 16;

    struct alignas(64) Stripe {
        Counter inFlight{0};
    };

    void WaitUntilIdle() const noexcept;

    alignas(64) std::atomic<uint32_t> flags_{0};
    Stripe stripes_[kStripes];
};

// The library's one gate.
CallGate& LibraryGate() noexcept;

// Holds a pass through the gate for one call.
class GatePass {
  public:
    explicit GatePass(CallGate& gate) noexcept : counter_(gate.Enter()) {}
    ~GatePass() {
        if (counter_) CallGate::Leave(counter_);
    }
    GatePass(const GatePass&) = delete;
    GatePass& operator=(const GatePass&) = delete;
    bool entered() const noexcept { return counter_ != nullptr; }

  private:
    CallGate::Counter* counter_;
};

}  // namespace vantrel

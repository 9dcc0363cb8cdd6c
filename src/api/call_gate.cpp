#include "api/call_gate.h"

#include <chrono>
#include <thread>

namespace vantrel {

namespace {

CallGate libraryGate;

// Calls last microseconds to milliseconds: spin briefly, then sleep in short steps.
void Backoff(int round) {
    if (round < 64) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace

CallGate& LibraryGate() noexcept {
    return libraryGate;
}

bool CallGate::Enter() noexcept {
    for (int round = 0;; ++round) {
        const uint32_t before = state_.fetch_add(1, std::memory_order_acquire);
        if ((before & (kClosed | kPaused)) == 0) return true;
        state_.fetch_sub(1, std::memory_order_relaxed);
        if (before & kClosed) return false;
        while ((state_.load(std::memory_order_acquire) & kPaused) &&
               !(state_.load(std::memory_order_relaxed) & kClosed)) {
            Backoff(round++);
        }
    }
}

void CallGate::WaitUntilIdle() const noexcept {
    for (int round = 0; state_.load(std::memory_order_acquire) & kCountMask; ++round) {
        Backoff(round);
    }
}

void CallGate::CloseAndDrain() noexcept {
    state_.fetch_or(kClosed, std::memory_order_acq_rel);
    WaitUntilIdle();
}

void CallGate::PauseForFork() noexcept {
    // Two threads may fork at once: the second waits until the first has resumed.
    for (int round = 0;; ++round) {
        uint32_t state = state_.load(std::memory_order_relaxed);
        if (!(state & kPaused) &&
            state_.compare_exchange_weak(state, state | kPaused, std::memory_order_acq_rel)) {
            break;
        }
        Backoff(round);
    }
    WaitUntilIdle();
}

}  // namespace vantrel

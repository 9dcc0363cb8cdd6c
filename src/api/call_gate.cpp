#include "api/call_gate.h"

#include <chrono>
#include <thread>

namespace vantrel {

namespace {

CallGate libraryGate;

// Stripes are dealt to threads in turn on their first call. A plain thread_local int: no
// destructor that would tie the library to the thread's exit.
std::atomic<uint32_t> nextStripe{0};
thread_local int threadStripe = -1;

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

CallGate::Counter* CallGate::Enter() noexcept {
    if (threadStripe < 0) {
        threadStripe = static_cast<int>(nextStripe.fetch_add(1, std::memory_order_relaxed) %
                                        static_cast<uint32_t>(kStripes));
    }
    Counter& counter = stripes_[threadStripe].inFlight;
    for (int round = 0;; ++round) {
        // Counted first, flags read second, both sequentially consistent: the unload sets
        // its flag first and reads the counters second, so either this call sees the flag or
        // the unload sees this call.
        counter.fetch_add(1, std::memory_order_seq_cst);
        const uint32_t flags = flags_.load(std::memory_order_seq_cst);
        if (flags == 0) return &counter;
        counter.fetch_sub(1, std::memory_order_relaxed);
        if (flags & kClosed) return nullptr;
        while ((flags_.load(std::memory_order_acquire) & (kPaused | kClosed)) == kPaused) {
            Backoff(round++);
        }
    }
}

void CallGate::WaitUntilIdle() const noexcept {
    for (int stripe = 0, round = 0; stripe < kStripes;) {
        if (stripes_[stripe].inFlight.load(std::memory_order_seq_cst) == 0) {
            ++stripe;
        } else {
            Backoff(round++);
        }
    }
}

void CallGate::CloseAndDrain() noexcept {
    flags_.fetch_or(kClosed, std::memory_order_seq_cst);
    WaitUntilIdle();
}

void CallGate::PauseForFork() noexcept {
    // Two threads may fork at once: the second waits until the first has resumed.
    for (int round = 0;; ++round) {
        uint32_t flags = flags_.load(std::memory_order_relaxed);
        if (!(flags & kPaused) &&
            flags_.compare_exchange_weak(flags, flags | kPaused, std::memory_order_seq_cst)) {
            break;
        }
        Backoff(round);
    }
    WaitUntilIdle();
}

void CallGate::ResetInChild() noexcept {
    for (Stripe& stripe : stripes_) stripe.inFlight.store(0, std::memory_order_relaxed);
    flags_.store(flags_.load(std::memory_order_relaxed) & kClosed, std::memory_order_release);
}

}  // namespace vantrel

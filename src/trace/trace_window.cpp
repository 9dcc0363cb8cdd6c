#include "trace/trace_window.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>

namespace vantrel::trace {

namespace {

enum WindowState { kNotYetOpen = 0, kOpen = 1, kClosed = 2 };

// Constant-initialised, so hooks that fire before the add-on's constructor see kNotYetOpen.
std::atomic<int> windowState{kNotYetOpen};
std::atomic<int> callsInFlight{0};

// A call still in flight after this long belongs to a thread that cannot move (stopped in a
// debugger, say); the unload goes on rather than hang the exit.
constexpr long kDrainLimitMs = 2000;

VANTREL_TRACE_NO_INSTRUMENT long MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// A child of fork() has only the forking thread, which is in no hook: calls that other
// threads had in flight do not exist there, and its exit must not wait for them.
VANTREL_TRACE_NO_INSTRUMENT void ForgetOtherThreadsCalls() {
    callsInFlight.store(0);
}

}  // namespace

void OpenTraceWindow() {
    int expected = kNotYetOpen;
    if (windowState.compare_exchange_strong(expected, kOpen)) {
        pthread_atfork(nullptr, nullptr, ForgetOtherThreadsCalls);
    }
}

void CloseTraceWindow() {
    windowState.store(kClosed);
    long start = MonotonicMs();
    while (callsInFlight.load() != 0 && MonotonicMs() - start < kDrainLimitMs) sched_yield();
}

TraceWindowPass::TraceWindowPass() noexcept {
    if (windowState.load(std::memory_order_acquire) != kOpen) return;
    callsInFlight.fetch_add(1);
    // Checked again after counting in: a close that came between the two is either seen
    // here or waits for this call to leave.
    if (windowState.load() != kOpen) {
        callsInFlight.fetch_sub(1);
        return;
    }
    open_ = true;
}

TraceWindowPass::~TraceWindowPass() {
    if (open_) callsInFlight.fetch_sub(1, std::memory_order_release);
}

}  // namespace vantrel::trace

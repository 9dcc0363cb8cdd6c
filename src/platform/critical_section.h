// A lock that its owning thread may enter again (a Windows critical section).
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace vantrel::platform {

// A plain mutex with the owner and the depth beside it: entering again is a comparison and a
// count, and the first entry costs a plain lock, where a recursive mutex does more in both.
class CriticalSection {
  public:
    void Enter() {
        const std::thread::id self = std::this_thread::get_id();
        if (owner_.load(std::memory_order_relaxed) == self) {
            ++depth_;
            return;
        }
        mutex_.lock();
        Own(self);
    }
    // Enters only when no other thread is inside; never waits.
    bool TryEnter() {
        const std::thread::id self = std::this_thread::get_id();
        if (owner_.load(std::memory_order_relaxed) == self) {
            ++depth_;
            return true;
        }
        if (!mutex_.try_lock()) return false;
        Own(self);
        return true;
    }
    void Leave() {
        if (--depth_ != 0) return;
        owner_.store(std::thread::id(), std::memory_order_relaxed);
        mutex_.unlock();
    }

  private:
    void Own(std::thread::id self) {
        // Only this thread ever finds its own id here, so a relaxed load elsewhere can only
        // see another thread's (or none) and go on to the mutex.
        owner_.store(self, std::memory_order_relaxed);
        depth_ = 1;
    }

    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;  // touched by the owner only
};

// Enters on construction, leaves on destruction.
class CriticalSectionGuard {
  public:
    explicit CriticalSectionGuard(CriticalSection& section) : section_(section) {
        section_.Enter();
    }
    ~CriticalSectionGuard() { section_.Leave(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

  private:
    CriticalSection& section_;
};

}  // namespace vantrel::platform

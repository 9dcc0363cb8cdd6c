// A lock that its owning thread may enter again (a Windows critical section).
#pragma once

#include <mutex>

namespace vantrel::platform {

class CriticalSection {
  public:
    void Enter() { mutex_.lock(); }
    // Enters only when no other thread is inside; never waits.
    bool TryEnter() { return mutex_.try_lock(); }
    void Leave() { mutex_.unlock(); }

  private:
    std::recursive_mutex mutex_;
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

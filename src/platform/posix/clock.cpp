// Clocks on POSIX: local time from CLOCK_REALTIME (or its coarse variant), the millisecond tick
// from CLOCK_MONOTONIC, the processor's time-stamp counter where the kernel lets the process read
// it, and CLOCK_MONOTONIC_RAW as the reference for calibrating that counter.
#include "platform/clock.h"

#include <errno.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/prctl.h>
#include <x86intrin.h>
#define VANTREL_HAVE_TIME_STAMP_COUNTER 1
#else
#define VANTREL_HAVE_TIME_STAMP_COUNTER 0
#endif

#include "platform/test_seam.h"

namespace vantrel::platform {

namespace {

#if VANTREL_HAVE_TIME_STAMP_COUNTER

enum CounterState : int { kUnknown, kUsable, kUnusable };
std::atomic<int> counterState{kUnknown};

// prctl(PR_SET_TSC, PR_TSC_SIGSEGV) makes RDTSC fault, so ask the kernel instead of trying
// it. The answer is taken once: tools that disable the counter do so before the program
// starts, and asking per read would cost a system call per timer reading.
bool CounterUsable() {
    int state = counterState.load(std::memory_order_relaxed);
    if (state == kUnknown) {
        int setting = 0;
        bool usable;
        if (prctl(PR_GET_TSC, &setting, 0, 0, 0) == 0) {
            usable = setting == PR_TSC_ENABLE;
        } else {
            // A kernel that does not know the option cannot have disabled the counter with
            // it; any other refusal leaves us unable to tell, so stay on the safe side.
            usable = errno == EINVAL;
        }
        state = usable ? kUsable : kUnusable;
        counterState.store(state, std::memory_order_relaxed);
    }
    return state == kUsable;
}

#else

bool CounterUsable() {
    return true;  // no counter to fault on: the vDSO clocks are safe
}

#endif

// The vDSO's clock_gettime reads the time-stamp counter itself, so with the counter disabled
// it faults just like RDTSC would; the system call reads the same clocks in the kernel.
void ReadClock(clockid_t clock, timespec* now) {
    if (CounterUsable()) {
        clock_gettime(clock, now);
    } else {
        syscall(SYS_clock_gettime, clock, now);
    }
}

// glibc's localtime_r loads the zone on first use only (localtime and tzset re-check it), and
// then costs a few tens of nanoseconds with no system call, so it is cheap enough per log
// entry and handles every DST change exactly. tzset once makes sure the zone is loaded even on
// C libraries whose localtime_r does not do it.
void LoadTimeZoneOnce() {
    static const bool loaded = [] {
        tzset();
        return true;
    }();
    (void)loaded;
}

// The local time of the realtime clock `clock` (precise or coarse).
SystemTime LocalTimeOf(clockid_t clock) {
    SystemTime result;
    if (testing::FakeLocalTime(&result)) return result;
    LoadTimeZoneOnce();
    timespec now{};
    ReadClock(clock, &now);
    // The zone conversion is the dearest part of a time-stamped entry; within one second its
    // answer cannot change (zone offsets change on whole seconds), so each thread keeps the
    // last one, as long as the zone that tzset last set is the same.
    struct LastConversion {
        time_t second = 0;
        const char* zoneNames[2] = {nullptr, nullptr};
        long zoneOffset = 0;
        int zoneHasDst = 0;
        SystemTime local;  // milliseconds aside
        bool valid = false;
    };
    // Both clocks share it: they show the same second but for a tick at its edge.
    static thread_local LastConversion last;
    if (!last.valid || last.second != now.tv_sec || last.zoneNames[0] != tzname[0] ||
        last.zoneNames[1] != tzname[1] || last.zoneOffset != timezone ||
        last.zoneHasDst != daylight) {
        tm local{};
        last.valid = localtime_r(&now.tv_sec, &local) != nullptr;
        last.second = now.tv_sec;
        last.zoneNames[0] = tzname[0];
        last.zoneNames[1] = tzname[1];
        last.zoneOffset = timezone;
        last.zoneHasDst = daylight;
        if (!last.valid) return result;
        last.local.year = local.tm_year + 1900;
        last.local.month = local.tm_mon + 1;
        last.local.dayOfWeek = local.tm_wday;
        last.local.day = local.tm_mday;
        last.local.hour = local.tm_hour;
        last.local.minute = local.tm_min;
        // A leap second shows as 60 in tm; SYSTEMTIME has no such second.
        last.local.second = local.tm_sec > 59 ? 59 : local.tm_sec;
    }
    result = last.local;
    result.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
    return result;
}

}  // namespace

SystemTime GetLocalTime() {
    return LocalTimeOf(CLOCK_REALTIME);
}

SystemTime GetCoarseLocalTime() {
    return LocalTimeOf(CLOCK_REALTIME_COARSE);
}

uint32_t TimeGetTime() {
    timespec now{};
    ReadClock(CLOCK_MONOTONIC, &now);
    // Unsigned arithmetic: the result wraps at 2^32 like timeGetTime.
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

#if VANTREL_HAVE_TIME_STAMP_COUNTER

bool ReadTimeStampCounter(uint64_t* ticks) {
    if (testing::ShouldFail(testing::Fault::TimeStampCounter)) return false;
    if (!CounterUsable()) return false;
    *ticks = __rdtsc();
    return true;
}

#else

bool ReadTimeStampCounter(uint64_t*) {
    return false;
}

#endif

int64_t CoarseMonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t HighResolutionNanoseconds() {
    timespec now{};
    ReadClock(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace vantrel::platform

// The dtimer exports of the loaded library, and a process whose time-stamp counter is
// disabled: each needs a process of its own, a copy of this test program (support/reexec.h).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "support/reexec.h"
#include "timer/timer_table.h"

// Sanitizer runtimes read the clock through the vDSO in their allocators, so they cannot run
// a process whose counter is disabled.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VANTREL_SANITIZER_RUNTIME 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define VANTREL_SANITIZER_RUNTIME 1
#endif
#endif

namespace vantrel {
namespace {

// The dtimer exports of the real library.
struct DtimerExports {
    void* library = nullptr;
    int64_t (*recordBegin)(int32_t, int32_t) = nullptr;
    int64_t (*recordEnd)(int32_t) = nullptr;
    int64_t (*getElapsed)(int32_t) = nullptr;
    int32_t (*getCount)(int32_t) = nullptr;
    int64_t (*getAverageElapsed)(int32_t) = nullptr;
    void (*reset)(int32_t) = nullptr;

    bool Load() {
        library = dlopen(VANTREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!library) return false;
        recordBegin = reinterpret_cast<decltype(recordBegin)>(dlsym(library, "dtimerRecordBegin"));
        recordEnd = reinterpret_cast<decltype(recordEnd)>(dlsym(library, "dtimerRecordEnd"));
        getElapsed = reinterpret_cast<decltype(getElapsed)>(dlsym(library, "dtimerGetElapsed"));
        getCount = reinterpret_cast<decltype(getCount)>(dlsym(library, "dtimerGetCount"));
        getAverageElapsed = reinterpret_cast<decltype(getAverageElapsed)>(
            dlsym(library, "dtimerGetAverageElapsed"));
        reset = reinterpret_cast<decltype(reset)>(dlsym(library, "dtimerReset"));
        return recordBegin && recordEnd && getElapsed && getCount && getAverageElapsed && reset;
    }

    void ExpectAllZero() const {
        for (int32_t index = -1; index <= CTimerTable::kTimerCount; ++index) {
            EXPECT_EQ(getElapsed(index), 0) << index;
            EXPECT_EQ(getCount(index), 0) << index;
            EXPECT_EQ(getAverageElapsed(index), 0) << index;
        }
    }
};

TEST(TimerInChildProcess, DISABLED_ExportsAfterLoad) {
    DtimerExports dtimer;
    ASSERT_TRUE(dtimer.Load()) << dlerror();
    dtimer.ExpectAllZero();

    // Gate shut: nothing happens on timer 5.
    EXPECT_EQ(dtimer.recordBegin(5, 1), 0);
    EXPECT_EQ(dtimer.recordEnd(5), 0);
    EXPECT_EQ(dtimer.getCount(5), 0);
    // Timer 0 counted: timer 5 measures.
    EXPECT_NE(dtimer.recordBegin(0, 1), 0);
    const int64_t begin = dtimer.recordBegin(5, 1);
    EXPECT_NE(begin, 0);
    EXPECT_GE(dtimer.recordEnd(5), begin);
    EXPECT_EQ(dtimer.getCount(5), 1);
    EXPECT_GE(dtimer.getElapsed(5), 0);
    dtimer.reset(0);
    EXPECT_EQ(dtimer.recordBegin(5, 1), 0);
    EXPECT_EQ(dtimer.getCount(5), 1);
    // Plain timers run regardless.
    EXPECT_NE(dtimer.recordBegin(25, 1), 0);
    EXPECT_NE(dtimer.recordEnd(25), 0);
    EXPECT_EQ(dtimer.getCount(25), 1);
    // Outside the table: nothing, and no crash.
    for (int32_t index : {-1, 32, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(dtimer.recordBegin(index, 1), 0);
        EXPECT_EQ(dtimer.recordEnd(index), 0);
        dtimer.reset(index);
    }

    // Unloading destroys the table; loading again builds a fresh one.
    ASSERT_EQ(dlclose(dtimer.library), 0);
    EXPECT_EQ(dlopen(VANTREL_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
    ASSERT_TRUE(dtimer.Load()) << dlerror();
    dtimer.ExpectAllZero();
    dlclose(dtimer.library);
}

TEST(TimerInChildProcess, DISABLED_CounterDisabledForTheProcess) {
    // RDTSC now raises SIGSEGV, and so does the vDSO's clock_gettime, which reads the counter
    // too: the timers and the platform clocks must notice without executing it.
#if defined(VANTREL_SANITIZER_RUNTIME)
    GTEST_SKIP() << "the sanitizer runtime itself faults without the counter";
#endif
    if (prctl(PR_SET_TSC, PR_TSC_SIGSEGV, 0, 0, 0) != 0) GTEST_SKIP() << "no PR_SET_TSC here";
    struct CounterBack {
        // The test framework reads the clock after the test.
        ~CounterBack() { prctl(PR_SET_TSC, PR_TSC_ENABLE, 0, 0, 0); }
    } counterBack;
    uint64_t ticks = 0;
    EXPECT_FALSE(platform::ReadTimeStampCounter(&ticks));
    CTimerTable table;
    const int64_t begin = table.RecordBegin(19, 1);
    table.RecordEnd(19);
    EXPECT_TRUE(table.Timer(19)->UsesFallbackClock());
    EXPECT_EQ(table.Timer(19)->GetTicksPerMicrosecond(), 1);
    EXPECT_LE(begin, int64_t{UINT32_MAX});
    EXPECT_GT(platform::HighResolutionNanoseconds(), 0);
    EXPECT_NE(platform::GetLocalTime().year, 0);
}

TEST(TimerProcessTest, ExportsStartAtZeroAndTheTableGoesAtUnload) {
    test::ExpectPassesInChild("TimerInChildProcess.DISABLED_ExportsAfterLoad");
}

TEST(TimerProcessTest, CounterDisabledWithPrctlFallsBackWithoutFaulting) {
    test::ExpectPassesInChild("TimerInChildProcess.DISABLED_CounterDisabledForTheProcess");
}

}  // namespace
}  // namespace vantrel

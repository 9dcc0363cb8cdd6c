// The shared library's exports: exactly the listed functions (the list the check of the
// Windows DLL reads); in a copy of this program (support/reexec.h), the dtimer exports fresh
// after each load, and timers and clocks in a process whose time-stamp counter is disabled.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <climits>
#include <fstream>
#include <set>

#include "platform/clock.h"
#include "support/reexec.h"
#include "timer/timer_table.h"

namespace vantrel {
namespace {

TEST(TimerInChildProcess, DISABLED_FreshAfterEachLoadAndWithoutTheCounter) {
    // Unloading destroys the table and loading again builds a fresh one (its steps: the
    // table's own case).
    for (int load = 0; load < 2; ++load) {
        void* library = dlopen(VANTREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, library) << dlerror();
        const auto begin =
            reinterpret_cast<int64_t (*)(int32_t, int32_t)>(dlsym(library, "dtimerRecordBegin"));
        const auto end = reinterpret_cast<int64_t (*)(int32_t)>(dlsym(library, "dtimerRecordEnd"));
        const auto count = reinterpret_cast<int32_t (*)(int32_t)>(dlsym(library, "dtimerGetCount"));
        const auto elapsed =
            reinterpret_cast<int64_t (*)(int32_t)>(dlsym(library, "dtimerGetElapsed"));
        const auto average =
            reinterpret_cast<int64_t (*)(int32_t)>(dlsym(library, "dtimerGetAverageElapsed"));
        for (int32_t index = -1; index <= CTimerTable::kTimerCount; ++index)
            EXPECT_EQ(0, elapsed(index) + count(index) + average(index)) << index;
        EXPECT_NE(0, begin(0, 1));  // the gate
        const int64_t started = begin(5, 1);
        EXPECT_TRUE(started != 0 && end(5) >= started && count(5) == 1);
        EXPECT_EQ(0, begin(32, 1) + end(INT32_MIN));
        ASSERT_EQ(0, dlclose(library));
        EXPECT_EQ(nullptr, dlopen(VANTREL_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD));
    }
    // RDTSC now raises SIGSEGV, and so does the vDSO's clock_gettime: the timers and clocks
    // must notice without executing it. Sanitizer runtimes read that clock themselves.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return;
#endif
#endif
    if (prctl(PR_SET_TSC, PR_TSC_SIGSEGV, 0, 0, 0) != 0) GTEST_SKIP() << "no PR_SET_TSC here";
    struct CounterBack {  // the test framework reads the clock after the test
        ~CounterBack() { prctl(PR_SET_TSC, PR_TSC_ENABLE, 0, 0, 0); }
    } counterBack;
    uint64_t ticks = 0;
    EXPECT_FALSE(platform::ReadTimeStampCounter(&ticks));
    CTimerTable table;
    EXPECT_LE(table.RecordBegin(19, 1), int64_t{UINT32_MAX});
    table.RecordEnd(19);
    EXPECT_TRUE(table.Timer(19)->UsesFallbackClock());
    EXPECT_EQ(1, table.Timer(19)->GetTicksPerMicrosecond());
    EXPECT_GT(platform::HighResolutionNanoseconds(), 0);
    EXPECT_NE(0, platform::GetLocalTime().year);
#endif
}

TEST(LibraryExports, ExactlyTheListedFunctionsTimersFreshAfterEachLoadAndNoCounterNeeded) {
    FILE* pipe = popen(("nm -D --defined-only " VANTREL_LIBRARY_PATH), "r");
    ASSERT_NE(nullptr, pipe);
    std::set<std::string> exported, expected;
    char address[64], type[8], name[512];
    while (fscanf(pipe, "%63s %7s %511s", address, type, name) == 3)
        exported.insert(std::string(name).substr(0, std::string(name).find('@')));
    ASSERT_EQ(0, pclose(pipe));
    std::ifstream list(VANTREL_SOURCE_DIR "/tests/exports.txt");
    for (std::string line; std::getline(list, line);) expected.insert(line);
    EXPECT_EQ(25u, expected.size());
    EXPECT_EQ(expected, exported);
    test::ExpectPassesInChild(
        "TimerInChildProcess.DISABLED_FreshAfterEachLoadAndWithoutTheCounter");
}

}  // namespace
}  // namespace vantrel

// The shared library's exports: exactly the listed functions (the list the check of the
// Windows DLL reads); the dtimer exports after a load, and a process whose time-stamp counter
// is disabled, each in a process of its own, a copy of this test program (support/reexec.h).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "platform/clock.h"
#include "support/reexec.h"
#include "timer/timer_table.h"

namespace vantrel {
namespace {

struct Dtimer {
    void* library = dlopen(VANTREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    template <typename Function>
    Function* Get(const char* name) {
        return reinterpret_cast<Function*>(library ? dlsym(library, name) : nullptr);
    }
    int64_t (*begin)(int32_t, int32_t) = Get<int64_t(int32_t, int32_t)>("dtimerRecordBegin");
    int64_t (*end)(int32_t) = Get<int64_t(int32_t)>("dtimerRecordEnd");
    int64_t (*elapsed)(int32_t) = Get<int64_t(int32_t)>("dtimerGetElapsed");
    int32_t (*count)(int32_t) = Get<int32_t(int32_t)>("dtimerGetCount");
    int64_t (*average)(int32_t) = Get<int64_t(int32_t)>("dtimerGetAverageElapsed");

    void ExpectFresh() const {
        ASSERT_TRUE(begin && end && elapsed && count && average) << dlerror();
        for (int32_t index = -1; index <= CTimerTable::kTimerCount; ++index)
            EXPECT_EQ(0, elapsed(index) + count(index) + average(index)) << index;
    }
};

// The exports reach the table (its steps and gate are the table's own case); unloading
// destroys it and loading again builds a fresh one.
TEST(TimerInChildProcess, DISABLED_ExportsAfterLoad) {
    Dtimer dtimer;
    dtimer.ExpectFresh();
    EXPECT_NE(0, dtimer.begin(0, 1));
    const int64_t begin = dtimer.begin(5, 1);
    EXPECT_NE(0, begin);
    EXPECT_GE(dtimer.end(5), begin);
    EXPECT_EQ(1, dtimer.count(5));
    EXPECT_EQ(0, dtimer.begin(32, 1) + dtimer.end(INT32_MIN));
    ASSERT_EQ(0, dlclose(dtimer.library));
    EXPECT_EQ(nullptr, dlopen(VANTREL_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD));
    Dtimer again;
    again.ExpectFresh();
    dlclose(again.library);
}

TEST(TimerInChildProcess, DISABLED_CounterDisabledForTheProcess) {
    // RDTSC now raises SIGSEGV, and so does the vDSO's clock_gettime: the timers and clocks
    // must notice without executing it. Sanitizer runtimes read that clock themselves.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer runtime itself faults without the counter";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    GTEST_SKIP() << "the sanitizer runtime itself faults without the counter";
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
    test::ExpectPassesInChild("TimerInChildProcess.DISABLED_ExportsAfterLoad");
    test::ExpectPassesInChild("TimerInChildProcess.DISABLED_CounterDisabledForTheProcess");
}

}  // namespace
}  // namespace vantrel

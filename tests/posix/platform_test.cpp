// The POSIX platform layer: files and named mutexes; the library's exports (the list
// the DLL's check reads), fresh after each load and without the time-stamp counter.
#include <dlfcn.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <fstream>
#include <thread>

#include "platform/clock.h"
#include "platform/critical_section.h"
#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/posix/runtime_dir.h"
#include "platform/test_seam.h"
#include "posix/posix_fixture.h"
#include "support/reexec.h"
#include "timer/timer_table.h"

namespace vantrel::platform {
namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(PlatformFile, OpeningsAreExclusiveAndRefuseWhatIsNoRegularFile) {
    const std::string dir = MakeTempDir("file"), path = dir + "/held.log";
    WriteFile(path, "kept");
    WriteFile(dir + "/target.log", "precious");
    ASSERT_EQ(0, symlink((dir + "/target.log").c_str(), (dir + "/planted.log").c_str()) +
                     symlink((dir + "/nowhere.log").c_str(), (dir + "/dangling.log").c_str()));
    File holder;
    ASSERT_TRUE(holder.Open(path, FileOpenMode::ExistingRead));
    for (FileOpenMode mode : {FileOpenMode::CreateOrEmptyReadWrite, FileOpenMode::ExistingReadWrite,
                              FileOpenMode::ExistingWrite, FileOpenMode::ExistingRead}) {
        for (const std::string name :
             {"/held.log", "/planted.log", "/dangling.log", "", "/no.log"}) {
            File other;  // a missing file may be created
            const bool mayOpen = name == "/no.log" && mode == FileOpenMode::CreateOrEmptyReadWrite;
            EXPECT_FALSE(!mayOpen && (other.Open(dir + name, mode) || other.IsOpen())) << name;
        }
    }
    // Refused before anything was emptied or created, and in a forked child too.
    EXPECT_EQ("kept|precious|00", ReadFile(path) + "|" + ReadFile(dir + "/target.log") + "|" +
                                      char('0' + PathExists(dir + "/nowhere.log")) +
                                      char('0' + PathExists(dir + "/no.log")));
    EXPECT_EQ("", test::InChild([&path] {
                  return File().Open(path, FileOpenMode::CreateOrEmptyReadWrite) ? "opened" : "";
              }));
    // A failed close still gives the file up, and with it the lock; closed, it throws.
    testing::FailAfter(testing::Fault::FileClose, 0);
    EXPECT_THROW(holder.Close(), FileError);
    EXPECT_THROW(holder.Write("x", 1), FileError);
    EXPECT_TRUE(File().Open(path, FileOpenMode::CreateOrEmptyReadWrite));
    EXPECT_EQ("", ReadFile(path));
}

// The owner enters again at any depth; other threads stay out until its last Leave.
TEST(CriticalSection, OwnerReentersAndOthersGetInAfterItsLastLeave) {
    CriticalSection section;
    auto otherGetsIn = [&] {
        bool entered = false;
        std::thread([&] {
            entered = section.TryEnter();
            if (entered) section.Leave();
        }).join();
        return entered;
    };
    section.Enter();
    EXPECT_TRUE(section.TryEnter());
    section.Enter();
    for (int depth = 3; depth > 0; --depth) {
        EXPECT_FALSE(otherGetsIn()) << depth;
        section.Leave();
    }
    EXPECT_TRUE(otherGetsIn());

    section.Enter();
    std::atomic<bool> inside{false};
    std::thread waiter([&] {
        section.Enter();
        inside = true;
        section.Leave();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(inside);
    section.Leave();
    waiter.join();
    EXPECT_TRUE(inside);
}

// The runtime folder is ours, private and no link, links planted in it are never followed;
// else the per-user folder under /tmp takes its place.
TEST(NamedMutex, RuntimeFolderIsPrivateAndPlantedLinksAreNeverFollowed) {
    std::string runtime = getenv("XDG_RUNTIME_DIR"), ours = runtime + "/vantrel";
    const std::string fallback = "/tmp/vantrel-" + std::to_string(geteuid());
    ASSERT_EQ(ours, RuntimeDirectory());
    EXPECT_EQ(0700u, ModeOf(ours));
    bool existed = false;
    const std::string bait = MakeTempDir("bait") + "/precious";
    WriteFile(bait, "precious\n");
    chmod(bait.c_str(), 0644);
    for (const char* planted : {"/mutex-app.proc1", "/guard"}) {
        unlink((ours + planted).c_str());  // the guard file an earlier round made
        ASSERT_EQ(0, symlink(bait.c_str(), (ours + planted).c_str()));
        EXPECT_EQ(nullptr, CreateNamedMutex("app.proc1", &existed)) << planted;
        EXPECT_EQ(nullptr, OpenNamedMutex("app.proc1")) << planted;
        ASSERT_EQ(0, unlink((ours + planted).c_str()));
    }
    EXPECT_EQ("precious\n", ReadFile(bait));
    EXPECT_EQ(0644u, ModeOf(bait));
    CloseNamedMutex(CreateNamedMutex("app.proc1", &existed));
    EXPECT_EQ(0600u, ModeOf(ours + "/mutex-app.proc1"));
    const std::string elsewhere = MakeTempDir("elsewhere");
    // clang-format off
    const struct { const char* fault; std::function<void()> act; } rows[] = {
        {"another user's folder used", [&] { ASSERT_EQ(0, chown(ours.c_str(), 65534, 65534)); }},
        {"a folder open to others used", [&] { ASSERT_EQ(0, chmod(ours.c_str(), 0707)); }},
        {"a link to a private folder followed", [&] { std::filesystem::remove_all(ours); ASSERT_EQ(0, symlink(elsewhere.c_str(), ours.c_str())); }},
        {"a missing parent folder not given up", [&] { setenv("XDG_RUNTIME_DIR", (runtime + "/a/b").c_str(), 1); }},
        {"a file taken for the folder", [&] { WriteFile(runtime + "/file", ""); setenv("XDG_RUNTIME_DIR", (runtime + "/file").c_str(), 1); }},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        test::UseFreshEnvironment();
        runtime = getenv("XDG_RUNTIME_DIR");
        ours = runtime + "/vantrel";
        ASSERT_EQ(ours, RuntimeDirectory());
        row.act();
        EXPECT_EQ(fallback, RuntimeDirectory());
        MutexHandle handle = CreateNamedMutex("app.proc2", &existed);
        EXPECT_NE(nullptr, handle);
        CloseNamedMutex(handle);
        EXPECT_FALSE(PathExists(ours + "/mutex-app.proc2") ||
                     PathExists(elsewhere + "/mutex-app.proc2"));
    }
    EXPECT_EQ(0700u, ModeOf(fallback));
}

TEST(TimerInChildProcess, DISABLED_FreshAfterEachLoadAndWithoutTheCounter) {
    // Unloading destroys the table, loading again builds a fresh one.
    for (int load = 0; load < 2; ++load) {
        void* library = dlopen(VANTREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, library) << dlerror();
        using Get = int64_t (*)(int32_t);
        const auto begin =
            reinterpret_cast<int64_t (*)(int32_t, int32_t)>(dlsym(library, "dtimerRecordBegin"));
        const auto count = reinterpret_cast<int32_t (*)(int32_t)>(dlsym(library, "dtimerGetCount"));
        const Get end = reinterpret_cast<Get>(dlsym(library, "dtimerRecordEnd")),
                  elapsed = reinterpret_cast<Get>(dlsym(library, "dtimerGetElapsed")),
                  average = reinterpret_cast<Get>(dlsym(library, "dtimerGetAverageElapsed"));
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
#ifndef VANTREL_SANITIZED
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
}  // namespace vantrel::platform

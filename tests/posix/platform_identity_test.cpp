// The POSIX stand-ins for the atom table, named mutexes and thread handles.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/atom_table.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/test_seam.h"

namespace vantrel::platform {
namespace {

TEST(AtomTable, NamesCompareWithoutCaseAndCountReferences) {
    uint16_t atom = AddAtom("Trace.log");
    ASSERT_GE(atom, 0xC000);
    EXPECT_EQ(FindAtom("TRACE.LOG"), atom);
    EXPECT_EQ(AddAtom("trace.LOG"), atom);  // a second reference
    DeleteAtom(atom);
    EXPECT_EQ(FindAtom("trace.log"), atom);
    DeleteAtom(atom);
    EXPECT_EQ(FindAtom("trace.log"), 0);
    EXPECT_NE(AddAtom("other.log"), 0);
}

TEST(AtomTable, RefusesEmptyAndOverlongNames) {
    EXPECT_EQ(AddAtom(""), 0);
    EXPECT_EQ(AddAtom(nullptr), 0);
    EXPECT_NE(AddAtom(std::string(255, 'a').c_str()), 0);
    EXPECT_EQ(AddAtom(std::string(256, 'b').c_str()), 0);
    EXPECT_EQ(FindAtom(std::string(256, 'a').c_str()), 0);
}

TEST(AtomTable, FaultSeamFailsAdd) {
    testing::FailAfter(testing::Fault::AtomAdd, 0);
    EXPECT_EQ(AddAtom("seam.log"), 0);
    EXPECT_NE(AddAtom("seam.log"), 0);
}

TEST(NamedMutex, ExistsExactlyWhileHeld) {
    EXPECT_EQ(OpenNamedMutex("/opt/app/viewer/proc1"), nullptr);
    bool existed = true;
    MutexHandle first = CreateNamedMutex("/opt/app/viewer/proc1", &existed);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(existed);

    MutexHandle opened = OpenNamedMutex("/opt/app/viewer/proc1");
    ASSERT_NE(opened, nullptr);
    MutexHandle second = CreateNamedMutex("/opt/app/viewer/proc1", &existed);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(existed);

    CloseNamedMutex(first);
    CloseNamedMutex(opened);
    MutexHandle again = OpenNamedMutex("/opt/app/viewer/proc1");
    EXPECT_NE(again, nullptr) << "still held by one handle";
    CloseNamedMutex(again);
    CloseNamedMutex(second);
    EXPECT_EQ(OpenNamedMutex("/opt/app/viewer/proc1"), nullptr);
}

TEST(NamedMutex, NamesAreDistinctAndLongNamesWork) {
    bool existed = false;
    std::string longName = "/" + std::string(600, 'x') + "/proc1";
    MutexHandle a = CreateNamedMutex(longName, &existed);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(OpenNamedMutex("/" + std::string(600, 'x') + "/proc2"), nullptr);
    EXPECT_EQ(OpenNamedMutex("c:/Tools/viewer.exe/proc1"), nullptr);
    MutexHandle b = CreateNamedMutex("c:/tools/viewer.exe/proc1", &existed);
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(existed);
    CloseNamedMutex(a);
    CloseNamedMutex(b);
}

TEST(NamedMutex, VanishesWhenItsHolderIsKilled) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool existed = false;
        MutexHandle held = CreateNamedMutex("/killed/holder/proc1", &existed);
        char byte = held ? 1 : 0;
        if (write(ready[1], &byte, 1) != 1) _exit(2);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 1);
    MutexHandle seen = OpenNamedMutex("/killed/holder/proc1");
    EXPECT_NE(seen, nullptr);
    CloseNamedMutex(seen);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(OpenNamedMutex("/killed/holder/proc1"), nullptr);
    close(ready[0]);
    close(ready[1]);
}

TEST(NamedMutex, RuntimeFolderOwnedByOthersIsRefused) {
    // A runtime folder that others can write into could hold planted lock files.
    std::string runtime = getenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(mkdir((runtime + "/vantrel").c_str(), 0777), 0);
    chmod((runtime + "/vantrel").c_str(), 0777);
    bool existed = false;
    // The per-user folder under /tmp takes its place; nothing goes into the refused one.
    MutexHandle elsewhere = CreateNamedMutex("/some/app/proc1", &existed);
    EXPECT_NE(elsewhere, nullptr);
    EXPECT_EQ(rmdir((runtime + "/vantrel").c_str()), 0) << "a lock file in the refused folder";
    CloseNamedMutex(elsewhere);
    ASSERT_EQ(mkdir((runtime + "/vantrel").c_str(), 0700), 0);
    MutexHandle ok = CreateNamedMutex("/some/app/proc1", &existed);
    EXPECT_NE(ok, nullptr);
    CloseNamedMutex(ok);
}

TEST(ThreadHandle, ReportsTheEndOfItsThread) {
    ThreadHandle handle = nullptr;
    uint32_t workerId = 0;
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        ASSERT_TRUE(DuplicateThreadHandle(GetCurrentThread(), &handle));
        EXPECT_FALSE(IsThreadSignalled(handle));
    });
    worker.join();
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(IsThreadSignalled(handle));
    EXPECT_NE(workerId, GetCurrentThreadId());

    ThreadHandle copy = nullptr;
    ASSERT_TRUE(DuplicateThreadHandle(handle, &copy));
    EXPECT_TRUE(IsThreadSignalled(copy));
    CloseThreadHandle(handle);
    CloseThreadHandle(copy);

    ThreadHandle self = nullptr;
    ASSERT_TRUE(DuplicateThreadHandle(GetCurrentThread(), &self));
    EXPECT_FALSE(IsThreadSignalled(self));
    CloseThreadHandle(self);
}

TEST(ThreadHandle, DuplicateFailsThroughTheSeam) {
    testing::FailAfter(testing::Fault::DuplicateHandle, 0);
    ThreadHandle handle = reinterpret_cast<ThreadHandle>(1);
    EXPECT_FALSE(DuplicateThreadHandle(GetCurrentThread(), &handle));
    EXPECT_EQ(handle, nullptr);
}

TEST(ProcessIdentity, CreationTimeIsStableWholeSeconds) {
    SystemTime first, second;
    ASSERT_TRUE(GetProcessCreationLocalTime(GetCurrentProcess(), &first));
    ASSERT_TRUE(GetProcessCreationLocalTime(GetCurrentProcess(), &second));
    EXPECT_EQ(first.milliseconds, 0);
    EXPECT_EQ(first.year, second.year);
    EXPECT_EQ(first.second, second.second);
    EXPECT_GE(first.year, 2020);
    EXPECT_TRUE(first.month >= 1 && first.month <= 12);
}

TEST(ProcessIdentity, ThreadIdFollowsAFork) {
    uint32_t parentId = GetCurrentThreadId();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        uint32_t id = GetCurrentThreadId();
        _exit(id == static_cast<uint32_t>(getpid()) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(parentId, GetCurrentThreadId());
    close(fds[0]);
    close(fds[1]);
}

TEST(ProcessIdentity, ModulePathIsThisExecutable) {
    std::string path;
    ASSERT_TRUE(GetModuleFileName(GetExeModuleHandle(), &path));
    EXPECT_NE(path.find("vantrel_tests"), std::string::npos);
    testing::FailAfter(testing::Fault::ModuleFileName, 0);
    EXPECT_FALSE(GetModuleFileName(GetExeModuleHandle(), &path));
}

}  // namespace
}  // namespace vantrel::platform

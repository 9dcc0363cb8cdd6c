// The Win32 backend's atoms, named mutexes, thread handles and process identity, against the
// system's own objects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/atom_table.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/test_seam.h"
#include "win32_api.h"

namespace vantrel::platform {
namespace {

TEST(Win32AtomTable, NamesCompareWithoutCaseCountReferencesAndRefuseBadNames) {
    uint16_t atom = AddAtom("Trace.log");
    ASSERT_GE(atom, 0xC000);
    EXPECT_EQ(FindAtom("TRACE.LOG"), atom);
    EXPECT_EQ(AddAtom("trace.LOG"), atom);
    DeleteAtom(atom);
    EXPECT_EQ(FindAtom("trace.log"), atom) << "one reference is left";
    DeleteAtom(atom);
    EXPECT_EQ(FindAtom("trace.log"), 0);

    EXPECT_EQ(AddAtom(""), 0);
    EXPECT_EQ(AddAtom(nullptr), 0);
    EXPECT_EQ(FindAtom(nullptr), 0);
    EXPECT_EQ(AddAtom(std::string(256, 'b').c_str()), 0);
    uint16_t longest = AddAtom(std::string(255, 'a').c_str());
    EXPECT_NE(longest, 0);
    DeleteAtom(longest);

    testing::FailAfter(testing::Fault::AtomAdd, 0);
    EXPECT_EQ(AddAtom("seam.log"), 0);
    uint16_t seam = AddAtom("seam.log");
    EXPECT_NE(seam, 0);
    DeleteAtom(seam);
}

TEST(Win32NamedMutex, ExistsExactlyWhileAHandleIsOpen) {
    const std::string name = "c:/apps/viewer.exe/proc1";
    EXPECT_EQ(OpenNamedMutex(name), nullptr);
    bool existed = true;
    MutexHandle first = CreateNamedMutex(name, &existed);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(existed);
    MutexHandle second = CreateNamedMutex(name, &existed);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(existed);
    MutexHandle opened = OpenNamedMutex(name);
    EXPECT_NE(opened, nullptr);
    EXPECT_EQ(OpenNamedMutex(name + "0"), nullptr) << "names are distinct";

    CloseNamedMutex(first);
    CloseNamedMutex(second);
    MutexHandle stillThere = OpenNamedMutex(name);
    EXPECT_NE(stillThere, nullptr) << "still held by the opened handle";
    CloseNamedMutex(stillThere);
    CloseNamedMutex(opened);
    EXPECT_EQ(OpenNamedMutex(name), nullptr);

    testing::FailAfter(testing::Fault::MutexCreate, 0);
    EXPECT_EQ(CreateNamedMutex(name, &existed), nullptr);
    testing::FailAfter(testing::Fault::MutexOpen, 0);
    MutexHandle held = CreateNamedMutex(name, &existed);
    EXPECT_EQ(OpenNamedMutex(name), nullptr);
    CloseNamedMutex(held);
}

TEST(Win32ThreadHandle, ReportsTheEndOfItsThreadAndFailsThroughTheSeam) {
    ThreadHandle handle = nullptr;
    bool release = false;
    std::thread worker([&] {
        ASSERT_TRUE(DuplicateThreadHandle(GetCurrentThread(), &handle));
        while (!__atomic_load_n(&release, __ATOMIC_ACQUIRE)) ::Sleep(1);
    });
    while (!__atomic_load_n(&handle, __ATOMIC_ACQUIRE)) ::Sleep(1);
    EXPECT_FALSE(IsThreadSignalled(handle));
    __atomic_store_n(&release, true, __ATOMIC_RELEASE);
    worker.join();
    EXPECT_TRUE(IsThreadSignalled(handle));
    CloseThreadHandle(handle);

    testing::FailAfter(testing::Fault::DuplicateHandle, 0);
    ThreadHandle failed = reinterpret_cast<ThreadHandle>(1);
    EXPECT_FALSE(DuplicateThreadHandle(GetCurrentThread(), &failed));
    EXPECT_EQ(failed, nullptr);
}

TEST(Win32ProcessIdentity, ModulePathAndCreationTime) {
    std::string path;
    ASSERT_TRUE(GetModuleFileName(GetExeModuleHandle(), &path));
    char exe[MAX_PATH];
    ASSERT_NE(::GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    EXPECT_EQ(path, exe);
    EXPECT_NE(path.rfind('\\'), std::string::npos);
    EXPECT_EQ(path.substr(path.size() - 4), ".exe");

    SystemTime first, second;
    ASSERT_TRUE(GetProcessCreationLocalTime(GetCurrentProcess(), &first));
    ::Sleep(20);
    ASSERT_TRUE(GetProcessCreationLocalTime(GetCurrentProcess(), &second));
    EXPECT_EQ(first.milliseconds, 0);
    EXPECT_EQ(first.second, second.second);
    EXPECT_EQ(first.minute, second.minute);
    EXPECT_GE(first.year, 2020);

    testing::FailAfter(testing::Fault::ProcessTimes, 0);
    EXPECT_FALSE(GetProcessCreationLocalTime(GetCurrentProcess(), &first));
    testing::FailAfter(testing::Fault::ModuleFileName, 0);
    EXPECT_FALSE(GetModuleFileName(GetExeModuleHandle(), &path));
}

}  // namespace
}  // namespace vantrel::platform

// End to end on Windows: host processes load vantrel.dll with LoadLibraryA; the library sets
// up its defaults and claims an instance number among the running hosts of the same
// executable with a named mutex.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/test_environment.h"
#include "support/win32/host_process.h"
#include "support/win32/registry_values.h"
#include "win32_api.h"

namespace vantrel::test {
namespace {

std::string Identifier(const HostInstall& host, int number) {
    return QueryValue(host.KeyName() + "\\proc" + std::to_string(number), "Identifier").data;
}

// The instance number whose record names this process id, or 0.
int NumberOf(const HostInstall& host, uint32_t pid) {
    char prefix[32];
    snprintf(prefix, sizeof prefix, "0x%x, ", static_cast<unsigned>(pid));
    for (int n = 1; n <= 8; ++n) {
        if (Identifier(host, n).rfind(prefix, 0) == 0) return n;
    }
    return 0;
}

bool MutexExists(const HostInstall& host, int number) {
    const std::string name = host.KeyName() + "/proc" + std::to_string(number);
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (mutex) ::CloseHandle(mutex);
    return mutex != nullptr;
}

TEST(Win32HostLifecycle, FirstLoadCreatesDefaultsAndTheInstanceRecordAndNoOpsTouchNothing) {
    HostInstall host = InstallHost();
    const time_t before = time(nullptr);
    HostRun run = RunHost(host, {"noop"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, std::vector<std::string>{"9"});

    const std::pair<const char*, uint32_t> defaults[] = {
        {"NeedTimeStamp", 0},    {"ShowThreadId", 1},
        {"CacheSize(KB)", 256},  {"CreateNewLogFile", 1},
        {"WriteImmediately", 1}, {"IndentSize", 3},
        {"HtmlDoc", 0},          {"OutDev", 0}};
    for (const auto& [name, expected] : defaults) {
        RegistryValue value = QueryValue("default settings\\proc\\log", name);
        ASSERT_TRUE(value.found) << name;
        EXPECT_EQ(value.type, static_cast<uint32_t>(REG_DWORD)) << name;
        ASSERT_EQ(value.data.size(), 4u) << name;
        EXPECT_EQ(*reinterpret_cast<const uint32_t*>(value.data.data()), expected) << name;
    }

    // "0x<pid>, Y/M/D hh:mm:ss:000" in local time, stored without a terminating zero.
    RegistryValue identifier = QueryValue(host.KeyName() + "\\proc1", "Identifier");
    ASSERT_TRUE(identifier.found);
    EXPECT_EQ(identifier.type, static_cast<uint32_t>(REG_SZ));
    std::smatch when;
    char pid[16];
    snprintf(pid, sizeof pid, "%x", static_cast<unsigned>(run.pid));
    ASSERT_TRUE(std::regex_match(
        identifier.data, when,
        std::regex(std::string("0x") + pid +
                   ", (\\d{4})/(\\d{1,2})/(\\d{1,2}) (\\d{2}):(\\d{2}):(\\d{2}):000")))
        << identifier.data;
    tm fields{};
    fields.tm_year = std::stoi(when[1]) - 1900;
    fields.tm_mon = std::stoi(when[2]) - 1;
    fields.tm_mday = std::stoi(when[3]);
    fields.tm_hour = std::stoi(when[4]);
    fields.tm_min = std::stoi(when[5]);
    fields.tm_sec = std::stoi(when[6]);
    fields.tm_isdst = -1;
    const time_t created = mktime(&fields);
    EXPECT_GE(created, before - 2) << identifier.data;
    EXPECT_LE(created, time(nullptr) + 2) << identifier.data;

    EXPECT_FALSE(MutexExists(host, 1)) << "the host has ended";
    EXPECT_FALSE(KeyExists(host.KeyName() + "\\proc1\\vantrel.log"));
    EXPECT_FALSE(PathExists(host.folder + "\\vantrel"));
}

TEST(Win32HostLifecycle, ConcurrentHostsTakeDistinctNumbersAndFreedNumbersAreReused) {
    HostInstall host = InstallHost();
    auto first = std::make_unique<RunningHost>(host, std::vector<std::string>{"hold"});
    ASSERT_TRUE(first->WaitForLine("holding"));
    RunningHost second(host, {"hold"});
    ASSERT_TRUE(second.WaitForLine("holding"));
    EXPECT_EQ(NumberOf(host, first->pid()), 1);
    EXPECT_EQ(NumberOf(host, second.pid()), 2);
    EXPECT_TRUE(MutexExists(host, 1));
    EXPECT_TRUE(MutexExists(host, 2));

    EXPECT_EQ(first->Finish(), 0);
    first.reset();
    EXPECT_FALSE(MutexExists(host, 1));
    RunningHost third(host, {"hold"});
    ASSERT_TRUE(third.WaitForLine("holding"));
    EXPECT_EQ(NumberOf(host, third.pid()), 1) << "number 1 was freed and its record replaced";

    // A holder killed outright frees its number at once.
    second.Kill();
    EXPECT_FALSE(MutexExists(host, 2));
    RunningHost fourth(host, {"hold"});
    ASSERT_TRUE(fourth.WaitForLine("holding"));
    EXPECT_EQ(NumberOf(host, fourth.pid()), 2);
    EXPECT_EQ(third.Finish(), 0);
    EXPECT_EQ(fourth.Finish(), 0);
}

TEST(Win32HostLifecycle, HostsStartedTogetherClaimDistinctNumbers) {
    HostInstall host = InstallHost();
    std::vector<std::unique_ptr<RunningHost>> hosts;
    for (int i = 0; i < 4; ++i)
        hosts.push_back(std::make_unique<RunningHost>(host, std::vector<std::string>{"hold"}));
    for (auto& running : hosts) ASSERT_TRUE(running->WaitForLine("holding"));
    std::set<int> numbers;
    for (auto& running : hosts) numbers.insert(NumberOf(host, running->pid()));
    EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4}));
    for (auto& running : hosts) EXPECT_EQ(running->Finish(), 0);
}

// Windows paths ignore letter case: the same executable named in other capitals is the same
// executable, while another file is another one.
TEST(Win32HostLifecycle, PathsDifferingInCaseShareNumbersAndOtherExecutablesHaveTheirOwn) {
    HostInstall viewer = InstallHost("Viewer.exe");
    HostInstall shouted = viewer;
    shouted.exePath = viewer.folder + "\\VIEWER.EXE";
    HostInstall editor = InstallHost("Editor.exe");
    RunningHost a(viewer, {"hold"});
    ASSERT_TRUE(a.WaitForLine("holding"));
    RunningHost b(shouted, {"print|shouted\\n", "hold"});
    ASSERT_TRUE(b.WaitForLine("holding"));
    RunningHost c(editor, {"hold"});
    ASSERT_TRUE(c.WaitForLine("holding"));
    EXPECT_EQ(NumberOf(viewer, a.pid()), 1);
    EXPECT_EQ(NumberOf(viewer, b.pid()), 2);
    EXPECT_EQ(NumberOf(editor, c.pid()), 1);
    EXPECT_EQ(b.lines().front(), "1");
    EXPECT_EQ(ReadFile(shouted.InstanceFolder(2) + "\\vantrel.log").rfind("shouted\r\n", 0), 0u);
    EXPECT_EQ(a.Finish(), 0);
    EXPECT_EQ(b.Finish(), 0);
    EXPECT_EQ(c.Finish(), 0);
}

TEST(Win32HostLifecycle, FreeLibraryAndLoadLibraryAgainTakesTheSameNumberBack) {
    HostInstall host = InstallHost();
    HostRun run = RunHost(host, {"print|one\\n", "unload", "reload", "print|two\\n"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"1", "1"}));
    EXPECT_FALSE(PathExists(host.InstanceFolder(2)));
    const std::string text = ReadFile(host.InstanceFolder(1) + "\\vantrel.log");
    EXPECT_EQ(text.rfind("two\r\n", 0), 0u) << "a new load starts a new log: " << text;
    EXPECT_EQ(ReadFile(host.InstanceFolder(1) + "\\vantrel.log.bak").rfind("one\r\n", 0), 0u);
}

}  // namespace
}  // namespace vantrel::test

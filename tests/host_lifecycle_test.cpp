// End to end: real host processes load the library, which sets up its defaults, claims an
// instance number among the running hosts of the same executable, and logs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/process_identity.h"
#include "settings/settings_store.h"
#include "support/host_runner.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ReadIdentifier(const HostInstall& host, int number) {
    platform::RegKey key = nullptr;
    std::string path = makeInstanceKeyPath(Lower(host.exePath), number);
    if (platform::RegOpenKey(path, platform::kKeyRead, &key) != 0) return "";
    char buffer[256];
    uint32_t size = sizeof buffer;
    std::string text;
    if (platform::RegQueryValue(key, "Identifier", nullptr, buffer, &size) == 0)
        text.assign(buffer, size);
    platform::RegCloseKey(key);
    return text;
}

std::string PidPrefix(int pid) {
    char text[32];
    snprintf(text, sizeof text, "0x%x, ", pid);
    return text;
}

// The instance number whose record names this process id, or 0.
int NumberOf(const HostInstall& host, int pid) {
    for (int n = 1; n <= 16; ++n) {
        if (ReadIdentifier(host, n).rfind(PidPrefix(pid), 0) == 0) return n;
    }
    return 0;
}

std::string RegTool() {
    return VANTREL_REG_TOOL_PATH;
}

std::string Capture(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

TEST(HostLifecycle, FirstLoadCreatesDefaultsAndTheInstanceRecord) {
    HostInstall host = InstallHost("viewer");
    HostRun run = RunHost(host, {"noop"});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    ASSERT_EQ(run.lines, std::vector<std::string>{"9"});
    if (RegTool().empty()) GTEST_SKIP() << "settings editor not built";
    std::string defaults =
        Capture(RegTool() +
                " query \"HKCU\\Software\\Osmirel Systems\\Kelvra\\default settings\\proc\\log\"");
    for (const char* line :
         {"    NeedTimeStamp    REG_DWORD    0x0", "    ShowThreadId    REG_DWORD    0x1",
          "    CacheSize(KB)    REG_DWORD    0x100", "    CreateNewLogFile    REG_DWORD    0x1",
          "    WriteImmediately    REG_DWORD    0x1", "    IndentSize    REG_DWORD    0x3",
          "    HtmlDoc    REG_DWORD    0x0", "    OutDev    REG_DWORD    0x0"}) {
        EXPECT_NE(defaults.find(line), std::string::npos) << line << "\nin:\n" << defaults;
    }
    std::string instance =
        Capture(RegTool() + " query \"HKCU\\Software\\Osmirel Systems\\Kelvra\\" +
                Lower(host.exePath) + "\\proc1\"");
    EXPECT_NE(instance.find("    Identifier    REG_SZ    0x"), std::string::npos) << instance;
    // The no-op calls made no log folder.
    EXPECT_FALSE(PathExists(host.folder + "/vantrel/viewer/proc1/vantrel.log"));
}

TEST(HostLifecycle, ConcurrentHostsTakeDistinctNumbersAndFreedNumbersAreReused) {
    HostInstall host = InstallHost("viewer");
    auto first = std::make_unique<RunningHost>(host, std::vector<std::string>{"hold"});
    ASSERT_TRUE(first->WaitForLine("holding"));
    RunningHost second(host, {"hold"});
    ASSERT_TRUE(second.WaitForLine("holding"));
    EXPECT_EQ(NumberOf(host, first->pid()), 1);
    EXPECT_EQ(NumberOf(host, second.pid()), 2);

    EXPECT_EQ(first->Finish(), 0);
    first.reset();
    RunningHost third(host, {"hold"});
    ASSERT_TRUE(third.WaitForLine("holding"));
    EXPECT_EQ(NumberOf(host, third.pid()), 1) << "number 1 was freed and its record replaced";

    // A holder killed outright frees its number at once.
    second.Kill();
    RunningHost fourth(host, {"hold"});
    ASSERT_TRUE(fourth.WaitForLine("holding"));
    EXPECT_EQ(NumberOf(host, fourth.pid()), 2);
    third.Finish();
    fourth.Finish();
}

TEST(HostLifecycle, EightHostsStartedTogetherClaimEightNumbers) {
    HostInstall host = InstallHost("viewer");
    std::vector<std::unique_ptr<RunningHost>> hosts;
    for (int i = 0; i < 8; ++i)
        hosts.push_back(std::make_unique<RunningHost>(host, std::vector<std::string>{"hold"}));
    std::set<int> numbers;
    for (auto& running : hosts) {
        ASSERT_TRUE(running->WaitForLine("holding"));
    }
    for (auto& running : hosts) numbers.insert(NumberOf(host, running->pid()));
    EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    for (auto& running : hosts) EXPECT_EQ(running->Finish(), 0);
}

TEST(HostLifecycle, AnotherExecutableHasItsOwnNumbers) {
    HostInstall viewer = InstallHost("viewer");
    HostInstall editor = InstallHost("editor");
    RunningHost a(viewer, {"hold"});
    ASSERT_TRUE(a.WaitForLine("holding"));
    RunningHost b(editor, {"hold"});
    ASSERT_TRUE(b.WaitForLine("holding"));
    EXPECT_EQ(NumberOf(viewer, a.pid()), 1);
    EXPECT_EQ(NumberOf(editor, b.pid()), 1);
    a.Finish();
    b.Finish();
}

TEST(HostLifecycle, UnloadAndReloadTakesTheSameNumberBack) {
    HostInstall host = InstallHost("viewer");
    HostRun run = RunHost(host, {"print|one\\n", "unload", "reload", "print|two\\n"});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_FALSE(PathExists(host.InstanceFolder(2)));
}

// Runs the host as an unprivileged user (CI runs as root, whom file modes do not stop).
int RunHostAsNobody(const HostInstall& host, const std::vector<std::string>& commands,
                    std::string* output) {
    int out[2];
    if (pipe(out) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(90);
        setenv("VANTREL_LIBRARY", VANTREL_LIBRARY_PATH, 1);
        std::vector<char*> argv{const_cast<char*>(host.exePath.c_str())};
        for (const std::string& c : commands) argv.push_back(const_cast<char*>(c.c_str()));
        argv.push_back(nullptr);
        execv(host.exePath.c_str(), argv.data());
        _exit(91);
    }
    close(out[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) output->append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HostLifecycle, UnwritableStoreLoadsButLogsNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges";
    HostInstall host = InstallHost("viewer");
    // The host's folder is writable by the unprivileged user; the store (root's, 0700) is not.
    chmod(host.folder.c_str(), 0777);
    std::string output;
    int code = RunHostAsNobody(
        host, {"print|hello\\n", "printf|trace.log|x\\n", "begin|trace.log|f", "end|trace.log"},
        &output);
    if (code == 91) GTEST_SKIP() << "the unprivileged user cannot run the build's host";
    ASSERT_EQ(code, 0) << output;
    EXPECT_EQ(output, "0\n0\n0\n0\n");
    EXPECT_FALSE(PathExists(host.folder + "/vantrel"));
}

}  // namespace
}  // namespace vantrel::test

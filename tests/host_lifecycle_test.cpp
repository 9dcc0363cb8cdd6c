// End to end: real host processes load the library, which sets up its defaults, claims an
// instance number among the running hosts of the same executable, and logs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/process_identity.h"
#include "settings/settings_store.h"
#include "support/host_runner.h"
#include "support/host_session.h"
#include "support/log_text.h"
#include "support/settings_values.h"
#include "support/test_environment.h"
#include "support/unprivileged.h"

namespace vantrel::test {
namespace {

// The instance number whose record names this process id, or 0.
int NumberOf(const HostInstall& host, int pid) {
    char prefix[32];
    snprintf(prefix, sizeof prefix, "0x%x, ", pid);
    for (int n = 1; n <= 16; ++n) {
        const auto identifier = GetValue(makeInstanceKeyPath(Lower(host.exePath), n), "Identifier");
        if (identifier && identifier->rfind(prefix, 0) == 0) return n;
    }
    return 0;
}

TEST(HostLifecycle, FirstLoadCreatesDefaultsAndTheInstanceRecord) {
    HostInstall host = InstallHost("viewer");
    HostRun run = RunHost(host, {"noop"});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    ASSERT_EQ(run.lines, std::vector<std::string>{"9"});
    const std::string defaults = ComposeSettingsKeyPath(kDefaultsInstancePath, kDefaultsLogName);
    ExpectBuiltInDefaults(defaults);
    uint32_t type = 0;
    const auto identifier =
        GetValue(makeInstanceKeyPath(Lower(host.exePath), 1), "Identifier", &type);
    EXPECT_EQ(identifier.value_or("").rfind("0x", 0), 0u);
    EXPECT_EQ(type, platform::kRegSz);
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

TEST(HostLifecycle, UnwritableStoreLoadsButLogsNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges";
    HostInstall host = InstallSessionHost("viewer");
    // The host's folder is writable by the unprivileged user; the store (root's, 0700) is not.
    chmod(host.folder.c_str(), 0777);
    SessionOptions options;
    options.dropToId = kUnprivilegedId;
    HostSession session(host, options);
    ASSERT_EQ(session.Send("load"), "1");
    for (const char* call : {"printf|vantrel.log|hello\\n", "printf|trace.log|x\\n",
                             "begin|trace.log|f", "end|trace.log"})
        EXPECT_EQ(session.Send(call), "0") << call;
    EXPECT_EQ(session.Finish(), 0);
    EXPECT_FALSE(PathExists(host.folder + "/vantrel"));
}

}  // namespace
}  // namespace vantrel::test
